# The test of the host's build against a real Flutter app: makes the fixture app (make_fixture.cmake),
# configures a build of its own with CORVANE_FLUTTER_APP_DIR naming it, builds and installs the host
# (the helper owes nothing to Flutter), and checks what the installed folder took from the app.
# cmake -DSOURCE=… -DWORK=<folder> -DENGINE=… -DENGINE_IMPORT=… -DTOOLCHAIN=… -P build_against_fixture.cmake

set(APP ${WORK}/app)
include(${CMAKE_CURRENT_LIST_DIR}/make_fixture.cmake)

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGV}\n${output}")
  endif()
endfunction()

run(${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -G Ninja -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCORVANE_FLUTTER_APP_DIR=${APP})
run(${CMAKE_COMMAND} --build ${WORK}/build --target corvane_client)
file(REMOVE_RECURSE ${WORK}/installed)
run(${CMAKE_COMMAND} --install ${WORK}/build --prefix ${WORK}/installed --component client)

include(${SOURCE}/standins/plugins/plugin_list.cmake)
set(expected corvane_client.exe flutter_windows.dll data/icudtl.dat
    data/app.so data/flutter_assets/AssetManifest.json)
foreach(entry IN LISTS CORVANE_FLUTTER_PLUGINS)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 plugin)
  list(APPEND expected ${plugin}_plugin.dll)
endforeach()
foreach(file IN LISTS expected)
  if(NOT EXISTS ${WORK}/installed/${file})
    message(FATAL_ERROR "the installed folder lacks ${file}")
  endif()
endforeach()
# The plug-in whose sources compile only with Flutter's settings has them linked in (their exported
# functions): without them this build would no longer notice our settings reaching the plug-ins.
file(STRINGS ${WORK}/installed/${settings_plugin}_plugin.dll exports REGEX "^CorvaneFixture[A-Za-z]+$")
foreach(function CorvaneFixtureOpen CorvaneFixturePluginName CorvaneFixtureClamp)
  list(FIND exports ${function} index)
  if(index EQUAL -1)
    message(FATAL_ERROR "${settings_plugin}_plugin.dll lacks ${function}: the fixture built it without flutter_settings_only.*")
  endif()
endforeach()
file(READ ${WORK}/installed/data/app.so aot)
if(NOT aot STREQUAL "fixture AOT library\n")
  message(FATAL_ERROR "data/app.so is not the app's")
endif()
if(EXISTS ${WORK}/installed/TEST-PACKAGE.txt)
  message(FATAL_ERROR "a build against a Flutter app is not labelled a test package")
endif()
# Nothing of our stand-in build enters it: the plug-ins were built from the app's sources.
if(EXISTS ${WORK}/build/standins/plugins OR EXISTS ${WORK}/build/standins/flutter)
  message(FATAL_ERROR "the stand-ins were built too")
endif()
