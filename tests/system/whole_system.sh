#!/usr/bin/env bash
# The release's packages and their service on booted board systems, with
# systemd as PID 1, under qemu-system: two systems, each booted twice, each
# boot as a board named in the device tree where the GPIO library looks:
#
#   boot  system                    kernel                          CPU         board
#   1     Debian 11 armhf           its own 32-bit (armmp-lpae)     cortex-a15  Pi 3, /dev/gpiomem
#   2     Debian 11 armhf           Debian 13's 64-bit, 4 KiB pages cortex-a72  Pi 4, /dev/gpiomem
#   3     Debian 13 arm64           its own, 4 KiB pages            cortex-a72  Pi 4, /dev/gpiomem
#   4     Debian 13 arm64           its own, 16 KiB pages (arm64-16k) cortex-a76 Pi 5, /dev/gpiomem0
#
# So the package meets both ABIs, both kernels a 32-bit system meets on a
# Pi (a 32-bit Raspberry Pi OS on a Pi 4 or Pi 5 boots a 64-bit kernel),
# both page sizes (a Pi 5's own kernel has 16 KiB pages), both register
# layouts, and the oldest and the newest systemd we support (247 and 257).
# Each system's first boot installs, runs, kills, starves and upgrades the
# service; its second checks that it came back by itself, then removes and
# purges it. What is checked inside, step by step, is guest_steps.sh's.
#
#   whole_system.sh --make-system <work dir> <system>
#   whole_system.sh <source dir> <work dir> <wiringPi's sources> <dist dir>
#
# <system> is bullseye-armhf or trixie-arm64. Each is made once and kept
# outside the clone (tools/kept), made again only when its recipe here
# changes. Each run boots a fresh disk made from it, beside a second disk
# with what the test brings: the GPIO library's stand-in package (wiringpi)
# built against that system's C library, ranging's package from <dist dir>
# (the release, as a user downloads it) and a newer one built from the same
# tree, register-module for that architecture, and the steps to run.
# Nothing of ours is installed into a system but by apt, inside.
# Exits 77 (skipped), saying why, where it cannot run: without root,
# binfmt_misc, qemu-system-arm and -aarch64, or the library's sources.
set -euo pipefail
skipped=77
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)

skip() {
  echo "skipped: the whole-system test $*"
  exit $skipped
}

# Each system: its release, its architecture, its kernels' packages, the
# modules its initramfs needs to mount the root from a virtio disk, and the
# emulator that runs its programs while it is made.
declare -A release=([bullseye-armhf]=bullseye [trixie-arm64]=trixie)
declare -A arch=([bullseye-armhf]=armhf [trixie-arm64]=arm64)
# shellcheck disable=SC2054 # one word: mmdebstrap's list of packages
declare -A kernels=([bullseye-armhf]=linux-image-armmp-lpae [trixie-arm64]=linux-image-arm64,linux-image-arm64-16k)
declare -A user_emulator=([armhf]=qemu-arm [arm64]=qemu-aarch64)
systems=(bullseye-armhf trixie-arm64)

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

# make_system <system> <root>: that Debian release for that architecture,
# with systemd, udev, the kernels and an initramfs that mounts the root from
# a virtio disk. mmdebstrap installs it by running its packages' scripts
# under user-mode qemu, which the kernel starts for the board's programs
# through binfmt_misc. Only the release's own suite is named: the machine's
# mirror may lack the security suite's index for an older release's
# architecture.
make_system() {
  local system=$1 root=$2 binfmt=/proc/sys/fs/binfmt_misc registered='' emulator
  emulator=${user_emulator[${arch[$system]}]}
  # CI makes both boards' systems at once: on a machine that has just
  # booted, the other maker may mount binfmt_misc first, and this mount then
  # fails with it mounted.
  if [ ! -e "$binfmt/register" ] && ! mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null &&
    [ ! -e "$binfmt/register" ]; then
    skip "needs binfmt_misc, which cannot be mounted here"
  fi
  if [ ! -e "$binfmt/$emulator" ]; then
    cat "/usr/lib/binfmt.d/$emulator.conf" >"$binfmt/register"
    registered=yes
  fi
  rm -rf "$root"
  mkdir -p "$root"
  local mirror status=0
  mirror=$("$project/tools/debian-mirror")
  # The initramfs needs only what mounts the root: building it with every
  # module, under emulation, would take minutes. Each kernel's package makes
  # its own; the update that initramfs-tools then runs for the newest kernel
  # would make that one again, a minute under emulation, and is turned off
  # while the system is made (dpkg keeping that setting over the package's,
  # whose own is put back after). The hooks are shell commands of
  # mmdebstrap's, which expands their arguments itself.
  # shellcheck disable=SC2016
  mmdebstrap --variant=minbase --arch="${arch[$system]}" \
    --include="systemd-sysv,udev,initramfs-tools,${kernels[$system]}" \
    --setup-hook='mkdir -p "$1/etc/initramfs-tools/conf.d" "$1/etc/dpkg/dpkg.cfg.d"' \
    --setup-hook='echo MODULES=list >"$1/etc/initramfs-tools/conf.d/modules"' \
    --setup-hook='printf "%s\n" virtio_pci virtio_mmio virtio_blk ext4 >"$1/etc/initramfs-tools/modules"' \
    --setup-hook='echo force-confold >"$1/etc/dpkg/dpkg.cfg.d/ranging-making"' \
    --setup-hook='printf "%s\n" update_initramfs=no backup_initramfs=no >"$1/etc/initramfs-tools/update-initramfs.conf"' \
    --customize-hook='rm "$1/etc/dpkg/dpkg.cfg.d/ranging-making"' \
    --customize-hook='cd "$1/etc/initramfs-tools" && mv update-initramfs.conf.dpkg-dist update-initramfs.conf' \
    --customize-hook="$here/whole_system.sh --customize-system \"\$1\"" \
    "${release[$system]}" "$root" ${mirror:+"$mirror"} </dev/null || status=$?
  [ -z "$registered" ] || echo -1 >"$binfmt/$emulator"
  return $status
}

# root_of <system>: where that system is kept, by the recipe it is made by:
# made again when that changes.
root_of() {
  local recipe
  recipe=$({ declare -f make_system customize_system; echo "${release[$1]} ${arch[$1]} ${kernels[$1]}"; } |
    sha256sum | cut -d' ' -f1)
  echo "$("$project/tools/kept" "system-$1" "$recipe")/root"
}
system_is_made() { [ -e "$(root_of "$1")/.made" ]; }

if [ "${1:-}" = --customize-system ]; then
  customize_system "$2"
  exit
fi

[ "$(id -u)" -eq 0 ] || skip "needs root (to make the systems and their disks)"
# mmdebstrap checks with arch-test that the machine runs the board's programs.
"$project/tools/need" mmdebstrap arch-test qemu-user-static qemu-system-arm device-tree-compiler e2fsprogs
command -v qemu-system-aarch64 >/dev/null || skip "needs qemu-system-aarch64"
command -v qemu-system-arm >/dev/null || skip "needs qemu-system-arm"

if [ "${1:-}" = --make-system ]; then
  work=$2 system=$3
  [ -n "${release[$system]:-}" ] || { echo "no system $system: ${systems[*]}" >&2; exit 2; }
  mkdir -p "$work/$system"
  system_is_made "$system" && exit
  root=$(root_of "$system") log=$work/$system/make-system.log
  echo "making the Debian $system system in $root, once (log: $log)"
  start=$SECONDS
  if ! make_system "$system" "$root" >"$log" 2>&1; then
    echo "making the $system system failed; the end of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
  touch "$root/.made"
  echo "   made in $((SECONDS - start)) s"
  exit
fi

if [ $# -ne 4 ]; then
  echo "usage: whole_system.sh --make-system <work dir> bullseye-armhf|trixie-arm64" >&2
  echo "       whole_system.sh <source dir> <work dir> <wiringPi's sources> <dist dir>" >&2
  exit 2
fi
# Absolute, as the boards' builds take them from their own folders.
source_dir=$(realpath "$1") work=$(realpath -m "$2") sources=$3 dist=$(realpath -m "$4")
start=$SECONDS
[ -n "$sources" ] || skip "needs the GPIO library's sources (its release tarball or a source folder)"
# The library's sources checked and unpacked, and the machine to this test
# alone (the boots' timing is the emulator's).
# shellcheck source=../process/emulated_board.sh
. "$source_dir/tests/process/emulated_board.sh" "$source_dir" "$work" "$sources" "the whole-system test"
for system in "${systems[@]}"; do
  system_is_made "$system" || "$here/whole_system.sh" --make-system "$work" "$system"
done
version=$(dpkg-parsechangelog -l "$source_dir/packaging/changelog" -SVersion)

# bring <system>: the disk with what the test brings to that system.
bring() {
  local system=$1 a=${arch[$1]} bring=$work/$1/bring
  rm -rf "$bring"
  mkdir -p "$bring"
  # The stand-in library and register-module are built as the release is,
  # against Debian 11's C library, from the release's own board root: one
  # built with this machine's would ask for a newer one than Debian 11 has.
  local root
  root=$("$source_dir/tools/board-root" "$a")
  board_library "$root" "${triple[$a]}" "$work/$system/library"
  standin_package_of "$work/$system/library" "$a" "$bring/wiringpi_3.14_$a.deb"
  build_against "$work/$system/register-module" "$work/$system/library" register-module \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/${triple[$a]}.cmake" -DCMAKE_SYSROOT="$root"
  cp "$work/$system/register-module/register-module" "$bring/"
  local package=$dist/ranging_${version}_$a.deb
  [ -f "$package" ] || { echo "no $package: tools/release makes it" >&2; exit 1; }
  cp "$package" "$bring/"
  # The newer package that the test installs over the running service: the
  # release's, with a newer version in its control file.
  newer_package "$package" "$version+1" "$bring/ranging_${version}+1_$a.deb"
  install -m 755 "$here/guest_steps.sh" "$bring/steps"
  printf 'version=%s\narch=%s\nsystem=%s\n' "$version" "$a" "$system" >"$bring/settings"
  mkfs.ext4 -q -F -L ranging-test -d "$bring" "$work/$system/bring.img" 64M >/dev/null
  mkfs.ext4 -q -F -d "$(root_of "$system")" "$work/$system/system.img" 2G >/dev/null
  echo "   $system: $(cd "$bring" && printf '%s\n' * | paste -sd' ')"
}

# newer_package <deb> <version> <newer deb>: the same package, another version.
newer_package() {
  local tree=$work/newer
  rm -rf "$tree"
  dpkg-deb -R "$1" "$tree"
  sed -i "s/^Version: .*/Version: $2/" "$tree/DEBIAN/control"
  dpkg-deb --root-owner-group -Zxz --build "$tree" "$3" >/dev/null
}

echo "== what the test brings to each system: the packages, register-module and the steps"
for system in "${systems[@]}"; do bring "$system"; done

# Each boot: its system and which of its boots it is, its kernel (of which
# system, and which), its emulator, CPU and machine, and the board it is
# named as.
boots=(
  "bullseye-armhf 1 bullseye-armhf armmp-lpae qemu-system-arm    cortex-a15 virt,highmem=off pi3"
  "bullseye-armhf 2 trixie-arm64   arm64      qemu-system-aarch64 cortex-a72 virt            pi4"
  "trixie-arm64   1 trixie-arm64   arm64      qemu-system-aarch64 cortex-a72 virt            pi4"
  "trixie-arm64   2 trixie-arm64   arm64-16k  qemu-system-aarch64 cortex-a76 virt            pi5"
)
declare -A revision=([pi3]=a02082 [pi4]=c03111 [pi5]=d04170)
# A boot may take this long in all. Its steps' first line comes within
# the first limit after power-on (the kernel and systemd start, about a
# minute under emulation); after that a line, at least a heartbeat, comes
# every 10 s while the steps go on: a boot with none for the second limit
# has stalled, and is ended.
boot_limit=420 first_line_limit=180 stall_limit=60

# watch_steps <n> <console log> <qemu's pid file> <boot's pid>: while the
# boot runs, ends it when its steps stall, and says so.
watch_steps() {
  local n=$1 console=$2 pidfile=$3 boot=$4 lines=0 now last=$SECONDS limit=$first_line_limit
  while kill -0 "$boot" 2>/dev/null; do
    sleep 2
    now=$(grep -c 'ranging-test: ' "$console" || true)
    if [ "$now" != "$lines" ]; then
      lines=$now last=$SECONDS limit=$stall_limit
    elif [ $((SECONDS - last)) -gt "$limit" ] && [ -s "$pidfile" ]; then
      echo "   wrong: boot $n stalled: no line from its steps for $limit s; the last step it named:"
      grep 'ranging-test: ' "$console" | tail -n 1 | sed 's/^.*ranging-test: /   | /'
      kill "$(cat "$pidfile")" 2>/dev/null
      return 1
    fi
  done
}

# boot <n> <system> <stage> <kernel's system> <kernel> <qemu> <cpu> <machine>
# <board>: its steps print their verdicts on the console, kept in
# console-<n>.log.
boot() {
  local n=$1 system=$2 stage=$3 kernel_system=$4 flavour=$5 qemu=$6 cpu=$7 machine=$8 board=$9 began=$SECONDS
  local boot_dir dtb=$work/boot-$n.dtb
  boot_dir=$(root_of "$kernel_system")/boot
  local kernel_files=("$boot_dir"/vmlinuz-*-"$flavour") initrd_files=("$boot_dir"/initrd.img-*-"$flavour")
  local kernel=${kernel_files[0]} initrd=${initrd_files[0]}
  local hardware=(-cpu "$cpu" -smp 2 -m 1024 -nic none -display none -monitor none)
  # QEMU's own device tree for the machine, with the board's revision where
  # the GPIO library reads it first.
  "$qemu" -machine "$machine,dumpdtb=$dtb" "${hardware[@]}" >/dev/null 2>&1
  fdtput -c "$dtb" /system
  fdtput -t x "$dtb" /system linux,revision "${revision[$board]}"
  echo "== boot $n: Debian $system, its boot $stage, $(basename "$kernel") ($cpu), as a ${board/pi/Pi }"
  local console=$work/console-$n.log pidfile=$work/qemu-$n.pid stalled=0 running
  : >"$console"
  rm -f "$pidfile"
  # The console shows the steps' lines as the journal forwards them, after
  # a time stamp and the unit's name; the heartbeats are not shown.
  timeout $boot_limit "$qemu" -machine "$machine" "${hardware[@]}" -dtb "$dtb" -kernel "$kernel" -initrd "$initrd" \
    -append "root=/dev/vda rw console=ttyAMA0 quiet systemd.show_status=false ranging.stage=$stage" \
    -drive file="$work/$system/system.img",if=virtio,format=raw \
    -drive file="$work/$system/bring.img",if=virtio,format=raw \
    -pidfile "$pidfile" -serial stdio -no-reboot </dev/null 2>&1 | sed -u 's/\r//g' | tee "$console" |
    sed -u -n '/ranging-test: still in: /d; s/^.*ranging-test: /   /p' &
  running=$!
  watch_steps "$n" "$console" "$pidfile" "$running" || stalled=1
  wait "$running"
  echo "   boot $n took $((SECONDS - began)) s, from power-on to power-off"
  if [ $stalled = 1 ] || ! grep -q 'ranging-test: verdict: ' "$console"; then
    echo "   wrong: boot $n ($system, as a ${board/pi/Pi }): no verdict; the end of $console:"
    tail -n 20 "$console" | sed 's/^/   | /'
    return 1
  fi
  grep -q 'ranging-test: verdict: right$' "$console"
}
failed=0 n=0
for row in "${boots[@]}"; do
  n=$((n + 1))
  # shellcheck disable=SC2086 # the boot's words
  boot $n $row || failed=1
done
echo "== the whole-system test took $((SECONDS - start)) s: $([ $failed = 0 ] && echo right || echo wrong)"
exit $failed
