# Read by cpack for each package it makes (CPACK_PROJECT_CONFIG_FILE): the file names, and signing.
#
# Signing is chosen when cpack runs (scripts/package --sign): -D CPACK_CORVANE_SIGN_PFX=<file.pfx>, the
# password in the environment variable CORVANE_SIGN_PASSWORD (cmake/sign_file.sh). Then both programs
# are signed in the staging folder, before either package takes them, and the setup and the
# uninstaller it writes are signed by makensis as it finishes each.

if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-setup-${CPACK_PACKAGE_VERSION}-x64")
else()
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-windows-x64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)  # the zip holds one folder of that name
endif()

if(CPACK_CORVANE_SIGN_PFX)
  # makensis runs the signing command from a folder of its own.
  get_filename_component(CPACK_CORVANE_SIGN_PFX "${CPACK_CORVANE_SIGN_PFX}" ABSOLUTE)
  if(NOT EXISTS "${CPACK_CORVANE_SIGN_PFX}")
    message(FATAL_ERROR "The signing certificate ${CPACK_CORVANE_SIGN_PFX} does not exist")
  endif()
  if(NOT DEFINED ENV{CORVANE_SIGN_PASSWORD})
    message(FATAL_ERROR "Signing with ${CPACK_CORVANE_SIGN_PFX}: set CORVANE_SIGN_PASSWORD to its password")
  endif()
  set(CPACK_PRE_BUILD_SCRIPTS "${CPACK_CORVANE_SOURCE_DIR}/cmake/sign_staged.cmake")
  set(sign "'\"${CPACK_CORVANE_SOURCE_DIR}/cmake/sign_file.sh\" \"${CPACK_CORVANE_SIGN_PFX}\" \"%1\"' = 0")
  set(CPACK_CORVANE_NSIS_SIGNING "!finalize ${sign}\n!uninstfinalize ${sign}")
else()
  set(CPACK_CORVANE_NSIS_SIGNING "; Not signed.")
endif()
