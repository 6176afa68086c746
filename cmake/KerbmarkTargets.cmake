# Targets shared by the subsystem folders.
#
# kerbmark_core  the platform-neutral mathematics; built natively and into the module.
# kerbmark_host  the Windows-only code that talks to the host; module and host tests only.

add_library(kerbmark_core STATIC)
target_include_directories(kerbmark_core PUBLIC ${PROJECT_SOURCE_DIR}/src)

if(KERBMARK_WINDOWS)
  add_library(kerbmark_host STATIC)
  target_link_libraries(kerbmark_host PUBLIC kerbmark_core)
endif()

# GoogleTest from Debian's source package, built with the same toolchain as the tests.
set(KERBMARK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
function(kerbmark_use_gtest)
  if(NOT TARGET gtest_main)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(${KERBMARK_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
endfunction()

# One test executable that runs in both builds (natively under the sanitizers,
# as a 32-bit Windows executable under Wine). Registered as one CTest test.
function(kerbmark_core_test name)
  kerbmark_use_gtest()
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE kerbmark_core gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

# A test executable that links the host-facing code (Windows build only, runs under Wine).
function(kerbmark_host_test name)
  if(NOT KERBMARK_WINDOWS)
    return()
  endif()
  kerbmark_use_gtest()
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE kerbmark_host gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()
