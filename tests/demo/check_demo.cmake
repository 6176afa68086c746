# Runs the demo drive with a model and settings, or the preview with its
# arguments, and checks what it says and what it leaves.
# Run as: cmake -DRUN=<wine-run> -DHOSTSIM=... -DMODULE=... -DFOLDER=... -DINI=... -DMODEL=...
#         -DEXIT=<expected exit code> [-DEXPECT=<regexes the output must match, |-separated>]
#         [-DERROR=<regex the one line on standard error must match>] -P check_demo.cmake
#     or: cmake -DRUN=<wine-run> -DPROGRAM=<KerbmarkPreview.exe> -DARGS=<its arguments> -DFOLDER=<for the output>
#         [-DWORKING_DIRECTORY=...] -DEXIT=... [-DEXPECT=...] [-DERROR=...]
#         [-DMAKE=<what FOLDER holds before the run, |-separated: a file "name", a symbolic link "name->target">]
#         [-DLEAVES=<folder> -DFILES=<the files and folders it must hold afterwards, relative, sorted, |-separated>]
#         -P check_demo.cmake
file(REMOVE_RECURSE ${FOLDER})
string(REPLACE "|" ";" MAKE "${MAKE}")
foreach(made IN LISTS MAKE)
  if(made MATCHES "^(.+)->(.+)$")
    get_filename_component(parent ${FOLDER}/${CMAKE_MATCH_1} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_MATCH_2} ${FOLDER}/${CMAKE_MATCH_1} SYMBOLIC)
  else()
    file(WRITE ${FOLDER}/${made} "${made}")
  endif()
endforeach()
if(DEFINED PROGRAM)
  set(command ${RUN} ${PROGRAM} ${ARGS})
else()
  set(command ${RUN} ${HOSTSIM} ${MODULE} --demo ${FOLDER} --ini ${INI} --model ${MODEL} --preview)
endif()
if(NOT DEFINED WORKING_DIRECTORY)
  set(WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endif()
# Into files, not pipes: Wine's server and services, when this run starts
# them, keep the standard handles of the first program open for as long as
# the prefix stays busy. No input: the preview would wait for Enter on a console.
execute_process(COMMAND ${command} WORKING_DIRECTORY ${WORKING_DIRECTORY} INPUT_FILE /dev/null
                OUTPUT_FILE ${FOLDER}.out ERROR_FILE ${FOLDER}.err RESULT_VARIABLE rc)
file(READ ${FOLDER}.out out)
file(READ ${FOLDER}.err err)
message("${out}${err}")
if(NOT rc STREQUAL EXIT)
  message(FATAL_ERROR "the run ended with ${rc}, not ${EXIT}")
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
if(DEFINED LEAVES)
  # Folders too, empty ones included; links are listed, not followed.
  cmake_policy(SET CMP0009 NEW)
  file(GLOB_RECURSE left LIST_DIRECTORIES true RELATIVE ${LEAVES} ${LEAVES}/*)
  list(SORT left)
  string(REPLACE "|" ";" FILES "${FILES}")
  if(NOT "${left}" STREQUAL "${FILES}")
    message(FATAL_ERROR "${LEAVES} holds '${left}', not '${FILES}'")
  endif()
endif()
