# Shared build rules of the Corvane programs.

# Our compiler settings: C++20 (required, no extensions) and the Windows header macros our sources are
# written for, which also reach C and resource sources. They sit on each target of ours rather than on
# the whole tree, so that what is not ours (GoogleTest, a Flutter app's plug-ins and Flutter's C++
# wrapper) builds with its own settings; UNICODE and _UNICODE stay tree-wide, as in Flutter's build.
# corvane_warnings calls it; targets not held to our warnings (generated code, the C stand-ins) call
# it themselves. corvane_check_settings() fails the configuration if a target of ours lacks them.
set(CORVANE_WINDOWS_DEFINITIONS WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
function(corvane_settings target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE ${CORVANE_WINDOWS_DEFINITIONS})
  endif()
endfunction()

# Our settings, and warnings as errors: what every target of ours with our own sources calls.
function(corvane_warnings target)
  corvane_settings(${target})
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
  if(CORVANE_WINDOWS)
    # A test process that crashes under Wine ends through Wine's debugger with exit code 0, even
    # after a failed assertion: the debugger's report is the failure.
    list(APPEND properties FAIL_REGULAR_EXPRESSION "Unhandled exception: ")
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    TEST_PREFIX "${label}."
    PROPERTIES ${properties})
endfunction()

# Marks what is not ours, so that corvane_check_settings() passes it by: TARGETS made in our own
# directories (Flutter's wrapper in a build against a Flutter app) and DIRECTORIES added with
# add_subdirectory (GoogleTest, a Flutter app's plug-ins), with everything beneath them.
function(corvane_third_party)
  cmake_parse_arguments(ARG "" "" "TARGETS;DIRECTORIES" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY CORVANE_THIRD_PARTY_TARGETS ${ARG_TARGETS})
  foreach(directory IN LISTS ARG_DIRECTORIES)
    get_filename_component(directory ${directory} REALPATH)
    set_property(GLOBAL APPEND PROPERTY CORVANE_THIRD_PARTY_DIRECTORIES ${directory})
  endforeach()
endfunction()

# Fails the configuration when a target that compiles sources, in `directory` or below it (the
# top-level CMakeLists.txt calls it last, with its own), is not marked third-party and lacks our
# settings (corvane_settings): a target added without them is caught here, not built with others.
function(corvane_check_settings directory)
  get_property(third_party_targets GLOBAL PROPERTY CORVANE_THIRD_PARTY_TARGETS)
  get_property(third_party_directories GLOBAL PROPERTY CORVANE_THIRD_PARTY_DIRECTORIES)
  set(pending ${directory})
  set(missing "")
  while(pending)
    list(POP_FRONT pending current)
    get_filename_component(real ${current} REALPATH)
    if(real IN_LIST third_party_directories)
      continue()
    endif()
    get_property(subdirectories DIRECTORY ${current} PROPERTY SUBDIRECTORIES)
    list(APPEND pending ${subdirectories})
    get_property(targets DIRECTORY ${current} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$"
         OR target IN_LIST third_party_targets)
        continue()
      endif()
      get_target_property(standard ${target} CXX_STANDARD)
      get_target_property(required ${target} CXX_STANDARD_REQUIRED)
      get_target_property(extensions ${target} CXX_EXTENSIONS)
      set(lacks "")
      if(NOT standard STREQUAL "20" OR NOT required OR extensions MATCHES "NOTFOUND$" OR extensions)
        list(APPEND lacks "C++20")
      endif()
      if(WIN32)
        get_target_property(definitions ${target} COMPILE_DEFINITIONS)
        foreach(definition IN LISTS CORVANE_WINDOWS_DEFINITIONS)
          if(NOT definition IN_LIST definitions)
            list(APPEND lacks ${definition})
          endif()
        endforeach()
      endif()
      if(NOT lacks STREQUAL "")
        list(JOIN lacks ", " lacks)
        list(APPEND missing "  ${target} (${current}): ${lacks}")
      endif()
    endforeach()
  endwhile()
  if(NOT missing STREQUAL "")
    list(JOIN missing "\n" missing)
    message(FATAL_ERROR "Targets without our settings: call corvane_settings (or corvane_warnings) on them, "
                        "or corvane_third_party for what is not ours:\n${missing}")
  endif()
endfunction()
