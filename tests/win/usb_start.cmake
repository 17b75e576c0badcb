# telvane-cli.exe and telvane.exe with libusb-1.0.dll beside them and without it, on a Wine with
# no USB devices: both start either way, the USB port says why it cannot be used, and auto
# falls back from the maker's driver to USB.
#   cmake -DWINE_RUN=... -DCLI=telvane-cli.exe -DWINDOW=telvane.exe -DDLL=libusb-1.0.dll -DWORK=DIR -P usb_start.cmake
foreach(var WINE_RUN CLI WINDOW DLL WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
foreach(folder with without)
  file(MAKE_DIRECTORY "${WORK}/${folder}")
  file(COPY "${CLI}" "${WINDOW}" DESTINATION "${WORK}/${folder}")
endforeach()
file(COPY "${DLL}" DESTINATION "${WORK}/with")

# Runs the tool from a folder; fails unless it exits as expected within a few seconds. Output
# goes to files: a Wine server started by the run would hold a pipe open for seconds after.
function(run_cli folder expected)
  string(TIMESTAMP started "%s")
  execute_process(COMMAND "${WINE_RUN}" "${WORK}/${folder}/telvane-cli.exe" ${ARGN}
    WORKING_DIRECTORY "${WORK}/${folder}" RESULT_VARIABLE status TIMEOUT 30
    OUTPUT_FILE "${WORK}/stdout.txt" ERROR_FILE "${WORK}/stderr.txt")
  string(TIMESTAMP ended "%s")
  file(READ "${WORK}/stdout.txt" out)
  file(READ "${WORK}/stderr.txt" err)
  math(EXPR took "${ended} - ${started}")
  if(NOT status STREQUAL "${expected}" OR took GREATER 15)
    message(FATAL_ERROR "${folder}: telvane-cli ${ARGN}: exit ${status} after ${took} s, not ${expected}\n"
      "stdout:\n${out}\nstderr:\n${err}")
  endif()
  set(err "${err}" PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_in text pattern what)
  string(FIND "${text}" "${pattern}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${what}: no \"${pattern}\" in:\n${text}")
  endif()
endfunction()

run_cli(with 3 --device usb --wait 1 info)
expect_in("${err}" "no phone on usb within 1 second" "usb with the DLL")
run_cli(with 3 -v --wait 1 info)
expect_in("${err}" "Device: no phone on the maker's driver; looking on USB (WinUSB)" "auto with the DLL")
expect_in("${err}" "no phone on auto within 1 second" "auto with the DLL")

run_cli(without 2 --device usb info)
expect_in("${err}" "USB is unavailable: libusb-1.0.dll is not beside the program" "usb without the DLL")
run_cli(without 3 --device auto -v --wait 1 info)
expect_in("${err}" "USB (WinUSB) unavailable: libusb-1.0.dll is not beside the program" "auto without the DLL")
run_cli(without 0 --device virtual info)
expect_in("${out}" "Sim" "the virtual phone without the DLL")

# The window: still up after a while, with or without the DLL (a missing DLL it linked to
# would end it at once).
foreach(folder with without)
  execute_process(COMMAND "${WINE_RUN}" "${WORK}/${folder}/telvane.exe"
    WORKING_DIRECTORY "${WORK}/${folder}" RESULT_VARIABLE status TIMEOUT 4
    OUTPUT_FILE "${WORK}/stdout.txt" ERROR_FILE "${WORK}/stderr.txt")
  if(NOT status MATCHES "timeout")
    file(READ "${WORK}/stderr.txt" err)
    message(FATAL_ERROR "${folder}: telvane.exe ended at start (${status}):\n${err}")
  endif()
endforeach()
