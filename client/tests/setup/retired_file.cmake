# Run by cpack for the older setup of the upgrade test (CPACK_PRE_BUILD_SCRIPTS): a file that version
# installed and this one no longer ships, which an upgrade must take away.
file(WRITE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/retired.txt" "installed by an earlier version\n")
