# Fails unless the release files come out byte for byte the same from a second
# build at another path: the sources copied into COPY (no build folders, no
# git), configured with the release preset and the first build's release time,
# only `dist` built. Its build folder stays between runs, so a run recompiles
# only what changed, always at the other path. SHA256SUMS, compared too, covers
# every file it lists. Also fails when a released file holds a path of the
# first build's folders.
# A file inside the first build folder is found at the same place in the
# copy's build folder; any other (the dist folder's) in the copy's build/dist.
# Run as: cmake -DSOURCE=... -DBINARY=... -DCOPY=... -DEPOCH_FILE=...
#         -DFILES=<file>|<file>... -P CheckReproducible.cmake
cmake_policy(VERSION 3.25)
function(run what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${COPY} OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} in ${COPY} failed:\n${out}")
  endif()
endfunction()

string(TIMESTAMP started "%s")
file(STRINGS ${EPOCH_FILE} epoch LIMIT_COUNT 1)
file(COPY ${SOURCE}/ DESTINATION ${COPY} REGEX "/(build|\\.git)$" EXCLUDE)
run("configuring the copy" ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch} ${CMAKE_COMMAND} --preset release)
run("building dist" ${CMAKE_COMMAND} --build --preset release --target dist)
string(TIMESTAMP finished "%s")
math(EXPR seconds "${finished} - ${started}")

string(REPLACE "|" ";" files "${FILES}")
foreach(file IN LISTS files)
  get_filename_component(name ${file} NAME)
  string(FIND "${file}" "${BINARY}/" at)
  if(at EQUAL 0)
    file(RELATIVE_PATH inside ${BINARY} ${file})
    set(again ${COPY}/build/release/${inside})
  else()
    set(again ${COPY}/build/dist/${name})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${file} ${again} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${name} differs between ${file} and ${again}")
  endif()
  foreach(folder ${SOURCE} ${BINARY})
    string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" pattern "${folder}")
    file(STRINGS ${file} leaks REGEX "${pattern}" LIMIT_COUNT 1)
    if(leaks)
      message(FATAL_ERROR "${file} holds the build's path ${folder}: ${leaks}")
    endif()
  endforeach()
  message(STATUS "same bytes, no build path: ${name}")
endforeach()
message(STATUS "the second build of dist took ${seconds} s")
