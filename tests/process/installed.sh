#!/usr/bin/env bash
# ranging as its package installs it and its service runs it, built against
# the real GPIO library, on a Pi 4's registers emulated in a file
# (emulated_board.sh):
#   installed.sh <source dir> <work dir> <wiringPi's sources>
# 1. The package, built from the build tree: lintian finds nothing, it holds
#    what it should, and installed with dpkg into a scratch root beside a
#    stand-in wiringpi package built from the library, the program and its
#    manual page are where users look; purged, nothing of it is left.
# 2. Least privilege: the program run as an unprivileged user whose only
#    group owns the register file, with exactly the grants the unit names
#    (its ambient capabilities, its memory-lock limit): every reading right,
#    nothing on standard error, memory locked; without the capabilities,
#    the one line on standard error and the readings still printed.
# 3. System calls: each one the program makes from its start through its
#    readings to SIGTERM (strace) is allowed by the unit's SystemCallFilter=
#    as systemd-analyze expands it; a copy of the unit that also forbids
#    @resources fails, naming what it forbids.
# Exits 77 (skipped) without the library's sources or without root.
set -euo pipefail
# shellcheck source=emulated_board.sh
. "$(dirname "$0")/emulated_board.sh" "$1" "$2" "${3:-}" "the test of the package as installed"
unit=$source_dir/packaging/ranging.service
echoes="150 1500 7000 12500 none"
gpio_gid=4242 nobody=65534
failed=0
wrong() {
  echo "   wrong: $*"
  failed=1
}

prepare_builds native
build=$work/native

echo "== the package"
cmake -S "$source_dir" -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
deb=$(cmake --build "$build" --target deb | grep '\.deb$')
version=$(sed -n 's/^project(ranging VERSION \([0-9.]*\) .*/\1/p' "$source_dir/CMakeLists.txt")
[ "$(basename "$deb")" = "ranging_${version}_$(dpkg --print-architecture).deb" ] || wrong "named $deb"
# Clean, and built as Debian builds packages: no hardening tag even among
# lintian's notes.
notes=$(lintian -I "$deb" 2>/dev/null) || true
! grep -E '^[EW]: |hardening-' <<<"$notes" || wrong "lintian: as above"
# The unit where that release's debhelper puts it.
contents=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub("^\\./", "", $6); print $6 }' | sort)
unit_path=$(grep 'lib/systemd/system/ranging.service$' <<<"$contents" || true)
case $unit_path in
  lib/systemd/system/ranging.service | usr/lib/systemd/system/ranging.service) ;;
  *) wrong "the unit is at \"$unit_path\"" ;;
esac
expected=$( {
  printf '%s\n' usr/bin/ranging usr/share/man/man1/ranging.1.gz "$unit_path" \
    usr/share/doc/ranging/{README.md,copyright,changelog.gz}
  cd "$source_dir" && printf 'usr/share/doc/ranging/%s\n' docs/*.md
} | sort)
[ "$contents" = "$expected" ] || wrong "it holds:"$'\n'"$contents"
# debhelper's maintainer scripts, which start, restart, stop and forget the
# service.
scripts=$(dpkg-deb -I "$deb" | awk '$NF == "#!/bin/sh" { print $(NF - 1) }' | paste -sd' ')
[ "$scripts" = "postinst postrm prerm" ] || wrong "maintainer scripts: $scripts"
echo "   $(du -k "$deb" | cut -f1) kB; Depends: $(dpkg-deb -f "$deb" Depends); maintainer scripts: $scripts"

standin_package native "$work/wiringpi.deb"

# The scratch root's package database lists this machine's C library as
# installed, but holds none of its files. It is where any user may
# reach it, since the program runs from it as nobody below.
private=$(mktemp -d /tmp/ranging-installed.XXXXXX)
trap 'rm -rf "$private"' EXIT
chmod 755 "$private"
mkdir -m 1777 "$private/out"
scratch=$private/root
# systemd's state folder is there, as on any system with systemd: the
# maintainer scripts keep the service's state in it.
mkdir -p "$scratch/var/lib/dpkg/info" "$scratch/var/lib/dpkg/updates" "$scratch/var/lib/systemd"
dpkg-query --status libc6 >"$scratch/var/lib/dpkg/status"
: >"$scratch/var/lib/dpkg/info/libc6:$(dpkg --print-architecture).list"
files_in() { (cd "$scratch" && find . ! -path './var/lib/dpkg*' | sort); }
# The maintainer scripts run here, not chrooted, with DPKG_ROOT telling them
# where: the scratch root has no shell of its own.
dpkg=(dpkg --root="$scratch" --force-script-chrootless)
"${dpkg[@]}" --install "$work/wiringpi.deb" >/dev/null
before=$(files_in)
"${dpkg[@]}" --install "$deb" >/dev/null
[ -x "$scratch/usr/bin/ranging" ] || wrong "no /usr/bin/ranging"
[ "$(man --manpath="$scratch/usr/share/man" -w 1 ranging)" = "$scratch/usr/share/man/man1/ranging.1.gz" ] ||
  wrong "man 1 ranging finds no page"
installed=("$scratch/usr/bin/ranging")

# as_service <run> <with capabilities: yes or no> <command...>: runs the
# command as the unit would, on a Pi 4: the register file the gpio group's,
# the user nobody with that group alone, the unit's memory-lock limit and,
# with yes, its ambient capabilities.
caps=$(sed -n 's/^AmbientCapabilities=//p' "$unit" | tr 'A-Z ' 'a-z\n' | sed -n 's/^cap_\(.*\)/+\1/p' | paste -sd,)
memlock=$(numfmt --from=iec "$(sed -n 's/^LimitMEMLOCK=//p' "$unit")")
as_service() {
  local run=$1 granted=$2
  shift 2
  local grant=()
  [ "$granted" = no ] || grant=(--inh-caps="$caps" --ambient-caps="$caps")
  # shellcheck disable=SC2016 # the inner shell expands its own arguments
  in_board pi4 "$module" pi4 /dev/gpiomem "$echoes" -- sh -ec '
    chgrp "$1" /dev/gpiomem && chmod 660 /dev/gpiomem
    shift
    exec "$@"' - "$gpio_gid" env LD_LIBRARY_PATH="$scratch/usr/lib" prlimit --memlock="$memlock:$memlock" \
      setpriv --reuid=$nobody --regid=$nobody --groups=$gpio_gid "${grant[@]}" -- "$@" >"$work/$run"
}

echo "== least privilege: as nobody in the registers' group, with the unit's grants ($caps, memory lock $memlock bytes)"
as_service granted yes "${installed[@]}" || true
sed 's/^/   /' "$work/granted"
# register-module's verdict, as in the real-library test: every reading right
# (or left out where the module could not place its echo), nothing on
# standard error, the set-up right.
[ "$(tail -n 1 "$work/granted")" = right ] || wrong "register-module's verdict, above"
grep -q '^standard error' "$work/granted" && wrong "the priority was refused"
grep -q '^memory locked: [1-9][0-9]* kB$' "$work/granted" || wrong "no memory locked"

echo "== without the capabilities: the one line on standard error, which register-module reports, is expected"
as_service refused no "${installed[@]}" || true
sed 's/^/   /' "$work/refused"
grep -qx 'ranging: no real-time priority granted; timing at normal priority, so a busy board loses readings' \
  "$work/refused" || wrong "not the one line on standard error"
[ "$(grep -c '^reading [0-9]*: .*: [0-9.]* cm' "$work/refused")" -eq 5 ] || wrong "readings not printed"

# allowed <unit>: the system calls its SystemCallFilter= lines allow: those
# of every line without ~, less those of every line with it.
expand() {
  local name
  systemd-analyze syscall-filter "$1" | sed -n 's/^ \+\([@a-z0-9_-]\+\)$/\1/p' | while read -r name; do
    case $name in @*) expand "$name" ;; *) echo "$name" ;; esac
  done
}
allowed() {
  local line sets allow="" deny=""
  while read -r line; do
    for sets in ${line#\~}; do
      if [ "${line:0:1}" = "~" ]; then deny+=$(expand "$sets")$'\n'; else allow+=$(expand "$sets")$'\n'; fi
    done
  done < <(sed -n 's/^SystemCallFilter=//p' "$1")
  comm -23 <(sort -u <<<"$allow") <(sort -u <<<"$deny")
}
# forbidden <unit>: the program's calls that the unit does not allow.
forbidden() { comm -23 "$work/calls" <(allowed "$1") | paste -sd' '; }

echo "== system calls, from start to SIGTERM, against the unit's filter"
# strace detaches from its program when it is killed: the program is ended
# as the module would end it, and strace with it.
# shellcheck disable=SC2016 # the inner shell expands its own arguments
as_service traced yes sh -c 'strace -f -qq -o "$0" "$@" & tracer=$!
  trap "kill -TERM \$(cat /proc/$tracer/task/$tracer/children); wait $tracer" TERM
  wait $tracer' "$private/out/trace" "${installed[@]}" || true
sed -n 's/^[0-9]\+ \+\([a-z0-9_]\+\)(.*/\1/p' "$private/out/trace" | sort -u >"$work/calls"
echo "   $(wc -l <"$work/calls") calls: $(paste -sd' ' "$work/calls")"
[ "$(wc -l <"$work/calls")" -gt 10 ] || wrong "too few calls traced"
denied=$(forbidden "$unit")
[ -z "$denied" ] || wrong "the unit forbids $denied"
printf 'SystemCallFilter=~@resources\n' | cat "$unit" - >"$work/forbids-resources.service"
denied=$(forbidden "$work/forbids-resources.service")
echo "   with ~@resources added, the unit forbids: $denied"
[[ " $denied " == *" sched_setscheduler "* ]] ||
  wrong "~@resources forbids no sched_setscheduler"

echo "== purged"
"${dpkg[@]}" --purge ranging >/dev/null
[ "$(files_in)" = "$before" ] || wrong "left behind: $(diff <(echo "$before") <(files_in) | grep '^>')"
exit $failed
