# Cross build for the board: 32-bit ARM Linux, hard-float ABI, with Debian's
# arm-linux-gnueabihf compilers.
#
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#
# Without a sysroot the target's C and C++ libraries are the ones Debian's
# cross packages put in /usr/arm-linux-gnueabihf; there is no GPIO library
# there, so only ranging-sim and the tests are built. With
# -DCMAKE_SYSROOT=<a copy of the board's root file system> the libraries,
# the GPIO library among them, come from the board's own, and so does
# `ranging`.
#
# Target programs run here under qemu-arm, user-mode emulation: CTest and
# test discovery start them through CMAKE_CROSSCOMPILING_EMULATOR.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(RANGING_TARGET_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${RANGING_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${RANGING_TARGET_TRIPLE}-g++)

# Where the emulator finds the target's dynamic loader and libraries.
if(CMAKE_SYSROOT)
  set(RANGING_TARGET_ROOT ${CMAKE_SYSROOT})
else()
  set(RANGING_TARGET_ROOT /usr/${RANGING_TARGET_TRIPLE})
endif()

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
