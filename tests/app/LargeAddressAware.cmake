# Korvane.exe is marked large-address-aware (IMAGE_FILE_LARGE_ADDRESS_AWARE,
# 0x0020 in the file header's Characteristics), so that the listing of a large
# target can be mapped whole. Read from the file itself; no Wine needed.
# Variable: EXE.
file(READ ${EXE} lfanew OFFSET 60 LIMIT 4 HEX)
string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" lfanew "${lfanew}")
math(EXPR at "0x${lfanew} + 22")
file(READ ${EXE} flags OFFSET ${at} LIMIT 2 HEX)
string(REGEX REPLACE "(..)(..)" "\\2\\1" flags "${flags}")
math(EXPR aware "0x${flags} & 0x20")
if(NOT aware)
  message(FATAL_ERROR "${EXE}: Characteristics 0x${flags} without IMAGE_FILE_LARGE_ADDRESS_AWARE")
endif()
