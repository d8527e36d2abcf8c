#!/usr/bin/env bash
# Checks the service unit as systemd reads it: `systemd-analyze verify`
# passes, with ExecStart pointed at a program built here (the unit's own,
# /usr/bin/ranging, is there only once the package is installed), and its
# exposure offline is at most 1.5, which it prints:
#   service_unit.sh <unit> <program>
set -euo pipefail
unit=$1 program=$2
most=1.5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed "s|^ExecStart=/usr/bin/ranging$|ExecStart=$program|" "$unit" >"$work/ranging.service"
grep -q "^ExecStart=$program$" "$work/ranging.service"
systemd-analyze verify --man=no "$work/ranging.service"
score=$(systemd-analyze security --offline=yes "$work/ranging.service" |
  sed -n 's/^→ Overall exposure level for ranging.service: \([0-9.]*\) .*/\1/p')
echo "exposure: ${score:-none printed} (at most $most)"
awk -v score="$score" -v most="$most" 'BEGIN { exit !(score != "" && score + 0 <= most + 0) }'
