#!/usr/bin/env bash
# Builds the board program from a development machine as the README tells, and
# runs it:
#   board_build.sh <source dir> <toolchain file> <work dir> <readelf>
# The sysroot stands in for a copy of the board's root file system: the cross
# packages' C library, and a GPIO library in /usr/local that answers every
# call at once with the echo line always low, so every reading times out.
set -euo pipefail
source_dir=$1 toolchain=$2 work=$3 readelf=$4

rm -rf "$work"
root=$work/sysroot
mkdir -p "$root/usr/local/include" "$root/usr/local/lib"
for dir in include lib; do
  ln -s "/usr/arm-linux-gnueabihf/$dir" "$root/usr/$dir"
done
ln -s usr/lib "$root/lib"
# The C library's linker scripts name their files by absolute path, which the
# linker looks up inside the sysroot.
ln -s /usr/arm-linux-gnueabihf "$root/usr/arm-linux-gnueabihf"

cp "$source_dir/sim/include/wiringPi.h" "$root/usr/local/include/"
cat > "$work/wiringPi.cpp" <<'STUB'
#include <wiringPi.h>
int wiringPiSetup(void) { return 0; }
void pinMode(int, int) {}
void pullUpDnControl(int, int) {}
void digitalWrite(int, int) {}
int digitalRead(int) { return LOW; }
void delay(unsigned int) {}
void delayMicroseconds(unsigned int) {}
STUB
arm-linux-gnueabihf-g++ --sysroot="$root" -I"$root/usr/local/include" -shared -fPIC \
  "$work/wiringPi.cpp" -o "$root/usr/local/lib/libwiringPi.so"

cmake -S "$source_dir" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_SYSROOT="$root" -DRANGING_TESTS=OFF | grep "wiringPi found"
cmake --build "$work/build" --target ranging
cmake --install "$work/build" --prefix "$work/installed"

test -f "$work/installed/share/doc/ranging/README.md"
cmake -DREADELF="$readelf" -DBINARIES="$work/installed/bin/ranging" \
  -P "$source_dir/tests/target_abi.cmake"

# The program runs until it is killed: here by SIGPIPE, once head has its lines.
set +o pipefail
expected=$'Program is starting ... \nThe distance is : 0.00 cm\nThe distance is : 0.00 cm'
actual=$(qemu-arm -L "$root" -E LD_LIBRARY_PATH=/usr/local/lib "$work/installed/bin/ranging" | head -n 3)
if [ "$actual" != "$expected" ]; then
  printf 'the installed ranging printed:\n%s\n' "$actual" >&2
  exit 1
fi
echo "ranging built against the sysroot's GPIO library, installed, and run"
