# shellcheck shell=bash
# What the tests with the real GPIO library share, sourced by them as
#   . emulated_board.sh <source dir> <work dir> <wiringPi's sources> <test name>
# (the sources may be empty; the test name is for the line that says it is
# skipped): the checks that they can run (sources, root and a private mount
# namespace: 77, skipped, where not), one run at a time on the machine, the
# library and ranging built natively and for both boards, and runs as on a
# given board:
#   prepare_builds <build...>    native, armhf and arm64: the library built
#                                with that compiler, ranging against it;
#                                command[<build>] then starts it
#   standin_package <build> <deb>  a wiringpi package of that build's library
#   board_library <root> <triple> <dir>  the library built against a board's
#                                root (tools/board-root), into <dir>
#   standin_package_of <dir> <architecture> <deb>  a wiringpi package of it
#   in_board <board> <command...>
# Each run is in a private mount namespace whose /dev holds only null, zero,
# urandom and, made by register-module, the register file the library maps.
# The board is named where the library looks first, in
# /proc/device-tree/system/linux,revision: under emulation a file in the
# emulator's own root (-L), which every qemu opens in place of the host's;
# natively, where the host has no device tree, /proc/cpuinfo's Revision line.
# What it sets for the sourcing script: skipped (77), triple[<build>],
# builds, module (register-module, native) and command[<build>].
source_dir=$1 work=$2 sources=$3 test_name=$4
skipped=77

if [ -z "$sources" ]; then
  echo "skipped: $test_name needs the GPIO library's sources:" \
       "WIRINGPI_SOURCES=<wiringPi's release tarball or source folder> tools/test"
  exit $skipped
fi
if [ ! -r "$sources" ]; then
  echo "the GPIO library's sources are not there, or not readable: $sources" >&2
  exit 1
fi
# The mounts over /proc/cpuinfo and /dev must stay in the test's own
# namespace. Where / cannot be made private (in a chroot, / is no mount
# point), they could reach the machine's: the test is not run there.
if ! unshare --mount --propagation private true 2>/dev/null; then
  echo "skipped: $test_name needs a private mount namespace, which takes root, and / a mount point (not so in a chroot)"
  exit $skipped
fi
# Each run needs the real-time priority to itself: another copy of this test
# on the machine (another build folder, another checkout) is waited for.
lock=/run/lock/ranging-real-time.lock
[ -d /run/lock ] || lock=/tmp/ranging-real-time.lock
exec 9>"$lock"
if ! flock --nonblock 9; then
  echo "== another run of this test holds $lock: waiting for it to end"
  flock 9
fi

# Each board's revision code (none for the one the library cannot identify).
declare -A revision=(
  [pi3]=a02082 # Pi 3 Model B, BCM2837
  [pi4]=c03111 # Pi 4 Model B, BCM2711
  [pi5]=d04170 # Pi 5, RP1
  [unknown]=''
)
# Each build: its cross compiler (none natively), its emulator, its board.
declare -A compiler=([native]=gcc [armhf]=arm-linux-gnueabihf-gcc [arm64]=aarch64-linux-gnu-gcc)
declare -A triple=([armhf]=arm-linux-gnueabihf [arm64]=aarch64-linux-gnu)
declare -A emulator=([armhf]=qemu-arm [arm64]=qemu-aarch64)
# shellcheck disable=SC2034 # the sourcing script's list of builds
builds=(native armhf arm64)

# The library's own files, built with <compiler> (its words) into <dir>:
# every C file of its folder but the network daemon's and the extensions
# that need it. What was built is kept, keyed by what it was built from.
build_library() {
  local cc=$1 dir=$2 src=$3 key
  key=$( (echo "$cc"; cat "$src"/*.c "$src"/*.h) | sha256sum)
  [ "$(cat "$dir/sources.sha256" 2>/dev/null)" = "$key" ] && return
  rm -rf "$dir"
  mkdir -p "$dir/include" "$dir/objects"
  # shellcheck disable=SC2016 # the inner shell expands its own arguments
  find "$src" -maxdepth 1 -name '*.c' ! -name drcNet.c ! -name drcSerial.c ! -name wpiExtensions.c -print0 |
    xargs -0 -P "$(nproc)" -I{} sh -c "$cc"' -O2 -D_GNU_SOURCE -fPIC -w -I"$1" -c "$2" -o "$3/$(basename "$2" .c).o"' \
      - "$src" {} "$dir/objects"
  # shellcheck disable=SC2086 # the compiler's words
  $cc -shared -Wl,-soname,libwiringPi.so -o "$dir/libwiringPi.so" "$dir"/objects/*.o -lm -lpthread -lrt
  cp "$src/wiringPi.h" "$dir/include/"
  echo "$key" >"$dir/sources.sha256"
}

# <targets> against it, in <dir>, with any more cmake options.
build_against() {
  local dir=$1 library=$2 targets=$3
  shift 3
  cmake -S "$source_dir" -B "$dir" -DRANGING_TESTS=OFF -DWIRINGPI_INCLUDE_DIR="$library/include" \
    -DWIRINGPI_LIBRARY="$library/libwiringPi.so" "$@" | grep "wiringPi found" >/dev/null
  # shellcheck disable=SC2086 # the targets are words
  cmake --build "$dir" --target $targets -j"$(nproc)" >/dev/null
}

# The library's sources, unpacked where they are a tarball.
mkdir -p "$work"
if [ -d "$sources" ]; then
  tree=$sources
else
  tree=$work/wiringpi-sources
  rm -rf "$tree"
  mkdir -p "$tree"
  tar -xf "$sources" -C "$tree"
fi
library_src=$(dirname "$(find "$tree" -path '*/wiringPi/wiringPi.c' | head -n 1)")
[ -f "$library_src/wiringPi.c" ] || { echo "no wiringPi/wiringPi.c in $sources" >&2; exit 1; }
# shellcheck disable=SC2034 # the sourcing script's module
module=$work/native/register-module

declare -A command
prepare_builds() {
  local build
  echo "== building the real GPIO library and ranging against it ($*), in $work"
  for build in "$@"; do
    build_library "${compiler[$build]}" "$work/library-$build" "$library_src"
    if [ "$build" = native ]; then
      build_against "$work/native" "$work/library-native" "ranging register-module"
      command[native]=$work/native/ranging
    else
      build_against "$work/$build" "$work/library-$build" ranging \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/${triple[$build]}.cmake"
      # The emulator's root: the cross libraries, and the board's device tree.
      mkdir -p "$work/root-$build/proc/device-tree/system"
      ln -sfn "/usr/${triple[$build]}/lib" "$work/root-$build/lib"
      command[$build]="${emulator[$build]} -L $work/root-$build $work/$build/ranging"
    fi
  done
}

# board_library <root> <triple> <dir>: the library built as the board
# program is, by clang against a board's root, so that it asks for nothing
# newer than that root's C library.
board_library() {
  build_library "clang --target=$2 --sysroot=$1 -fuse-ld=lld" "$3" "$library_src"
}

# standin_package <build> <deb>: the stand-in for the GPIO library's own
# package, wiringpi, for that build's architecture: its library and header.
standin_package() {
  local arch
  arch=$(dpkg --print-architecture)
  [ "$1" = native ] || arch=$1
  standin_package_of "$work/library-$1" "$arch" "$2"
}

# standin_package_of <library dir> <architecture> <deb>: the same, of the
# library built in that folder.
standin_package_of() {
  local tree=$work/wiringpi-standin-$2
  rm -rf "$tree"
  install -D -m 644 "$1/libwiringPi.so" "$tree/usr/lib/libwiringPi.so"
  install -D -m 644 "$1/include/wiringPi.h" "$tree/usr/include/wiringPi.h"
  mkdir -p "$tree/DEBIAN"
  printf 'Package: wiringpi\nVersion: 3.14\nArchitecture: %s\nMaintainer: %s\nDescription: %s\n' \
    "$2" "nobody <nobody@example.org>" "stand-in for the GPIO library" >"$tree/DEBIAN/control"
  dpkg-deb --root-owner-group --build "$tree" "$3" >/dev/null
}

mkdir -p "$work/dev"
# in_board <board> <command...>: runs the command as on that board.
in_board() {
  local code=${revision[$1]} emulated
  shift
  {
    printf 'processor\t: 0\nmodel name\t: ARMv7 Processor rev 4 (v7l)\n'
    [ -z "$code" ] || printf 'Revision\t: %s\n' "$code"
  } >"$work/cpuinfo"
  for emulated in "${!command[@]}"; do
    [ "$emulated" != native ] || continue
    local tree_file=$work/root-$emulated/proc/device-tree/system/linux,revision
    rm -f "$tree_file"
    # Four bytes, most significant first, as the firmware writes them.
    [ -z "$code" ] || printf '%b' "\\x00\\x${code:0:2}\\x${code:2:2}\\x${code:4:2}" >"$tree_file"
  done
  # A virtual machine's idle processor wakes only when its host gets round
  # to it: the program, back from a sleep, then finds itself held up for
  # milliseconds, as no board's processor holds it up, and tries again. A
  # spinner of the lowest class on each processor keeps them awake; the
  # program and the module, above it, lose nothing to it. Each ends by
  # itself once this test's shell is gone, killed or timed out.
  local spinners=() processor status=0
  for ((processor = 0; processor < $(nproc); processor++)); do
    # shellcheck disable=SC2016 # the inner shell expands its own argument
    chrt --idle 0 sh -c 'while kill -0 "$1" 2>/dev/null; do :; done' - "$$" &
    spinners+=($!)
  done
  # shellcheck disable=SC2016 # the inner shell expands its own arguments
  unshare --mount --propagation private --fork sh -ec '
    mount --bind "$1" /proc/cpuinfo
    mount -t tmpfs -o mode=0755 tmpfs "$2"
    for node in null zero urandom; do
      : >"$2/$node"
      mount --bind "/dev/$node" "$2/$node"
    done
    mount --move "$2" /dev
    shift 2
    exec "$@"
  ' - "$work/cpuinfo" "$work/dev" "$@" || status=$?
  kill "${spinners[@]}"
  wait "${spinners[@]}" 2>/dev/null || true
  return $status
}

