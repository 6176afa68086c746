# Fails unless the release files come out byte for byte the same from a
# second build of the same sources at another path: the sources are copied
# into COPY (without build folders and git), configured with the release
# preset and the first build's release time, and only `dist` is built there.
# The copy's build folder is kept between runs, so a run rebuilds only what
# changed since; its objects are always its own, compiled at the other path.
# Also fails when a path of the build's folders is left in a released file. FILES are the first build's files, named as below the copy's
# build/release/package (the shipped module) or build/dist (the rest).
# Run as: cmake -DSOURCE=... -DBINARY=... -DCOPY=... -DEPOCH_FILE=... -DMODULE=...
#         -DFILES=<file>|<file>... -P CheckReproducible.cmake
cmake_policy(VERSION 3.25)
function(fail message)
  message(FATAL_ERROR "${message}")
endfunction()

string(TIMESTAMP started "%s")
file(STRINGS ${EPOCH_FILE} epoch LIMIT_COUNT 1)
file(COPY ${SOURCE}/ DESTINATION ${COPY} REGEX "/(build|\\.git)$" EXCLUDE)
execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch} ${CMAKE_COMMAND} --preset release
                WORKING_DIRECTORY ${COPY} OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("configuring the copy in ${COPY} failed:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build --preset release --target dist
                WORKING_DIRECTORY ${COPY} OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("building dist in the copy ${COPY} failed:\n${out}")
endif()
string(TIMESTAMP finished "%s")
math(EXPR seconds "${finished} - ${started}")

string(REPLACE "|" ";" files "${FILES}")
foreach(file IN LISTS files)
  get_filename_component(name ${file} NAME)
  if(file STREQUAL MODULE)
    set(again ${COPY}/build/release/package/${name})
  else()
    set(again ${COPY}/build/dist/${name})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${file} ${again} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    file(SHA256 ${file} first_hash)
    file(SHA256 ${again} second_hash)
    fail("${name} differs between the two builds:\n  ${first_hash}  ${file}\n  ${second_hash}  ${again}")
  endif()
  message(STATUS "same bytes: ${name}")
endforeach()

# The build's folders, as they would appear in a binary (the zip's module is
# the one checked here, as the package test makes sure).
foreach(file IN LISTS files)
  foreach(folder ${SOURCE} ${BINARY})
    string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" pattern "${folder}")
    file(STRINGS ${file} leaks REGEX "${pattern}" LIMIT_COUNT 1)
    if(leaks)
      fail("${file} holds the build's path ${folder}: ${leaks}")
    endif()
  endforeach()
endforeach()
message(STATUS "the second build of dist took ${seconds} s")
