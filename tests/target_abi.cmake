# Checks, with readelf, that each of BINARIES is built for the board:
#   cmake -DREADELF=<readelf> -DBINARIES=<a;b> -P target_abi.cmake
# Each expected line is matched as readelf prints it.
set(expected
  "Class: +ELF32"
  "Machine: +ARM"
  "Flags: +0x[0-9a-f]+, Version5 EABI, hard-float ABI"
  "Tag_ABI_VFP_args: VFP registers")

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
  message(STATUS "${binary}: 32-bit ARM, EABI5, hard-float, VFP registers")
endforeach()
