# Fails unless the player's package is what a player should get: the zip holds
# exactly Kerbmark.asi (the very file the scenarios ran), Kerbmark.ini (the
# project's settings) and Kerbmark.txt, both texts with CR LF line ends and the
# readme naming every key of the INI; the module carries no debug sections, at
# most MAX_BYTES bytes, and a debug link to the debug file that lies beside the
# zip, not in it, with the debug information; SHA256SUMS beside the zip holds
# the checksums of both, and the readme names the version and how to check it.
# Run as: cmake -DZIP=... -DMODULE=... -DDEBUG_FILE=... -DINI=... -DOBJDUMP=... -DMAX_BYTES=... -DWORK=...
#         -DVERSION=...
#         -P CheckPackage.cmake
function(fail message)
  message(FATAL_ERROR "${message}")
endfunction()

foreach(file ${ZIP} ${MODULE} ${DEBUG_FILE} ${INI})
  if(NOT EXISTS ${file})
    fail("${file} is missing")
  endif()
endforeach()

# The zip's entries, then its contents.
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("cannot list ${ZIP}")
endif()
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
list(SORT entries)
if(NOT entries STREQUAL "Kerbmark.asi;Kerbmark.ini;Kerbmark.txt")
  fail("the zip holds '${entries}', not exactly Kerbmark.asi, Kerbmark.ini and Kerbmark.txt")
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("cannot unpack ${ZIP}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/Kerbmark.asi ${MODULE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("the zip's Kerbmark.asi is not the tested module ${MODULE}")
endif()

# Bytes as hex pairs: file(READ) as text would drop the carriage returns.
foreach(text Kerbmark.ini Kerbmark.txt)
  file(READ ${WORK}/${text} bytes HEX)
  string(REGEX REPLACE "(..)" "\\1 " bytes "${bytes}")
  string(REPLACE "0d 0a " "" without_crlf "${bytes}")
  if(without_crlf MATCHES "(^| )0[ad] " OR NOT bytes MATCHES "0d 0a $")
    fail("${text} in the zip does not end every line with CR LF")
  endif()
endforeach()

file(READ ${WORK}/Kerbmark.ini packed_ini)
file(READ ${INI} source_ini)
if(NOT packed_ini STREQUAL source_ini)
  fail("the zip's Kerbmark.ini differs from ${INI}")
endif()

file(READ ${WORK}/Kerbmark.txt readme)
file(STRINGS ${INI} key_lines REGEX "^[A-Za-z]+=")
list(LENGTH key_lines key_count)
if(key_count LESS 30)
  fail("only ${key_count} keys found in ${INI}")
endif()
foreach(key_line IN LISTS key_lines)
  string(REGEX REPLACE "=.*" "" key "${key_line}")
  if(NOT readme MATCHES "\n  ${key} ")
    fail("Kerbmark.txt does not explain the key ${key}")
  endif()
endforeach()
foreach(needed "F7" "Kerbmark.log" "Uninstalling" "Reporting a bug" "Kerbmark ${VERSION}"
               "certutil -hashfile Kerbmark-${VERSION}.zip SHA256" "SHA256SUMS")
  string(FIND "${readme}" "${needed}" at)
  if(at EQUAL -1)
    fail("Kerbmark.txt does not mention ${needed}")
  endif()
endforeach()

# The module: its banner names the package's version; small, no debug
# sections, linked to its debug file by name.
file(STRINGS ${MODULE} banners REGEX "^Kerbmark [0-9]")
if(NOT banners MATCHES "^Kerbmark ${VERSION} ")
  fail("the module's banner '${banners}' does not name the version ${VERSION}")
endif()
file(SIZE ${MODULE} bytes)
if(bytes GREATER MAX_BYTES)
  fail("the module is ${bytes} bytes, more than ${MAX_BYTES}")
endif()
execute_process(COMMAND ${OBJDUMP} -h ${MODULE} OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT sections MATCHES "\\.text")
  fail("objdump cannot read the sections of ${MODULE}")
endif()
if(sections MATCHES "\\.debug_[a-z_]+")
  fail("the module still carries ${CMAKE_MATCH_0}")
endif()
execute_process(COMMAND ${OBJDUMP} -s -j .gnu_debuglink ${MODULE} OUTPUT_VARIABLE link RESULT_VARIABLE rc)
get_filename_component(debug_name ${DEBUG_FILE} NAME)
string(SUBSTRING "${debug_name}" 0 12 debug_name_start)  # objdump prints 16 bytes a row
string(REGEX MATCHALL "  [^\n]+\n" rows "${link}")
string(REGEX REPLACE "[^\n]*  ([^ \n]+)\n" "\\1" link_text "${rows}")
string(REPLACE ";" "" link_text "${link_text}")
string(FIND "${link_text}" "${debug_name_start}" at)
if(NOT rc EQUAL 0 OR at EQUAL -1)
  fail("the module has no debug link to ${debug_name}")
endif()

get_filename_component(zip_dir ${ZIP} DIRECTORY)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${zip_dir}/${debug_name} ${DEBUG_FILE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("${debug_name} beside the zip is not the module's debug file")
endif()
execute_process(COMMAND ${OBJDUMP} -h ${DEBUG_FILE} OUTPUT_VARIABLE debug_sections)
foreach(section .debug_info .debug_line)
  string(FIND "${debug_sections}" " ${section} " at)
  if(at EQUAL -1)
    fail("the debug file has no ${section}")
  endif()
endforeach()

# SHA256SUMS beside the zip, as coreutils' sha256sum reads it: every file in
# it right, the zip and the debug file among them.
get_filename_component(zip_name ${ZIP} NAME)
execute_process(COMMAND sha256sum -c SHA256SUMS WORKING_DIRECTORY ${zip_dir}
                OUTPUT_VARIABLE checked ERROR_VARIABLE checked RESULT_VARIABLE rc)
foreach(name ${zip_name} ${debug_name})
  string(FIND "${checked}" "${name}: OK\n" at)
  if(NOT rc EQUAL 0 OR at EQUAL -1)
    fail("sha256sum -c ${zip_dir}/SHA256SUMS says:\n${checked}")
  endif()
endforeach()
message(STATUS "${ZIP}: ${entries}; the module is ${bytes} bytes")
