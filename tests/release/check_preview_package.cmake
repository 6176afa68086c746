# Fails unless the preview's zip holds exactly its four files, its module and
# settings are the very files of the player's zip, and unpacks it into FOLDER
# beside the player's own files (PLAYER_FILES), as a player would.
# Run as: cmake -DZIP=... -DPLAYER_ZIP=... -DFOLDER=... -DPLAYER_FILES=<file=name;...> -P check_preview_package.cmake
function(unpack zip folder)
  file(REMOVE_RECURSE ${folder})
  file(MAKE_DIRECTORY ${folder})
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${folder} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot unpack ${zip}")
  endif()
endfunction()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
list(SORT entries)
if(NOT rc EQUAL 0 OR NOT entries STREQUAL "Kerbmark.asi;Kerbmark.ini;KerbmarkPreview.exe;KerbmarkPreview.txt")
  message(FATAL_ERROR "${ZIP} holds '${entries}', not exactly Kerbmark.asi, Kerbmark.ini, KerbmarkPreview.exe"
                      " and KerbmarkPreview.txt")
endif()

unpack(${ZIP} ${FOLDER})
unpack(${PLAYER_ZIP} ${FOLDER}-player)
foreach(same Kerbmark.asi Kerbmark.ini)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${FOLDER}/${same} ${FOLDER}-player/${same}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the preview's ${same} is not the one of the player's zip ${PLAYER_ZIP}")
  endif()
endforeach()
file(REMOVE_RECURSE ${FOLDER}-player)

foreach(player_file IN LISTS PLAYER_FILES)
  string(REGEX REPLACE "=.*" "" from "${player_file}")
  string(REGEX REPLACE ".*=" "" name "${player_file}")
  configure_file(${from} "${FOLDER}/${name}" COPYONLY)
endforeach()
