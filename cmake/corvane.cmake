# Shared build rules of the Corvane programs.

# Warnings are errors on every target of ours.
function(corvane_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
    return()
  endif()
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror -Wconversion -Wsign-conversion -Wshadow -Wold-style-cast)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 reports std::string concatenation as overlapping memcpy (GCC bug 105329): a false alarm.
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# Console programs with a wide entry point (wmain): mingw-w64 needs -municode; MSVC finds wmain itself.
function(corvane_wide_entry target)
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()

# True when this build produces Windows executables (the mingw-w64 preset).
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(CORVANE_WINDOWS TRUE)
else()
  set(CORVANE_WINDOWS FALSE)
endif()

# Registers a GoogleTest executable with CTest under a layer label (unit, win, process, interop).
# Under Wine the test list is read when the tests run, not when they are built.
# corvane_gtest(target label [LOCK resource] [FIXTURE name] [ENVIRONMENT NAME=value]): tests holding
# the same lock never run at the same time (for state the whole X session shares: the window list, the
# keyboard); FIXTURE names a CTest fixture the tests need set up first; ENVIRONMENT is added to the
# tests' environment.
function(corvane_gtest target label)
  cmake_parse_arguments(ARG "" "LOCK;FIXTURE;ENVIRONMENT" "" ${ARGN})
  target_link_libraries(${target} PRIVATE GTest::gtest_main)
  corvane_warnings(${target})
  if(CORVANE_WINDOWS)
    # The test sources are most of the Windows build; unoptimised they compile a third faster, and
    # the code they test still comes optimised from its libraries.
    target_compile_options(${target} PRIVATE -O0)
  endif()
  # GoogleTest's header is most of what a test file parses: precompiled. With GCC one precompiled
  # header serves every test executable (a mismatch only makes GCC parse the header itself); clang
  # refuses a header built with other definitions, so there each executable builds its own.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    if(NOT TARGET corvane_test_pch)
      add_library(corvane_test_pch STATIC ${PROJECT_SOURCE_DIR}/cmake/test_pch.cpp)
      target_link_libraries(corvane_test_pch PRIVATE GTest::gtest)
      corvane_warnings(corvane_test_pch)
      if(CORVANE_WINDOWS)
        target_compile_options(corvane_test_pch PRIVATE -O0)
      endif()
      target_precompile_headers(corvane_test_pch PRIVATE <gtest/gtest.h>)
    endif()
    target_precompile_headers(${target} REUSE_FROM corvane_test_pch)
  else()
    target_precompile_headers(${target} PRIVATE <gtest/gtest.h>)
  endif()
  set(properties LABELS ${label})
  if(ARG_LOCK)
    list(APPEND properties RESOURCE_LOCK ${ARG_LOCK})
  endif()
  if(ARG_FIXTURE)
    list(APPEND properties FIXTURES_REQUIRED ${ARG_FIXTURE})
  endif()
  if(ARG_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT ${ARG_ENVIRONMENT})
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    TEST_PREFIX "${label}."
    PROPERTIES ${properties})
endfunction()
