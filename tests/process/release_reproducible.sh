#!/usr/bin/env bash
# The release is what it says, and the same bytes every time:
#   release_reproducible.sh <source dir> <work dir>
# It takes the release that tools/release made in <source dir>/dist and
# checks it: its sums, the armhf program at the ARMv6 level, lintian with
# nothing to say of either package's hardening, and its dependencies: no C
# library newer than Debian 11's, and the GPIO library's 3.x. Then it makes
# the release again from a clone of the same commit, at another path, later,
# under another umask, time zone and locale, and compares the two
# SHA256SUMS: any time stamp, build path or setting that reached the files
# makes them differ, and diffoscope then shows where. The clone's release
# builds against a copy of the boards' kept roots at another path too
# (RANGING_KEPT), which saves their making and keeps a root's path out of
# the bytes.
set -euo pipefail
source_dir=$(realpath "$1") work=$2
dist=$source_dir/dist
failed=0
wrong() {
  echo "   wrong: $*"
  failed=1
}
[ -f "$dist/SHA256SUMS" ] || { echo "no $dist/SHA256SUMS: tools/release makes it" >&2; exit 1; }

echo "== the release in $dist"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || wrong "its files do not match SHA256SUMS"
for deb in "$dist"/*.deb; do
  arch=$(dpkg-deb -f "$deb" Architecture)
  notes=$(lintian -I "$deb" 2>/dev/null) || true
  ! grep -E '^[EW]: |hardening-' <<<"$notes" || wrong "lintian, on the $arch package: as above"
  depends=$(dpkg-deb -f "$deb" Depends)
  libc=$(sed -n 's/.*libc6 (>= \([0-9.]*\)).*/\1/p' <<<"$depends")
  if [ -z "$libc" ] || [ "$(printf '%s\n' "$libc" 2.31 | sort -V | tail -n 1)" != 2.31 ] ||
    [ "${depends#*, }" != "wiringpi (>= 3.0)" ]; then
    wrong "the $arch package depends on: $depends"
  fi
  echo "   $(basename "$deb"): Depends: $depends"
done
extracted=$work/armhf
rm -rf "$extracted"
mkdir -p "$work"
dpkg-deb -x "$dist"/ranging_*_armhf.deb "$extracted"
level=$(arm-linux-gnueabihf-readelf -A "$extracted/usr/bin/ranging" | sed -n 's/^ *Tag_CPU_arch: //p')
echo "   the armhf program's level: $level"
[ "$level" = v6 ] || wrong "not ARMv6"

echo "== the release again, from a clone elsewhere, under umask 077, TZ=NZST-12 and LC_ALL=POSIX"
clone=$work/elsewhere/at/another/depth/ranging
rm -rf "$work/elsewhere"
(
  umask 077
  git clone -q "$source_dir" "$clone"
  git -C "$clone" checkout -q "$(git -C "$source_dir" rev-parse HEAD)"
  kept=$(realpath -m "$work/elsewhere/kept")
  mkdir -p "$kept"
  for arch in armhf arm64; do
    cp -a "$(dirname "$("$source_dir/tools/board-root" "$arch")")" "$kept/"
  done
  TZ=NZST-12 LC_ALL=POSIX RANGING_KEPT=$kept "$clone/tools/release"
) | sed 's/^/   /'
if cmp -s "$dist/SHA256SUMS" "$clone/dist/SHA256SUMS"; then
  echo "   the same SHA256SUMS:"
  sed 's/^/   /' "$dist/SHA256SUMS"
else
  wrong "the two releases differ:"
  diff "$dist/SHA256SUMS" "$clone/dist/SHA256SUMS" | sed 's/^/   /' || true
  "$source_dir/tools/need" diffoscope-minimal
  while read -r _ file; do
    cmp -s "$dist/$file" "$clone/dist/$file" ||
      diffoscope --no-progress "$dist/$file" "$clone/dist/$file" 2>&1 | head -n 40 | sed 's/^/   | /'
  done <"$dist/SHA256SUMS"
fi
exit $failed
