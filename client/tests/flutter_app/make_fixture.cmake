# Writes a Flutter app folder laid out as `flutter build windows` leaves it, filled from our stand-ins:
# the test of the host's build against a real Flutter app (CORVANE_FLUTTER_APP_DIR) runs on it.
# cmake -DSOURCE=<repository> -DAPP=<folder> -DENGINE=<stand-in flutter_windows.dll>
#       -DENGINE_IMPORT=<its import library> -P make_fixture.cmake

include(${SOURCE}/standins/plugins/plugin_list.cmake)
set(embedding ${SOURCE}/standins/flutter/embedding)
set(ephemeral ${APP}/windows/flutter/ephemeral)
set(wrapper ${ephemeral}/cpp_client_wrapper)

file(REMOVE_RECURSE ${APP})
file(MAKE_DIRECTORY ${wrapper})
file(WRITE ${APP}/pubspec.yaml "name: corvane_fixture_app\ndescription: stand-in app for the build test\n")

# The engine: the library, its import library under Flutter's name, the C headers, the ICU data.
file(COPY_FILE ${ENGINE} ${ephemeral}/flutter_windows.dll)
file(COPY_FILE ${ENGINE_IMPORT} ${ephemeral}/flutter_windows.dll.lib)
file(GLOB headers ${embedding}/include/*.h)
file(COPY ${headers} DESTINATION ${ephemeral})
file(WRITE ${ephemeral}/icudtl.dat "")

# The C++ client wrapper under the names of Flutter's files.
file(COPY ${SOURCE}/standins/flutter/cpp_client_wrapper/include DESTINATION ${wrapper})
file(COPY_FILE ${embedding}/wrapper/binary_messenger_impl.h ${wrapper}/binary_messenger_impl.h)
file(COPY_FILE ${embedding}/wrapper/binary_messenger_impl.cpp ${wrapper}/core_implementations.cc)
file(COPY_FILE ${SOURCE}/standins/flutter/cpp_client_wrapper/standard_codec.cpp ${wrapper}/standard_codec.cc)
file(COPY_FILE ${embedding}/wrapper/flutter_engine.cpp ${wrapper}/flutter_engine.cc)
file(COPY_FILE ${embedding}/wrapper/flutter_view_controller.cpp ${wrapper}/flutter_view_controller.cc)
file(WRITE ${wrapper}/plugin_registrar.cc "// The stand-in plug-ins use the C API only: no C++ registrar.\n")

# The plug-ins, each a folder of its own with a plug-in's windows/CMakeLists.txt. One of them also
# has sources that compile only with Flutter's settings (flutter_settings_only.cpp and .c), so that
# the build fails if ours reach the plug-ins.
set(settings_plugin url_launcher_windows)
set(plugin_list "")
foreach(entry IN LISTS CORVANE_FLUTTER_PLUGINS)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 plugin)
  list(GET parts 1 function)
  set(folder ${ephemeral}/.plugin_symlinks/${plugin}/windows)
  file(MAKE_DIRECTORY ${folder})
  file(COPY_FILE ${SOURCE}/standins/plugins/plugin.cpp ${folder}/plugin.cpp)
  set(languages CXX)
  set(sources "\"plugin.cpp\"")
  if(plugin STREQUAL settings_plugin)
    foreach(file flutter_settings_only.cpp flutter_settings_only.c)
      file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/${file} ${folder}/${file})
      string(APPEND sources " \"${file}\"")
    endforeach()
    set(languages "C CXX")
  endif()
  file(MAKE_DIRECTORY ${folder}/include/${plugin})
  file(WRITE ${folder}/CMakeLists.txt
    "cmake_minimum_required(VERSION 3.14)\n"
    "set(PROJECT_NAME \"${plugin}\")\n"
    "project(\${PROJECT_NAME} LANGUAGES ${languages})\n"
    "set(PLUGIN_NAME \"\${PROJECT_NAME}_plugin\")\n"
    "add_library(\${PLUGIN_NAME} SHARED ${sources})\n"
    "apply_standard_settings(\${PLUGIN_NAME})\n"
    "set_target_properties(\${PLUGIN_NAME} PROPERTIES CXX_VISIBILITY_PRESET hidden PREFIX \"\")\n"
    "target_compile_definitions(\${PLUGIN_NAME} PRIVATE FLUTTER_PLUGIN_IMPL\n"
    "  CORVANE_PLUGIN_REGISTER=${function} CORVANE_PLUGIN_LIBRARY=\"${plugin}_plugin.dll\")\n"
    "target_include_directories(\${PLUGIN_NAME} INTERFACE \"\${CMAKE_CURRENT_SOURCE_DIR}/include\")\n"
    "target_link_libraries(\${PLUGIN_NAME} PRIVATE flutter flutter_wrapper_plugin)\n"
    "set(${plugin}_bundled_libraries \"\" PARENT_SCOPE)\n")
  string(APPEND plugin_list "  ${plugin}\n")
endforeach()
file(WRITE ${APP}/windows/flutter/generated_plugins.cmake
  "list(APPEND FLUTTER_PLUGIN_LIST\n${plugin_list})\n")

# The app's build output.
file(WRITE ${APP}/build/flutter_assets/AssetManifest.json "{}\n")
file(WRITE ${APP}/build/windows/x64/app.so "fixture AOT library\n")
