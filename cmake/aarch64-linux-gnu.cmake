# Cross build for a 64-bit board: ARM Linux on AArch64 (arm64, as a 64-bit
# Raspberry Pi OS on a Pi 3, Pi 4 or Pi 5).
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# CMAKE_SYSROOT, the compilers and emulation: see board_toolchain.cmake. The
# compilers' default level, ARMv8-A, is every 64-bit Raspberry Pi's.

set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(RANGING_TARGET_TRIPLE aarch64-linux-gnu)
set(RANGING_DEB_ARCH arm64) # as Debian names it
set(RANGING_EMULATOR qemu-aarch64)
set(RANGING_ARCH_FLAGS "")

include(${CMAKE_CURRENT_LIST_DIR}/board_toolchain.cmake)
