# Reproducible release files: zips with the same bytes from any clean build of
# the same commit, and SHA256SUMS beside them (included by Release.cmake).
#
# kerbmark_add_zip(<target> ZIP <zip> FILES <file>... [DEPENDS <target>...])
#     <target> packs the files into <zip> under their own names, in the order
#     given, all with the commit's time; the zip joins SHA256SUMS.
# kerbmark_add_checksummed(<target> <file>...)
#     lists the files (made by <target>) in SHA256SUMS.
#
# The commit's time: SOURCE_DATE_EPOCH when set, else the last commit's time
# when the sources are a git checkout, else a fixed time. Taken when CMake
# configures (`make dist` always does).

find_program(KERBMARK_ZIP_PROGRAM zip REQUIRED)
set(KERBMARK_DIST_DIR ${PROJECT_BINARY_DIR}/dist CACHE PATH "Where the package and the debug information go")
set(KERBMARK_CHECKSUMS ${KERBMARK_DIST_DIR}/SHA256SUMS)

function(kerbmark_source_date_epoch out)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(${out} $ENV{SOURCE_DATE_EPOCH} PARENT_SCOPE)
    return()
  endif()
  # Only this project's own checkout counts, not a repository it happens to lie in.
  execute_process(COMMAND git rev-parse --show-toplevel WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc ERROR_QUIET)
  if(rc EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${PROJECT_SOURCE_DIR}" source)
  endif()
  if(rc EQUAL 0 AND top STREQUAL source)
    execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE time OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc ERROR_QUIET)
    if(rc EQUAL 0 AND time MATCHES "^[0-9]+$")
      set(${out} ${time} PARENT_SCOPE)
      return()
    endif()
  endif()
  set(${out} 1767225600 PARENT_SCOPE)  # 2026-01-01 00:00:00 UTC
endfunction()

kerbmark_source_date_epoch(epoch)
if(NOT epoch MATCHES "^[0-9]+$" OR epoch LESS 315532800)
  message(FATAL_ERROR "release time ${epoch}: not a time a zip can hold (whole seconds from 1980 on)")
endif()
# Rewritten only when the time changes, so the zips are packed again only then.
set(KERBMARK_SOURCE_DATE_FILE ${PROJECT_BINARY_DIR}/package/source-date-epoch)
file(CONFIGURE OUTPUT ${KERBMARK_SOURCE_DATE_FILE} CONTENT "${epoch}\n")

# SHA256SUMS: its list of files is the property of the target that writes it,
# read when the build files are generated, so files listed later still count.
add_custom_target(kerbmark_checksums ALL DEPENDS ${KERBMARK_CHECKSUMS})
set(checksummed "$<TARGET_PROPERTY:kerbmark_checksums,KERBMARK_FILES>")
add_custom_command(
  OUTPUT ${KERBMARK_CHECKSUMS}
  COMMAND ${CMAKE_COMMAND} "-DFILES=$<JOIN:${checksummed},|>" -DOUTPUT=${KERBMARK_CHECKSUMS}
          -P ${CMAKE_CURRENT_LIST_DIR}/WriteChecksums.cmake
  DEPENDS ${checksummed} ${CMAKE_CURRENT_LIST_DIR}/WriteChecksums.cmake
  COMMENT "Writing ${KERBMARK_CHECKSUMS}"
  VERBATIM)

function(kerbmark_add_checksummed target)
  set_property(TARGET kerbmark_checksums APPEND PROPERTY KERBMARK_FILES ${ARGN})
  add_dependencies(kerbmark_checksums ${target})
endfunction()

function(kerbmark_add_zip target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ZIP" "FILES;DEPENDS")
  if(NOT arg_ZIP OR NOT arg_FILES)
    message(FATAL_ERROR "kerbmark_add_zip(${target}): needs ZIP and FILES")
  endif()
  string(REPLACE ";" "|" files "${arg_FILES}")
  add_custom_command(
    OUTPUT ${arg_ZIP}
    COMMAND ${CMAKE_COMMAND} -DZIP=${arg_ZIP} -DFILES=${files} -DSTAGE=${CMAKE_CURRENT_BINARY_DIR}/${target}
            -DEPOCH_FILE=${KERBMARK_SOURCE_DATE_FILE} -DZIP_PROGRAM=${KERBMARK_ZIP_PROGRAM}
            -P ${PROJECT_SOURCE_DIR}/cmake/PackZip.cmake
    DEPENDS ${arg_FILES} ${KERBMARK_SOURCE_DATE_FILE} ${PROJECT_SOURCE_DIR}/cmake/PackZip.cmake
    COMMENT "Packing ${arg_ZIP}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${arg_ZIP})
  if(arg_DEPENDS)
    add_dependencies(${target} ${arg_DEPENDS})
  endif()
  kerbmark_add_checksummed(${target} ${arg_ZIP})
endfunction()
