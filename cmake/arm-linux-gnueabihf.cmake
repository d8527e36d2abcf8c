# Cross build for the board: 32-bit ARM Linux, hard-float ABI.
#
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#
# With -DCMAKE_SYSROOT=<a copy of the board's root file system>, everything
# that is linked comes from the board's own root: start files, the C and C++
# libraries, the GPIO library; so `ranging` runs on the board the copy came
# from. That takes clang and lld: Debian's cross g++ would put its own start
# files and C library, from /usr/arm-linux-gnueabihf, before the sysroot's.
# clang finds the sysroot's own GCC installation (its libstdc++ and libgcc).
#
# Without a sysroot the compiler is Debian's cross g++, against the C and C++
# libraries of Debian's cross packages; there is no GPIO library there, so
# only ranging-sim and the tests are built.
#
# RANGING_BOARD_ARCH sets the level the program's code is compiled for:
# armv7-a (the default, as Debian's armhf: Raspberry Pi 2 and later), or
# armv6 (with VFPv2, hard-float: Raspberry Pi 1, Zero and Zero W).
#
# Target programs run here under qemu-arm, user-mode emulation: CTest and
# test discovery start them through CMAKE_CROSSCOMPILING_EMULATOR.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(RANGING_TARGET_TRIPLE arm-linux-gnueabihf)
if(CMAKE_SYSROOT)
  set(CMAKE_C_COMPILER clang)
  set(CMAKE_CXX_COMPILER clang++)
  set(CMAKE_C_COMPILER_TARGET ${RANGING_TARGET_TRIPLE})
  set(CMAKE_CXX_COMPILER_TARGET ${RANGING_TARGET_TRIPLE})
  foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT -fuse-ld=lld)
  endforeach()
  set(RANGING_TARGET_ROOT ${CMAKE_SYSROOT})
else()
  set(CMAKE_C_COMPILER ${RANGING_TARGET_TRIPLE}-gcc)
  set(CMAKE_CXX_COMPILER ${RANGING_TARGET_TRIPLE}-g++)
  set(RANGING_TARGET_ROOT /usr/${RANGING_TARGET_TRIPLE})
endif()

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
set(CMAKE_C_FLAGS_INIT ${RANGING_ARCH_FLAGS})
set(CMAKE_CXX_FLAGS_INIT ${RANGING_ARCH_FLAGS})

# Where the emulator finds the target's dynamic loader and libraries.
find_program(RANGING_QEMU_ARM qemu-arm)
if(RANGING_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RANGING_QEMU_ARM} -L ${RANGING_TARGET_ROOT})
endif()

# Headers and libraries only from the target's root; programs from the host.
set(CMAKE_FIND_ROOT_PATH ${RANGING_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
