# Checks, with readelf, that each of BINARIES is built for the board that
# TRIPLE names:
#   cmake -DREADELF=<readelf> -DTRIPLE=<triple> -DBINARIES=<a;b> -P target_abi.cmake
# Each expected line is matched as readelf prints it.
if(TRIPLE STREQUAL "arm-linux-gnueabihf")
  set(board "32-bit ARM, EABI5, hard-float, VFP registers")
  set(expected
    "Class: +ELF32"
    "Machine: +ARM"
    "Flags: +0x[0-9a-f]+, Version5 EABI, hard-float ABI"
    "Tag_ABI_VFP_args: VFP registers")
elseif(TRIPLE STREQUAL "aarch64-linux-gnu")
  set(board "64-bit ARM (AArch64), little-endian")
  set(expected
    "Class: +ELF64"
    "Data: +2's complement, little endian"
    "Machine: +AArch64")
else()
  message(FATAL_ERROR "no board is known for ${TRIPLE}")
endif()

foreach(binary IN LISTS BINARIES)
  execute_process(COMMAND ${READELF} -h -A ${binary}
    OUTPUT_VARIABLE described RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${READELF} could not read ${binary}")
  endif()
  foreach(line IN LISTS expected)
    if(NOT described MATCHES "${line}")
      message(FATAL_ERROR "${binary}: readelf does not show \"${line}\":\n${described}")
    endif()
  endforeach()
  message(STATUS "${binary}: ${board}")
endforeach()
