# What the packaging checks in the files it is given, at configure time, so that a package never
# carries what fails on the user's machine. Also run by the package.*_check tests with cmake -P.

include(${CMAKE_CURRENT_LIST_DIR}/gamepad_driver.cmake)

# The driver installer must be the one the host accepts: the host refuses to start any other.
function(corvane_check_gamepad_driver file)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "The gamepad driver installer ${file} is not a file")
  endif()
  file(SHA256 "${file}" digest)
  if(NOT digest STREQUAL CORVANE_GAMEPAD_DRIVER_SHA256)
    message(FATAL_ERROR "The gamepad driver installer ${file} has SHA-256 ${digest}; the host accepts only "
                        "${CORVANE_GAMEPAD_DRIVER_NAME} with SHA-256 ${CORVANE_GAMEPAD_DRIVER_SHA256} "
                        "(cmake/gamepad_driver.cmake)")
  endif()
endfunction()

# A GStreamer runtime folder must hold what the media helper's loader takes from it
# (helper/src/windows/media/runtime_loader.cpp): the three libraries it loads by name from bin/, and
# the plug-in folder lib/gstreamer-1.0/.
function(corvane_check_gstreamer_runtime dir)
  set(missing "")
  foreach(library gstreamer-1.0-0.dll glib-2.0-0.dll gobject-2.0-0.dll)
    if(NOT EXISTS "${dir}/bin/${library}" OR IS_DIRECTORY "${dir}/bin/${library}")
      list(APPEND missing "bin/${library}")
    endif()
  endforeach()
  if(NOT IS_DIRECTORY "${dir}/lib/gstreamer-1.0")
    list(APPEND missing "lib/gstreamer-1.0/")
  endif()
  if(missing)
    list(JOIN missing ", " names)
    message(FATAL_ERROR "The GStreamer runtime ${dir} lacks what the media helper loads: ${names}")
  endif()
endfunction()

# cmake -P package_checks.cmake with -DDRIVER=<file> or -DGSTREAMER=<folder>: one check.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(DEFINED DRIVER)
    corvane_check_gamepad_driver("${DRIVER}")
  endif()
  if(DEFINED GSTREAMER)
    corvane_check_gstreamer_runtime("${GSTREAMER}")
  endif()
endif()
