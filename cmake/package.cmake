# The folder a user installs, laid out as Flutter's release bundle: the host and the engine library at
# the top, the plug-in libraries beside them, the project data in data/, the media helper, the driver
# installer in drivers/ and the GStreamer runtime in gstreamer/. `cmake --install` writes it; CPack
# zips it and makes the setup that installs it into Program Files (scripts/package).
#
# Set before this file is included, by client/ (stand-ins or a real Flutter app):
#   CORVANE_FLUTTER_LIBRARY_FILE  flutter_windows.dll
#   CORVANE_PLUGIN_LIBRARY_FILES  the plug-in libraries and what they bundle
#   CORVANE_ICU_DATA_FILE         icudtl.dat
#   CORVANE_FLUTTER_ASSETS_DIR    flutter_assets (may be empty in a test package)
#   CORVANE_AOT_LIBRARY_FILE      app.so
#   CORVANE_TEST_PACKAGE          TRUE when the engine and plug-ins are our stand-ins

set(CORVANE_GAMEPAD_DRIVER_INSTALLER "" CACHE FILEPATH
    "The gamepad driver's installer, put into drivers/ of the package (none when empty)")
set(CORVANE_GSTREAMER_RUNTIME_DIR "" CACHE PATH
    "A GStreamer runtime folder (bin/, lib/gstreamer-1.0/), put into gstreamer/ of the package (none when empty)")

# Two components, one per program and what it needs beside it; the package holds both.
install(TARGETS corvane_client RUNTIME DESTINATION . COMPONENT client)
install(TARGETS corvane_media_helper RUNTIME DESTINATION . COMPONENT helper)
install(FILES ${CORVANE_FLUTTER_LIBRARY_FILE} ${CORVANE_PLUGIN_LIBRARY_FILES} DESTINATION . COMPONENT client)
install(FILES ${CORVANE_ICU_DATA_FILE} ${CORVANE_AOT_LIBRARY_FILE} DESTINATION data COMPONENT client)
# The assets folder is replaced whole, so that no asset of an earlier install stays behind.
install(CODE "file(REMOVE_RECURSE \"\${CMAKE_INSTALL_PREFIX}/data/flutter_assets\")" COMPONENT client)
install(DIRECTORY ${CORVANE_FLUTTER_ASSETS_DIR}/ DESTINATION data/flutter_assets COMPONENT client)

include(${CMAKE_CURRENT_LIST_DIR}/package_checks.cmake)
if(CORVANE_GAMEPAD_DRIVER_INSTALLER)
  corvane_check_gamepad_driver(${CORVANE_GAMEPAD_DRIVER_INSTALLER})
  # Under the name the host looks for; the content is the one it accepts.
  install(FILES ${CORVANE_GAMEPAD_DRIVER_INSTALLER} DESTINATION drivers RENAME ${CORVANE_GAMEPAD_DRIVER_NAME}
          COMPONENT client)
endif()
if(CORVANE_GSTREAMER_RUNTIME_DIR)
  corvane_check_gstreamer_runtime(${CORVANE_GSTREAMER_RUNTIME_DIR})
  install(DIRECTORY ${CORVANE_GSTREAMER_RUNTIME_DIR}/ DESTINATION gstreamer COMPONENT helper)
endif()

# Installing needs only the programs and the libraries, which scripts/package builds: not every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_MONOLITHIC_INSTALL ON)
# The setup's script is our own template (cmake/nsis/NSIS.template.in), filled in by cpack;
# cmake/package_config.cmake names the files and signs when asked.
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/nsis)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/package_config.cmake)
set(CPACK_CORVANE_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_CORVANE_NSIS_ICON ${PROJECT_SOURCE_DIR}/client/runner/resources/app_icon.ico)
if(CORVANE_TEST_PACKAGE)
  # Built against our stand-in engine and plug-ins: usable for tests only, and it says so.
  set(CPACK_PACKAGE_NAME "corvane-test-package")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Corvane TEST PACKAGE: stand-in Flutter engine and plug-ins, not for users")
  set(CPACK_NSIS_DISPLAY_NAME "Corvane TEST PACKAGE")
  file(WRITE ${CMAKE_BINARY_DIR}/TEST-PACKAGE.txt
       "This is a test package of Corvane. Its flutter_windows.dll and plug-in libraries are stand-ins\n"
       "written for testing the host; they run no Flutter application. Do not give it to users.\n")
  install(FILES ${CMAKE_BINARY_DIR}/TEST-PACKAGE.txt DESTINATION . COMPONENT client)
else()
  set(CPACK_PACKAGE_NAME "corvane")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Corvane desktop client")
  set(CPACK_NSIS_DISPLAY_NAME "Corvane")
endif()
include(CPack)
