#!/usr/bin/env bash
# Makes ranging's Debian package from a build tree in which `ranging` is
# built (the `deb` target runs it):
#   build_deb.sh <source dir> <build dir> <version> <architecture> <GPIO library's folder> [<board's root>]
# It installs the build into a staging tree under /usr, stripped, adds what
# Debian's policy asks for beside it, and writes
# <build dir>/ranging_<version>_<architecture>.deb. The C library dependency
# is what dpkg-shlibdeps finds: against this machine's packages, or, for a
# build from a board's root, against that root's own package database
# (<root>/var/lib/dpkg). The GPIO library is the maintained wiringPi's own
# package, in no distribution's archive: named here, from the version whose
# Pi 5 support the program needs.
set -euo pipefail
source_dir=$1 build=$2 version=$3 arch=$4 gpio_library=$5 root=${6:-}
wiringpi_dependency="wiringpi (>= 3.0)"
maintainer="the ranging authors <ranging-authors@example.org>"

deb=$build/deb
stage=$deb/ranging_${version}_$arch
rm -rf "$deb"
mkdir -p "$stage/DEBIAN"
DESTDIR=$stage cmake --install "$build" --prefix /usr --strip >/dev/null
doc=$stage/usr/share/doc/ranging
# Debian keeps the licence in the copyright file, the manual page and the
# changelog compressed.
rm "$doc/LICENSE"
cp "$source_dir/packaging/copyright" "$doc/copyright"
gzip -9n <"$source_dir/packaging/changelog" >"$doc/changelog.gz"
gzip -9n "$stage/usr/share/man/man1/ranging.1"
# The service unit, where systemd looks for a package's units (on Debian 13
# the only place lintian accepts; Debian 11 and 12 look there too).
install -D -m 644 "$source_dir/packaging/ranging.service" "$stage/usr/lib/systemd/system/ranging.service"

# dpkg-shlibdeps reads a package's name from debian/control, in a folder of
# its own.
mkdir -p "$deb/source/debian"
printf 'Source: ranging\n\nPackage: ranging\nArchitecture: any\n' >"$deb/source/debian/control"
shlibdeps=(dpkg-shlibdeps -O --ignore-missing-info -l"$gpio_library")
if [ -n "$root" ]; then
  # dpkg-shlibdeps asks the package database for a library by the path it
  # found it at, inside the root: a copy of the root's database whose file
  # lists carry the root's prefix answers it.
  admin=$deb/admin
  mkdir -p "$admin/info"
  cp "$root/var/lib/dpkg/status" "$admin/status"
  for file in "$root"/var/lib/dpkg/info/*; do
    case $file in
      *.list) sed "s|^|$root|" "$file" >"$admin/info/$(basename "$file")" ;;
      *.symbols | *.shlibs | */format) cp "$file" "$admin/info/" ;;
    esac
  done
  shlibdeps+=(--admindir="$admin")
  for dir in "$root"/lib/*-linux-gnu* "$root"/usr/lib/*-linux-gnu* "$root/usr/local/lib"; do
    [ -d "$dir" ] && shlibdeps+=(-l"$dir")
  done
fi
# The GPIO library, whose name carries no version, comes from no package
# dpkg-shlibdeps knows of: it is named above. Any other warning (a library
# the program need not load, one not found) is an error.
depends=$(cd "$deb/source" && "${shlibdeps[@]}" "$stage/usr/bin/ranging" 2>"$deb/shlibdeps.log" |
  sed -n 's/^shlibs:Depends=//p')
if grep -v "libwiringPi\.so" "$deb/shlibdeps.log" >&2; then
  exit 1
fi
case $depends in
  libc6*) ;;
  *) echo "dpkg-shlibdeps found no C library dependency: \"$depends\"" >&2; exit 1 ;;
esac

cat >"$stage/DEBIAN/control" <<CONTROL
Package: ranging
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $depends, $wiringpi_dependency
Section: electronics
Priority: optional
Description: distance readings from an ultrasonic module on a Raspberry Pi
 ranging measures distance with an ultrasonic time-of-flight module wired to
 two GPIO lines of a Raspberry Pi. About once a second it sends the module a
 10 microsecond trigger pulse, times the echo, and prints the distance in
 centimetres, one line a reading, until it is killed.
 .
 A service unit runs it without root, its readings in the journal.
CONTROL
(cd "$stage" && find . -type f ! -path './DEBIAN/*' | sed 's|^\./||' | sort | xargs md5sum) >"$stage/DEBIAN/md5sums"
fakeroot dpkg-deb --build -Zxz "$stage" "$build/ranging_${version}_$arch.deb" >/dev/null
echo "$build/ranging_${version}_$arch.deb"
