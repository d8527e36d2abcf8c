# Cross build for a 32-bit board: ARM Linux, hard-float ABI (armhf, as a
# 32-bit Raspberry Pi OS).
#
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#
# CMAKE_SYSROOT, the compilers and emulation: see board_toolchain.cmake.
#
# RANGING_BOARD_ARCH sets the level the program's code is compiled for:
# armv7-a (the default, as Debian's armhf: Raspberry Pi 2 and later), or
# armv6 (with VFPv2, hard-float: Raspberry Pi 1, Zero and Zero W).

set(CMAKE_SYSTEM_PROCESSOR arm)
set(RANGING_TARGET_TRIPLE arm-linux-gnueabihf)
set(RANGING_DEB_ARCH armhf) # as Debian names it
set(RANGING_EMULATOR qemu-arm)

set(RANGING_BOARD_ARCH armv7-a CACHE STRING
  "Architecture level of the board: armv7-a (Raspberry Pi 2 and later) or armv6 (Raspberry Pi 1, Zero, Zero W)")
set_property(CACHE RANGING_BOARD_ARCH PROPERTY STRINGS armv7-a armv6)
if(RANGING_BOARD_ARCH STREQUAL "armv7-a")
  set(RANGING_ARCH_FLAGS "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -mthumb")
elseif(RANGING_BOARD_ARCH STREQUAL "armv6")
  # ARMv6 has no Thumb-2, and hard-float needs ARM code there.
  set(RANGING_ARCH_FLAGS "-march=armv6 -mfpu=vfp -mfloat-abi=hard -marm")
else()
  message(FATAL_ERROR "RANGING_BOARD_ARCH is \"${RANGING_BOARD_ARCH}\": it must be armv7-a or armv6")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/board_toolchain.cmake)
