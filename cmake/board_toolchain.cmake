# What both board toolchain files share; each sets, before including this:
#   CMAKE_SYSTEM_PROCESSOR, RANGING_TARGET_TRIPLE, RANGING_ARCH_FLAGS and
#   RANGING_EMULATOR (the qemu user-mode emulator for the board's code).
#
# With -DCMAKE_SYSROOT=<a copy of the board's root file system>, everything
# that is linked comes from the board's own root: start files, the C and C++
# libraries, the GPIO library; so `ranging` runs on the board the copy came
# from. That takes clang and lld: Debian's cross g++ would put its own start
# files and C library, from /usr/<triple>, before the sysroot's. clang finds
# the sysroot's own GCC installation (its libstdc++ and libgcc).
#
# Without a sysroot the compiler is Debian's cross g++, against the C and C++
# libraries of Debian's cross packages; there is no GPIO library there, so
# only ranging-sim and the tests are built.
#
# Target programs run here under user-mode emulation: CTest and test
# discovery start them through CMAKE_CROSSCOMPILING_EMULATOR.

set(CMAKE_SYSTEM_NAME Linux)

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

set(CMAKE_C_FLAGS_INIT "${RANGING_ARCH_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${RANGING_ARCH_FLAGS}")

# Where the emulator finds the target's dynamic loader and libraries.
find_program(RANGING_QEMU_${CMAKE_SYSTEM_PROCESSOR} ${RANGING_EMULATOR})
if(RANGING_QEMU_${CMAKE_SYSTEM_PROCESSOR})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RANGING_QEMU_${CMAKE_SYSTEM_PROCESSOR}} -L ${RANGING_TARGET_ROOT})
endif()

# Headers and libraries only from the target's root; programs from the host.
set(CMAKE_FIND_ROOT_PATH ${RANGING_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
