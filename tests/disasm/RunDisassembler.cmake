# Runs the Win32 disassembler on tiny.exe from its folder and compares its
# standard output, byte for byte, with the golden listing.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} tiny.exe WORKING_DIRECTORY ${PE_DIR}
                OUTPUT_FILE ${PE_DIR}/tiny.win32.lst RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "Korvane.dll tiny.exe exited with ${rc}")
endif()
file(READ ${PE_DIR}/tiny.win32.lst actual HEX)
file(READ ${GOLDEN} expected HEX)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "the listing of tiny.exe (${PE_DIR}/tiny.win32.lst) differs from ${GOLDEN}")
endif()
execute_process(COMMAND ${EMULATOR} ${PROGRAM} no-such-file.exe WORKING_DIRECTORY ${PE_DIR}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(rc EQUAL 0 OR NOT out STREQUAL "" OR err STREQUAL "")
  message(FATAL_ERROR "a missing file must give a message, no listing and a non-zero exit (got ${rc})")
endif()
