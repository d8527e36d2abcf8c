#!/usr/bin/env bash
# The release is what it says, and the same bytes every time:
#   release_reproducible.sh <source dir> <work dir>
# It takes the release that tools/release made in <source dir>/dist and
# checks it: its sums, the armhf program at the ARMv6 level, lintian with
# nothing to say of either package's hardening, and its dependencies: no C
# library newer than Debian 11's, and the GPIO library's 3.x. Then it makes
# the release again from a clone of the same commit, at another path, later,
# under another umask, time zone and locale, and compares the two
# SHA256SUMS, and the apt repositories' files but the signatures, which
# differ from one run to the next and are checked with the repository's
# own keyring instead: any time stamp, build path or setting that reached
# the files makes them differ, and diffoscope then shows where. The clone's
# release
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

# verified <repository>: its Release's two signatures, by its own keyring.
verified() {
  local release=$1/dists/stable keyring=$1/ranging-archive-keyring.gpg
  gpgv --keyring "$keyring" "$release/InRelease" 2>/dev/null &&
    gpgv --keyring "$keyring" "$release/Release.gpg" "$release/Release" 2>/dev/null
}
# unsigned_sums <repository>: the sums of its files, the signatures left out.
unsigned_sums() {
  (cd "$1" && find . -type f ! -name InRelease ! -name Release.gpg | sort | xargs sha256sum)
}
echo "== the apt repository in $dist/apt"
if [ -f "$dist/apt/dists/stable/InRelease" ]; then
  if verified "$dist/apt"; then
    echo "   signed: InRelease and Release.gpg verify with its keyring"
  else
    wrong "its Release's signatures do not verify with its keyring"
  fi
else
  echo "   unsigned: RANGING_SIGNING_GNUPGHOME names no key"
fi

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
if [ "$(unsigned_sums "$dist/apt")" = "$(unsigned_sums "$clone/dist/apt")" ]; then
  echo "   the same apt repository, but for its signatures"
else
  wrong "the two apt repositories differ:"
  diff <(unsigned_sums "$dist/apt") <(unsigned_sums "$clone/dist/apt") | sed 's/^/   /' || true
fi
if [ -f "$dist/apt/dists/stable/InRelease" ] && ! verified "$clone/dist/apt"; then
  wrong "the second apt repository's signatures do not verify with its keyring"
fi
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
