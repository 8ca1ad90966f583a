# Run by cpack after it staged the files of a package (CPACK_PRE_BUILD_SCRIPTS, set when signing):
# signs both programs there, so that the zip and the setup carry signed copies and the build's own
# stay as they were linked.
foreach(program corvane_client.exe corvane_media_helper.exe)
  file(GLOB_RECURSE staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/${program}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${program}")
  if(NOT staged)
    message(FATAL_ERROR "Signing: ${program} is not among the staged files in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
  endif()
  foreach(file IN LISTS staged)
    execute_process(COMMAND "${CPACK_CORVANE_SOURCE_DIR}/cmake/sign_file.sh" "${CPACK_CORVANE_SIGN_PFX}" "${file}"
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "Signing ${file} failed (${result})")
    endif()
  endforeach()
endforeach()
