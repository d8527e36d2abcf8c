#!/usr/bin/env bash
# Builds the board program from a development machine as the docs tell, for
# an older board, and runs it:
#   board_build.sh <source dir> <triple> <Debian architecture> <emulator> <work dir> <readelf>
# The triple, the architecture and the emulator are the board's toolchain
# file's: a 32-bit board (armhf) is built at the ARMv6 level of the oldest, a
# 64-bit one (arm64) at the toolchain's own. The sysroot stands in for a copy
# of a Raspberry Pi OS bullseye board's root (tools/board-root): its
# stand-in GPIO library answers every call at once with the echo line always
# low, so every reading times out. Its package, made from the same root,
# is the release's, which the release's check takes apart
# (release_reproducible.sh).
set -euo pipefail
source_dir=$1 triple=$2 arch=$3 emulator=$4 work=$5 readelf=$6
level=
[ "$arch" != armhf ] || level=armv6

# The newest symbol versions that the root provides.
newest_glibc=2.31
newest_glibcxx=3.4.28

root=$("$source_dir/tools/board-root" "$arch")

# The build is kept from one run to the next, as a developer keeps theirs:
# what did not change is not built again. A build from another root (a
# root's recipe changed) starts afresh, since what it found there is gone;
# the release configures from nothing every time.
build=$work/build
[ "$(cat "$work/root" 2>/dev/null)" = "$root" ] || rm -rf "$build"
mkdir -p "$work"
echo "$root" >"$work/root"
rm -rf "$work/installed"
level_option=()
[ -z "$level" ] || level_option=(-DRANGING_BOARD_ARCH="$level")
cmake -S "$source_dir" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/$triple.cmake" \
  -DCMAKE_SYSROOT="$root" "${level_option[@]}" -DRANGING_TESTS=OFF | grep "wiringPi found"
cmake --build "$build" --target ranging
cmake --install "$build" --prefix "$work/installed"
ranging=$work/installed/bin/ranging

test -f "$work/installed/share/doc/ranging/README.md"
test -f "$work/installed/share/man/man1/ranging.1"
# It loads the GPIO library and the C library, nothing else.
needed=$("$readelf" -d "$ranging" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
if [ "$needed" != "libc.so.6 libwiringPi.so " ]; then
  echo "ranging needs more than the GPIO and C libraries: $needed" >&2
  exit 1
fi
cmake -DREADELF="$readelf" -DTRIPLE="$triple" -DBINARIES="$ranging" -P "$source_dir/tests/process/target_abi.cmake"

# The program, start-up code and all, is at the level asked for (the root's
# start files are ARMv7), and has no constructors that its own start-up
# would not run.
if [ -n "$level" ] && ! "$readelf" -A "$ranging" | grep -q "Tag_CPU_arch: ${level#arm}$"; then
  echo "ranging is not built for $level: $("$readelf" -A "$ranging" | grep Tag_CPU_arch)" >&2
  exit 1
fi
if [ -n "$level" ] && "$readelf" -SW "$build"/CMakeFiles/ranging.dir/src/*.o | grep -q init_array; then
  echo "ranging's objects have constructors, which its ARMv6 start-up does not run" >&2
  exit 1
fi

# It asks for no symbol version newer than the root provides.
while IFS=_ read -r library version; do
  newest=$newest_glibc
  [ "$library" = GLIBCXX ] && newest=$newest_glibcxx
  if [ "$(printf '%s\n' "$version" "$newest" | sort -V | tail -n 1)" != "$newest" ]; then
    echo "ranging needs ${library}_$version; the root has at most ${library}_$newest" >&2
    exit 1
  fi
done < <("$readelf" -V --wide "$ranging" | grep -o 'GLIBC\(XX\)\?_[0-9.]*' | sort -u)

# It runs with the root's libraries alone, until it is killed: here by
# SIGPIPE, once head has its lines.
set +o pipefail
expected=$'Program is starting ... \nThe distance is : 0.00 cm\nThe distance is : 0.00 cm'
actual=$("$emulator" -L "$root" -E LD_LIBRARY_PATH=/usr/local/lib "$ranging" | head -n 3)
if [ "$actual" != "$expected" ]; then
  printf 'the installed ranging printed:\n%s\n' "$actual" >&2
  exit 1
fi
echo "ranging built${level:+ for $level} against Debian 11's $arch root, installed, and run with its libraries"
