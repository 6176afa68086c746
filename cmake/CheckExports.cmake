# Fails unless the module's export table lists what other modules and tools
# look for: every host binding, the engine pointer, the hooking entry points
# and the deformation mathematics.
# Run as: cmake -DOBJDUMP=... -DMODULE=... -P CheckExports.cmake
cmake_policy(SET CMP0057 NEW)  # IN_LIST in script mode
set(required
  RwEngineInstance
  _ZN4game7atomicsE _ZN4game12vehicleByRefE _ZN4game10vehicleRefE _ZN4game13playerVehicleE _ZN4game9playerPedE
  _ZN4game11setGeometryE _ZN4game15destroyGeometryE _ZN4game14createGeometryE _ZN4game16triangleVerticesE
  _ZN4game16triangleMaterialE _ZN4game14copyExtensionsE _ZN4game12geometrySkinE _ZN4game4lockE _ZN4game6unlockE
  _ZN4game9frameNameE _ZN4game8frameLTME _ZN4game11atomicFlagsE _ZN4game14getLightStatusE _ZN4game14setLightStatusE
  _ZN9collision9constructE _ZN9collision8destructE _ZN9collision8allocateE _ZN9collision6assignE
  _ZN9collision18removeCachedPlanesE _ZN9collision8originalE
  MH_Initialize MH_CreateHook MH_EnableHook MH_RemoveHook
  _ZN4dent14displaceImpactENS_3VecES0_S0_S0_ffffff _ZN4dent7Episode7observeENS_3VecES1_NS_8ResponseEjj
  _ZN9collision5State4initEPKNS_5ModelE _ZN9collision5StateD1Ev)
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${MODULE}")
endif()
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\r\n]+" entries "${dump}")
set(exported "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${entry}")
  list(APPEND exported "${name}")
endforeach()
foreach(name IN LISTS required)
  if(NOT name IN_LIST exported)
    message(FATAL_ERROR "module does not export ${name}")
  endif()
endforeach()
list(LENGTH required count)
message(STATUS "all ${count} required exports present")
