# Runs the demo drive with a model and settings and checks what it says.
# Run as: cmake -DRUN=<wine-run> -DHOSTSIM=... -DMODULE=... -DFOLDER=... -DINI=... -DMODEL=...
#         -DEXIT=<expected exit code> [-DEXPECT=<regexes the output must match, |-separated>]
#         [-DERROR=<regex the one line on standard error must match>] -P check_demo.cmake
file(REMOVE_RECURSE ${FOLDER})
# Into files, not pipes: Wine's server and services, when this run starts
# them, keep the standard handles of the first program open for as long as
# the prefix stays busy.
execute_process(COMMAND ${RUN} ${HOSTSIM} ${MODULE} --demo ${FOLDER} --ini ${INI} --model ${MODEL} --preview
                OUTPUT_FILE ${FOLDER}.out ERROR_FILE ${FOLDER}.err RESULT_VARIABLE rc)
file(READ ${FOLDER}.out out)
file(READ ${FOLDER}.err err)
message("${out}${err}")
if(NOT rc STREQUAL EXIT)
  message(FATAL_ERROR "the demo ended with ${rc}, not ${EXIT}")
endif()
string(REPLACE "|" ";" EXPECT "${EXPECT}")
foreach(expected IN LISTS EXPECT)
  if(NOT out MATCHES "${expected}")
    message(FATAL_ERROR "the output does not say: ${expected}")
  endif()
endforeach()
if(DEFINED ERROR)
  string(REGEX REPLACE "\r?\n$" "" err "${err}")
  if(NOT err MATCHES "^${ERROR}$" OR err MATCHES "\n")
    message(FATAL_ERROR "standard error is not one line matching ${ERROR}: '${err}'")
  endif()
endif()
