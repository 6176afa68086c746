# The shipped module and the player's package (included by the top
# CMakeLists.txt in a release build, after the module target exists).
#
# package/Kerbmark.asi                     the built module, every symbol and all debug information stripped,
#                                          with a debug link naming the file below
# package/Kerbmark-<version>.asi.debug     its debug information alone (for scripts/symbolize)
# <dist>/Kerbmark-<version>.zip            Kerbmark.asi, Kerbmark.ini and Kerbmark.txt (CR LF)
# <dist>/Kerbmark-<version>.asi.debug      beside the zip, not in it
# <dist>/SHA256SUMS                        the SHA-256 of both
#
# Every one of them has the same bytes from any clean build of the same commit.

include(${CMAKE_CURRENT_LIST_DIR}/Packaging.cmake)

# The toolchain's objcopy, as CMake found it beside the compiler.
if(NOT CMAKE_OBJCOPY)
  message(FATAL_ERROR "no objcopy found beside the compiler ${CMAKE_CXX_COMPILER}")
endif()
set(KERBMARK_PACKAGE_DIR ${PROJECT_BINARY_DIR}/package)
set(KERBMARK_DEBUG_FILE_NAME Kerbmark-${PROJECT_VERSION}.asi.debug)
set(KERBMARK_SHIPPED_MODULE ${KERBMARK_PACKAGE_DIR}/Kerbmark.asi)
set(KERBMARK_DEBUG_FILE ${KERBMARK_PACKAGE_DIR}/${KERBMARK_DEBUG_FILE_NAME})
set(KERBMARK_ZIP ${KERBMARK_DIST_DIR}/Kerbmark-${PROJECT_VERSION}.zip)
set(KERBMARK_DIST_DEBUG_FILE ${KERBMARK_DIST_DIR}/${KERBMARK_DEBUG_FILE_NAME})

# objcopy stamps a PE file it writes with the clock unless SOURCE_DATE_EPOCH
# says otherwise: 0, as the linker left it. The debug link holds the debug
# file's name and checksum only.
set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
add_custom_command(
  OUTPUT ${KERBMARK_SHIPPED_MODULE} ${KERBMARK_DEBUG_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KERBMARK_PACKAGE_DIR}
  COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE:kerbmark_module> ${KERBMARK_DEBUG_FILE}
  COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${KERBMARK_DEBUG_FILE}
          $<TARGET_FILE:kerbmark_module> ${KERBMARK_SHIPPED_MODULE}
  DEPENDS kerbmark_module
  COMMENT "Splitting the debug information off the module")
add_custom_target(kerbmark_shipped_module ALL DEPENDS ${KERBMARK_SHIPPED_MODULE} ${KERBMARK_DEBUG_FILE})

set(KERBMARK_MODULE_UNDER_TEST ${KERBMARK_SHIPPED_MODULE})
set(KERBMARK_MODULE_TARGET kerbmark_shipped_module)

# A player opens the texts with Notepad: CR LF line ends.
configure_file(${PROJECT_SOURCE_DIR}/package/Kerbmark.txt ${KERBMARK_PACKAGE_DIR}/Kerbmark.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/Kerbmark.ini ${KERBMARK_PACKAGE_DIR}/Kerbmark.ini @ONLY NEWLINE_STYLE CRLF)

kerbmark_add_zip(kerbmark_zip ZIP ${KERBMARK_ZIP}
                 FILES ${KERBMARK_SHIPPED_MODULE} ${KERBMARK_PACKAGE_DIR}/Kerbmark.ini ${KERBMARK_PACKAGE_DIR}/Kerbmark.txt
                 DEPENDS kerbmark_shipped_module)

add_custom_command(
  OUTPUT ${KERBMARK_DIST_DEBUG_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KERBMARK_DIST_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${KERBMARK_DEBUG_FILE} ${KERBMARK_DIST_DEBUG_FILE}
  DEPENDS ${KERBMARK_DEBUG_FILE})
add_custom_target(kerbmark_dist_debug_file ALL DEPENDS ${KERBMARK_DIST_DEBUG_FILE})
kerbmark_add_checksummed(kerbmark_dist_debug_file ${KERBMARK_DIST_DEBUG_FILE})

add_custom_target(dist ALL)
add_dependencies(dist kerbmark_zip kerbmark_dist_debug_file kerbmark_checksums)

include(${CMAKE_CURRENT_LIST_DIR}/Preview.cmake)
