#!/usr/bin/env bash
# Makes ranging's Debian package from a configured build tree, as Debian
# makes every package (the `deb` target runs it):
#   build_deb.sh <source dir> <build dir> <architecture> <board's root, or ""> -- <cmake settings...>
# 1. The program is built again, in <build dir>/deb/build, with the settings
#    given (the build tree's toolchain, board and GPIO library) and the
#    flags Debian builds packages with, dpkg-buildflags', all hardening on,
#    for the package's architecture.
# 2. It is installed into the package's tree, and debhelper does the rest:
#    the service unit with the maintainer scripts that install, upgrade,
#    remove and purge it (dh_installsystemd), the copyright file, the
#    changelog, stripping, the control file.
# 3. The same tree gives the same bytes: every time stamp is the changelog's
#    (SOURCE_DATE_EPOCH, which debhelper and dpkg-deb clamp to), no path of
#    the build's is recorded in the program, and the environment that could
#    leak into the build (locale, time zone, umask) is fixed.
# It writes <build dir>/ranging_<version>_<architecture>.deb and prints its
# path, and beside it dpkg-genbuildinfo's record of what built it,
# ranging_<version>_<architecture>.buildinfo. The version is the
# changelog's. The C library dependency is what dpkg-shlibdeps
# finds: against this machine's packages, or, for a build from a board's
# root, against that root's own package database (<root>/var/lib/dpkg).
set -euo pipefail
source_dir=$1 build=$2 arch=$3 root=$4
shift 5 # and the --
deb=$build/deb
rm -rf "$deb"
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$source_dir/packaging/changelog" -STimestamp)
export LC_ALL=C.UTF-8 TZ=UTC
unset LANG LANGUAGE
umask 022

# Everything below works for the package's architecture.
eval "$(dpkg-architecture -a"$arch" -s 2>/dev/null)"

echo "building the program for the package, with Debian's build flags, in $deb/build" >&2
# The flags as debhelper hands them to CMake: the preprocessor's with the
# compiler's. The build type adds none of its own.
flags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)
# The paths the compiler would record (in the debug information that the
# build ID is computed over, before stripping) are written as ".", "build"
# and "root" for the source, the build and the board's root; the longest
# last, as the compilers take the last that fits (clang before 15, the
# longest).
prefix_maps=$(
  for mapped in "$source_dir=." "$build=build" ${root:+"$root=root"}; do
    dir=$(realpath "${mapped%=*}")
    echo "${#dir} -ffile-prefix-map=$dir=${mapped##*=}"
  done | sort -n | cut -d' ' -f2 | paste -sd' '
)
(
  eval "$flags"
  export CFLAGS="$CPPFLAGS $CFLAGS $prefix_maps" CXXFLAGS="$CPPFLAGS $CXXFLAGS $prefix_maps"
  # No run path: the build tree's would name the GPIO library's folder.
  cmake -S "$source_dir" -B "$deb/build" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_SKIP_RPATH=ON -DRANGING_TESTS=OFF "$@" >/dev/null
)
cmake --build "$deb/build" --target ranging -j"$(nproc)" >/dev/null

# The package's tree, debian/ranging, beside what debhelper reads.
source=$deb/source
package=$source/debian/ranging
mkdir -p "$source/debian"
DESTDIR=$package cmake --install "$deb/build" >/dev/null
rm "$package/usr/share/doc/ranging/LICENSE" # Debian keeps it in the copyright file
cp "$source_dir/packaging/control" "$source_dir/packaging/copyright" "$source_dir/packaging/changelog" \
  "$source/debian/"
cp "$source_dir/packaging/ranging.service" "$source/debian/ranging.service"
# Built from a board's root, it is built with clang and lld, and stripped
# with the board's binutils: its record names them beside what the control
# file asks for.
if [ -n "$root" ]; then
  sed -i "s/^Build-Depends: .*/&, clang, lld, binutils-$DEB_HOST_GNU_TYPE/" "$source/debian/control"
fi

# dpkg-shlibdeps asks the package database for a library by the path it
# found it at, inside the root: a copy of the root's database whose file
# lists carry the root's prefix answers it.
gpio_library=$(sed -n 's/^WIRINGPI_LIBRARY:FILEPATH=//p' "$deb/build/CMakeCache.txt")
shlibdeps=(dpkg-shlibdeps -Tdebian/ranging.substvars --ignore-missing-info -l"$(dirname "$gpio_library")")
if [ -n "$root" ]; then
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

cd "$source"
version=$(dpkg-parsechangelog -SVersion)
{
  dh_installdocs
  dh_installchangelogs
  # Installed, neither enabled nor started: see the README.
  dh_installsystemd --no-enable
  dh_strip --no-automatic-dbgsym
  dh_compress -X.md # the documents link to each other by name
  dh_fixperms
  dh_installdeb
  # The GPIO library, whose name carries no version, comes from no package
  # dpkg-shlibdeps knows of: the control file names it. Any other warning (a
  # library the program need not load, one not found) is an error.
  "${shlibdeps[@]}" debian/ranging/usr/bin/ranging 2>"$deb/shlibdeps.log"
  if grep -v "libwiringPi\.so" "$deb/shlibdeps.log" >&2; then
    exit 1
  fi
  if ! grep -q '^shlibs:Depends=libc6' debian/ranging.substvars; then
    echo "dpkg-shlibdeps found no C library dependency: $(cat debian/ranging.substvars)" >&2
    exit 1
  fi
  dh_gencontrol
  dh_md5sums
  dh_builddeb --destdir="$build"
  # Its Build-Date would be the only field to change from build to build:
  # it is the changelog's date too.
  dpkg-genbuildinfo --build=any -u"$build" -O"$deb/buildinfo"
  sed "s/^Build-Date: .*/Build-Date: $(date -R -d "@$SOURCE_DATE_EPOCH")/" "$deb/buildinfo" \
    >"$build/ranging_${version}_$arch.buildinfo"
} >"$deb/debhelper.log"
echo "$build/ranging_${version}_$arch.deb"
