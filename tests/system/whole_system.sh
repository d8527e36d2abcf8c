#!/usr/bin/env bash
# The package and its service on a booted board's system: Debian 13 for
# arm64, booted under qemu-system-aarch64 with systemd as PID 1, first as a
# Raspberry Pi 4 (registers at /dev/gpiomem), then as a Pi 5
# (/dev/gpiomem0), each named in the device tree where the GPIO library
# looks. What is checked inside, step by step, is guest_steps.sh's.
#   whole_system.sh --make-system <work dir>
#   whole_system.sh <source dir> <work dir> <wiringPi's sources> <board build dir>
# The system is made once, in <work dir>/root, and kept (made again only
# when its recipe here changes). Each run boots a fresh disk made from it,
# beside a second disk with what the test brings: the GPIO library's
# stand-in package (wiringpi), ranging's arm64 package from <board build
# dir> (the test command's build from a board's root) and a newer one built
# from it, register-module for arm64, and the steps to run. Nothing of ours
# is installed into the system but by apt, inside.
# Exits 77 (skipped), saying why, where it cannot run: without root,
# binfmt_misc, qemu-system-aarch64, or the library's sources.
set -euo pipefail
skipped=77
here=$(cd "$(dirname "$0")" && pwd)
release=trixie

skip() {
  echo "skipped: the whole-system test $*"
  exit $skipped
}

[ "$(id -u)" -eq 0 ] || skip "needs root (to make the system and its disks)"
# mmdebstrap checks with arch-test that the machine runs arm64 programs.
"$here/../../tools/need" mmdebstrap arch-test qemu-user-static qemu-system-arm device-tree-compiler e2fsprogs
command -v qemu-system-aarch64 >/dev/null || skip "needs qemu-system-aarch64"

# customize_system <root>: the system's own settings, made once inside it
# (mmdebstrap's customize hook): what a board's system has that a bare one
# lacks, and the unit that runs the test's steps at each boot.
customize_system() {
  local root=$1
  # A gpio group owns the registers, as on Raspberry Pi OS; a system group,
  # so that it takes no gid that systemd's own groups hold.
  chroot "$root" groupadd --system gpio
  echo ranging-board >"$root/etc/hostname"
  echo "/dev/vda / ext4 rw 0 1" >"$root/etc/fstab"
  mkdir -p "$root/var/log/journal" # the journal kept from boot to boot
  # A getty on the console would hang up every other writer of it; the
  # timers would only take the processors from the test.
  chroot "$root" systemctl mask --quiet serial-getty@ttyAMA0.service apt-daily.timer \
    apt-daily-upgrade.timer dpkg-db-backup.timer e2scrub_all.timer fstrim.timer
  # The test's steps come on a disk labelled ranging-test, which this unit
  # mounts and runs at every boot, before ranging's service may start: the
  # steps put the registers in place first.
  cat >"$root/etc/systemd/system/ranging-test.service" <<'UNIT'
[Unit]
Description=The steps of ranging's whole-system test, from the disk labelled ranging-test
After=local-fs.target systemd-journald.service
Before=ranging.service

[Service]
Type=forking
ExecStart=/bin/sh -c 'mkdir -p /run/ranging-test && mount LABEL=ranging-test /run/ranging-test && exec /run/ranging-test/steps'
TimeoutStartSec=5min
StandardOutput=journal+console
StandardError=journal+console

[Install]
WantedBy=multi-user.target
UNIT
  chroot "$root" systemctl enable --quiet ranging-test.service
}

# make_system <root>: Debian 13 for arm64, with systemd, udev, the kernel and
# an initramfs that mounts the root from a virtio disk. mmdebstrap installs
# it by running its packages' scripts under qemu-aarch64, which the kernel
# starts for arm64 programs through binfmt_misc.
make_system() {
  local root=$1 binfmt=/proc/sys/fs/binfmt_misc registered=
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || skip "needs binfmt_misc, which cannot be mounted here"
  fi
  if [ ! -e "$binfmt/qemu-aarch64" ]; then
    cat /usr/lib/binfmt.d/qemu-aarch64.conf >"$binfmt/register"
    registered=yes
  fi
  rm -rf "$root"
  mkdir -p "$root"
  local mirror status=0
  mirror=$("$here/../../tools/debian-mirror")
  # The initramfs needs only what mounts the root: building it with every
  # module, under emulation, would take minutes.
  mmdebstrap --variant=minbase --arch=arm64 \
    --include=systemd-sysv,udev,linux-image-arm64,initramfs-tools \
    --setup-hook='mkdir -p "$1/etc/initramfs-tools/conf.d"' \
    --setup-hook='echo MODULES=list >"$1/etc/initramfs-tools/conf.d/modules"' \
    --setup-hook='printf "%s\n" virtio_pci virtio_blk ext4 >"$1/etc/initramfs-tools/modules"' \
    --customize-hook="$here/whole_system.sh --customize-system \"\$1\"" \
    "$release" "$root" ${mirror:+"$mirror"} </dev/null || status=$?
  [ -z "$registered" ] || echo -1 >"$binfmt/qemu-aarch64"
  return $status
}

# The recipe the kept system was made by: made again when it changes.
recipe=$(declare -f make_system customize_system | sha256sum | cut -d' ' -f1)
system_is_made() { [ "$(cat "$1/.made" 2>/dev/null)" = "$recipe" ]; }

if [ "${1:-}" = --customize-system ]; then
  customize_system "$2"
  exit
fi

if [ "${1:-}" = --make-system ]; then
  work=$2
  mkdir -p "$work"
  system_is_made "$work/root" && exit
  echo "making a Debian 13 arm64 system in $work/root: five to ten minutes, once (log: $work/make-system.log)"
  start=$SECONDS
  if ! make_system "$work/root" >"$work/make-system.log" 2>&1; then
    echo "making the system failed; the end of $work/make-system.log:" >&2
    tail -n 20 "$work/make-system.log" >&2
    exit 1
  fi
  echo "$recipe" >"$work/root/.made"
  echo "   made in $((SECONDS - start)) s"
  exit
fi

if [ $# -ne 4 ]; then
  echo "usage: whole_system.sh --make-system <work dir>" >&2
  echo "       whole_system.sh <source dir> <work dir> <wiringPi's sources> <board build dir>" >&2
  exit 2
fi
source_dir=$1 work=$2 sources=$3 board_build=$4
start=$SECONDS
[ -n "$sources" ] || skip "needs the GPIO library's sources (its release tarball or a source folder)"
# The library's sources checked and unpacked, the machine to this test
# alone (the boots' timing is the emulator's), and the library built with a
# board's compiler, as the test with the real library does.
# shellcheck source=../process/emulated_board.sh
. "$here/../process/emulated_board.sh"
system_is_made "$work/root" || "$here/whole_system.sh" --make-system "$work"

echo "== what the test brings, for arm64: the packages, register-module and the steps"
bring=$work/bring
rm -rf "$bring"
mkdir -p "$bring"
build_library aarch64-linux-gnu-gcc "$work/library-arm64" "$library_src"
standin_package arm64 "$bring/wiringpi_3.14_arm64.deb"
build_against "$work/arm64" "$work/library-arm64" register-module \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/aarch64-linux-gnu.cmake"
cp "$work/arm64/register-module" "$bring/"
version=$(dpkg-parsechangelog -l "$source_dir/packaging/changelog" -SVersion)
package=$board_build/ranging_${version}_arm64.deb
[ -f "$package" ] || { echo "no $package: the test command makes it (tools/test)" >&2; exit 1; }
cp "$package" "$bring/"
# The newer package that the test installs over the running service.
newer=$(RANGING_DEB_VERSION=$version+1 cmake --build "$board_build" --target deb | grep '\.deb$')
cp "$newer" "$bring/"
install -m 755 "$here/guest_steps.sh" "$bring/steps"
echo 1 >"$bring/stage"
ls "$bring" | sed 's/^/   /'

# Each board's device tree: QEMU's own for the machine, with the board's
# revision where the GPIO library reads it first.
machine=(-cpu cortex-a72 -smp 2 -m 1024 -nic none -display none -monitor none)
qemu-system-aarch64 -machine virt,dumpdtb="$work/virt.dtb" "${machine[@]}" >/dev/null 2>&1
declare -A revision=([pi4]=c03111 [pi5]=d04170)
for board in pi4 pi5; do
  cp "$work/virt.dtb" "$work/$board.dtb"
  fdtput -c "$work/$board.dtb" /system
  fdtput -t x "$work/$board.dtb" /system linux,revision "${revision[$board]}"
done

echo "== the disks: the system's, fresh from $work/root, and the one with what the test brings"
mkfs.ext4 -q -F -d "$work/root" "$work/system.img" 2G >/dev/null
mkfs.ext4 -q -F -L ranging-test -d "$bring" "$work/bring.img" 64M >/dev/null
kernel=$(ls "$work"/root/boot/vmlinuz-* | head -n 1)
initrd=$(ls "$work"/root/boot/initrd.img-* | head -n 1)

# boot <n> <board>: boots the system as that board; its steps print their
# verdicts on the console, which is kept in console-<n>.log.
boot_limit=420
boot() {
  local n=$1 board=$2 began=$SECONDS
  echo "== boot $n, as a ${board/pi/Pi }"
  timeout $boot_limit qemu-system-aarch64 -machine virt "${machine[@]}" -dtb "$work/$board.dtb" \
    -kernel "$kernel" -initrd "$initrd" -append "root=/dev/vda rw console=ttyAMA0 quiet systemd.show_status=false" \
    -drive file="$work/system.img",if=virtio,format=raw -drive file="$work/bring.img",if=virtio,format=raw \
    -serial stdio -no-reboot </dev/null 2>&1 | tr -d '\r' | tee "$work/console-$n.log" | sed -u -n 's/^.*ranging-test: /   /p'
  echo "   boot $n took $((SECONDS - began)) s, from power-on to power-off"
  # The console shows the steps' lines as the journal forwards them, after
  # a time stamp and the unit's name.
  if ! grep -q 'ranging-test: verdict: ' "$work/console-$n.log"; then
    echo "   wrong: no verdict within $boot_limit s; the end of $work/console-$n.log:"
    tail -n 20 "$work/console-$n.log" | sed 's/^/   | /'
    return 1
  fi
  grep -q 'ranging-test: verdict: right$' "$work/console-$n.log"
}
failed=0
boot 1 pi4 || failed=1
boot 2 pi5 || failed=1
echo "== the whole-system test took $((SECONDS - start)) s: $([ $failed = 0 ] && echo right || echo wrong)"
exit $failed
