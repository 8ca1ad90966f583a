# The host built against a real Flutter app (CORVANE_FLUTTER_APP_DIR), as that app's generated Windows
# build builds its runner: the engine library, its import library, icudtl.dat and the C++ client
# wrapper from windows/flutter/ephemeral, the wrapper compiled into flutter_wrapper_plugin and
# flutter_wrapper_app, the twelve plug-ins built from their sources under ephemeral/.plugin_symlinks,
# and flutter_assets and app.so from the app's build output (`flutter build windows` makes all of it).
# Flutter's sources get Flutter's own settings, not ours: C++17, UNICODE and _UNICODE (the only
# definitions the top-level CMakeLists.txt puts on the whole tree), apply_standard_settings' warnings
# rather than our warnings-as-errors, and none of our other definitions (corvane_settings).

set(app ${CORVANE_FLUTTER_APP_DIR})
set(ephemeral ${app}/windows/flutter/ephemeral)
set(wrapper ${ephemeral}/cpp_client_wrapper)
foreach(required flutter_windows.dll flutter_windows.dll.lib icudtl.dat flutter_windows.h flutter_export.h
                 flutter_messenger.h flutter_plugin_registrar.h flutter_texture_registrar.h
                 cpp_client_wrapper/core_implementations.cc cpp_client_wrapper/standard_codec.cc
                 cpp_client_wrapper/plugin_registrar.cc cpp_client_wrapper/flutter_engine.cc
                 cpp_client_wrapper/flutter_view_controller.cc cpp_client_wrapper/include/flutter)
  if(NOT EXISTS ${ephemeral}/${required})
    message(FATAL_ERROR "${ephemeral}/${required} is missing: run `flutter build windows` in ${app} first")
  endif()
endforeach()

# As the app's windows/CMakeLists.txt defines it; the plug-ins' own CMake files call it.
function(apply_standard_settings TARGET)
  target_compile_features(${TARGET} PUBLIC cxx_std_17)
  if(MSVC)
    target_compile_options(${TARGET} PRIVATE /W4 /WX /wd"4100")
    target_compile_options(${TARGET} PRIVATE /EHsc)
    target_compile_definitions(${TARGET} PRIVATE "_HAS_EXCEPTIONS=0")
  endif()
  target_compile_definitions(${TARGET} PRIVATE "$<$<CONFIG:Debug>:_DEBUG>")
endfunction()

# C++17 for every target made from here to the end of the plug-ins, as MSVC builds them: cxx_std_17
# above is only a minimum, which a compiler defaulting to a later standard would exceed. Our targets
# set C++20 themselves (corvane_settings).
set(CMAKE_CXX_STANDARD 17)

# As the app's windows/flutter/CMakeLists.txt makes them. Flutter's headers are system headers to our
# code, so that our warnings stay on our code.
add_library(flutter INTERFACE)
target_include_directories(flutter SYSTEM INTERFACE ${ephemeral})
target_link_libraries(flutter INTERFACE ${ephemeral}/flutter_windows.dll.lib)

set(wrapper_core ${wrapper}/core_implementations.cc ${wrapper}/standard_codec.cc)
add_library(flutter_wrapper_plugin STATIC ${wrapper_core} ${wrapper}/plugin_registrar.cc)
apply_standard_settings(flutter_wrapper_plugin)
set_target_properties(flutter_wrapper_plugin PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden)
target_link_libraries(flutter_wrapper_plugin PUBLIC flutter)
target_include_directories(flutter_wrapper_plugin SYSTEM PUBLIC ${wrapper}/include)

add_library(flutter_wrapper_app STATIC ${wrapper_core} ${wrapper}/flutter_engine.cc ${wrapper}/flutter_view_controller.cc)
apply_standard_settings(flutter_wrapper_app)
target_link_libraries(flutter_wrapper_app PUBLIC flutter)
target_include_directories(flutter_wrapper_app SYSTEM PUBLIC ${wrapper}/include)

corvane_third_party(TARGETS flutter_wrapper_plugin flutter_wrapper_app)

# What our portable code compiles against (EncodableValue, the codecs): Flutter's, here.
add_library(flutter_wrapper_core INTERFACE)
target_link_libraries(flutter_wrapper_core INTERFACE flutter_wrapper_app)

# The plug-ins, as the app's generated_plugins.cmake builds them.
include(${PROJECT_SOURCE_DIR}/standins/plugins/plugin_list.cmake)
set(CORVANE_PLUGIN_TARGETS "")
set(CORVANE_PLUGIN_LIBRARY_FILES "")
foreach(entry IN LISTS CORVANE_FLUTTER_PLUGINS)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 plugin)
  set(source ${ephemeral}/.plugin_symlinks/${plugin}/windows)
  if(NOT EXISTS ${source}/CMakeLists.txt)
    message(FATAL_ERROR "The plug-in ${plugin} is missing from ${ephemeral}/.plugin_symlinks: the app must depend on it")
  endif()
  add_subdirectory(${source} ${CMAKE_BINARY_DIR}/plugins/${plugin})
  corvane_third_party(DIRECTORIES ${source})
  list(APPEND CORVANE_PLUGIN_TARGETS ${plugin}_plugin)
  list(APPEND CORVANE_PLUGIN_LIBRARY_FILES $<TARGET_FILE:${plugin}_plugin> ${${plugin}_bundled_libraries})
endforeach()
unset(CMAKE_CXX_STANDARD)

set(CORVANE_FLUTTER_ENGINE_TARGET flutter)
# What the installed folder takes (cmake/package.cmake).
set(CORVANE_FLUTTER_LIBRARY_FILE ${ephemeral}/flutter_windows.dll)
set(CORVANE_ICU_DATA_FILE ${ephemeral}/icudtl.dat)
set(CORVANE_FLUTTER_ASSETS_DIR ${app}/build/flutter_assets)
# Flutter writes the AOT library to build/windows/app.so, or per architecture on newer releases.
if(EXISTS ${app}/build/windows/x64/app.so)
  set(CORVANE_AOT_LIBRARY_FILE ${app}/build/windows/x64/app.so)
else()
  set(CORVANE_AOT_LIBRARY_FILE ${app}/build/windows/app.so)
endif()
foreach(output ${CORVANE_FLUTTER_ASSETS_DIR} ${CORVANE_AOT_LIBRARY_FILE})
  if(NOT EXISTS ${output})
    message(FATAL_ERROR "${output} is missing: run `flutter build windows --release` in ${app} first")
  endif()
endforeach()
set(CORVANE_TEST_PACKAGE FALSE)
