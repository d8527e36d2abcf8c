#!/bin/bash
# The whole-system test's steps inside a booted board system (see
# whole_system.sh, and the list in docs/testing.md): run at each boot, before
# ranging's service may start, by the system's ranging-test unit from the
# disk labelled ranging-test. It puts the registers in place where the boot
# needs them, then goes on in the background, so that the boot goes on too.
# Each step prints its verdict and time on the console, in lines that begin
# "ranging-test: "; each boot ends with "ranging-test: verdict: right" (or
# wrong) and powers the machine off. A system's first boot installs the
# package and runs the service through its life up to an upgrade; its second
# finds it started by itself, then removes and purges it. Which of the two
# this is, the host says on the kernel's command line (ranging.stage=1 or
# 2), whatever the boot before left on the disks. Every 10 s a heartbeat
# line names the step under way, so that the host sees the steps go on.
set -uo pipefail
disk=/run/ranging-test
cd "$disk" || exit 1
# What the host wrote in settings: version, arch and system.
setting() { sed -n "s/^$1=//p" settings; }
version=$(setting version) arch=$(setting arch) system=$(setting system)
stage=$(tr ' ' '\n' </proc/cmdline | sed -n 's/^ranging\.stage=//p')
# The readings register-module plays, one a second: echo widths in µs, or
# none at all.
echoes="1500 5000 none 10000 3000 none 8000 600"
banner="Program is starting ..." # as the journal keeps it, without its trailing blank
unit=ranging.service
newer=$version+1

# The board the device tree names, and its register file.
revision=$(od -An -tx1 /proc/device-tree/system/linux,revision | tr -d ' \n')
case $revision in
  00a02082) board=pi3 board_name="Pi 3" registers=/dev/gpiomem ;;
  00c03111) board=pi4 board_name="Pi 4" registers=/dev/gpiomem ;;
  00d04170) board=pi5 board_name="Pi 5" registers=/dev/gpiomem0 ;;
  *) board=unknown board_name="board of revision $revision" registers=/dev/gpiomem ;;
esac

say() { echo "ranging-test: $*"; }

# journal_cursor: where the journal ends now.
journal_cursor() { journalctl -q -n 1 -o export | sed -n 's/^__CURSOR=//p'; }

# play_module <board> <register file> <echoes> <report>: register-module,
# in the background, plays the module on a new register file for the
# service's program, judging the lines the program writes into the journal
# from now on. Returns once the register file is there for the gpio group.
play_module() {
  local cursor
  cursor=$(journal_cursor)
  timeout 180 ./register-module --service "$1" "$2" "$3" -- journalctl -f -q -o cat --after-cursor="$cursor" \
    _SYSTEMD_UNIT=$unit _TRANSPORT=stdout >"$4" 2>&1 &
  module=$!
  for _ in $(seq 100); do
    [ -e "$2" ] && break
    sleep 0.1
  done
  chgrp gpio "$2" && chmod 660 "$2"
}

# The steps' verdicts: step <title> begins one, wrong <why> marks it wrong,
# and end_step prints its verdict and how long it took.
failed=0
step_file=/run/ranging-test-step
step() {
  title=$1
  problems=()
  step_start=$(date +%s.%N)
  echo "${step_start%.*} $title" >"$step_file"
}

# heartbeat: every 10 s, the step under way and how long it has taken. It
# falls silent once a step has gone on for longer than anything a step
# waits for (180 s at most), so that the host ends a boot whose steps have
# stalled.
step_limit=200
heartbeat() {
  local since title
  while sleep 10; do
    read -r since title <"$step_file" || continue
    [ $(($(date +%s) - since)) -gt $step_limit ] || say "still in: $title, for $(($(date +%s) - since)) s"
  done
}
wrong() { problems+=("$*"); }
note() { say "     $*"; }
end_step() {
  local took
  took=$(awk -v from="$step_start" -v to="$(date +%s.%N)" 'BEGIN { printf "%.1f", to - from }')
  if [ ${#problems[@]} -eq 0 ]; then
    say "right ($took s): $title"
  else
    say "WRONG ($took s): $title"
    local problem
    for problem in "${problems[@]}"; do note "$problem"; done
    failed=1
  fi
}

# module_verdict <report>: waits for register-module and takes its verdict.
# At a boot that started it before this went on in the background, it is no
# child of this shell's.
module_verdict() {
  wait "$module" 2>/dev/null
  while kill -0 "$module" 2>/dev/null; do sleep 0.2; done
  sed 's/^/  /' "$1" | while IFS= read -r line; do note "$line"; done
  [ "$(tail -n 1 "$1")" = right ] || wrong "register-module's verdict, above"
}

# main_pid: the service's main process; a step that needs it and finds
# none (0, which kill would take for this script's own process group) is
# wrong, and says how systemd saw the last one end.
main_pid() { systemctl show -P MainPID $unit; }
has_process() {
  [ "$(main_pid)" != 0 ] && return
  local code status
  code=$(systemctl show -P ExecMainCode $unit) status=$(systemctl show -P ExecMainStatus $unit)
  # ExecMainCode is the waitid() code: 1 exited, 2 killed, 3 dumped core.
  case $code in
    2 | 3) status="killed by SIG$(kill -l "$status")" ;;
    *) status="exit status $status" ;;
  esac
  wrong "the service has no process ($(systemctl show -P ActiveState $unit); the last one: $status)"
  end_step
  return 1
}

# apt_step <log> <apt arguments...>: runs apt, its output in the log; a
# failure marks the step wrong with the log's last lines.
apt_step() {
  local log=$1
  shift
  apt "$@" >"$log" 2>&1 || wrong "apt $1 failed: $(tail -n 3 "$log" | paste -sd'|')"
}

# wait_until <seconds> <command...>: polls the command, ten times a second.
wait_until() {
  local limit=$(($1 * 10))
  shift
  for _ in $(seq "$limit"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# entries <pid>: the lines the service's program wrote as that process,
# each as "<time in µs> <line>". A start is told by its process, not by its
# invocation: journald takes the invocation from the process's control
# group, which a start that fails at once may have left before journald
# looks (one of five starts on Debian 11 armhf had none), while the process
# comes with its stream.
entries() {
  journalctl -q -o export _SYSTEMD_UNIT=$unit _PID="$1" _TRANSPORT=stdout |
    awk '/^__REALTIME_TIMESTAMP=/ { sub(/^[^=]*=/, ""); at = $0 }
         /^MESSAGE=/ { sub(/^MESSAGE=/, ""); print at " " $0 }'
}

# note_first_lines <pid>: its first three lines, with their times.
note_first_lines() {
  note "its first lines:"
  entries "$1" | head -n 3 | while read -r at line; do
    note "  $(date -u -d "@${at:0:-6}.${at: -6}" +%T.%6N) $line"
  done
}

check_board() {
  step "the board is a $board_name, on a kernel with $(($(getconf PAGESIZE) / 1024)) KiB pages ($(uname -rm))"
  [ "$board" != unknown ] || wrong "the device tree names no board the test knows"
  end_step
}

# check_journal: the running process's lines, the banner first, with a
# time stamp of its own, then readings a second apart on average, none more
# than two apart (the journal stamps a line when it reads it, which under
# the emulator may be most of a second late: the next then follows soon),
# and nothing else: standard error, in the same log, would show here.
check_journal() {
  step "the journal: the banner first, on its own, then a reading a second, nothing else"
  local pid lines
  pid=$(main_pid)
  lines=$(entries "$pid")
  note_first_lines "$pid"
  awk -v banner="$banner" '
    NR == 1 { if (substr($0, index($0, " ") + 1) != banner) print "the first line is not the banner"; first = $1; next }
    NR == 2 && $1 == first { print "the banner shares its time stamp with the first reading" }
    $0 !~ /^[0-9]+ The distance is : [0-9]+\.[0-9][0-9] cm$/ { print "not a reading: " $0; next }
    last && $1 - last > 2000000 { printf "%.3f s between readings\n", ($1 - last) / 1e6 }
    !last { start = $1 }
    { last = $1; readings++ }
    END {
      if (NR < 3) print "only " NR " lines"
      else if (readings > 1 && (last - start) / (readings - 1) < 900000) printf "%.3f s between readings, on average\n", (last - start) / (readings - 1) / 1e6
    }' <<<"$lines" >problems
  while IFS= read -r problem; do wrong "$problem"; done <problems
  end_step
}

# check_process: the program as the unit runs it.
check_process() {
  step "the process: not root, in group gpio, CAP_SYS_NICE alone, seccomp, SCHED_RR 40, memory locked"
  local pid status gpio limit policy
  has_process || return
  pid=$(main_pid)
  status=$(cat /proc/"$pid"/status)
  field() { sed -n "s/^$1:[[:space:]]*//p" <<<"$status"; }
  gpio=$(getent group gpio | cut -d: -f3)
  limit=$(($(systemctl show -P LimitMEMLOCK $unit) / 1024))
  policy=$(chrt -p "$pid" | sed -n 's/.*policy: //p; s/.*priority: //p' | paste -sd' ')
  note "uid $(field Uid | cut -f1), groups $(field Groups), CapEff $(field CapEff), Seccomp $(field Seccomp)," \
    "$policy, VmLck $(field VmLck), VmSize $(field VmSize) (LimitMEMLOCK $limit kB)"
  [ "$(field Uid | cut -f1)" != 0 ] || wrong "it runs as root"
  # Its groups: gpio, and the one of its own that comes with its user.
  local groups
  groups=$(field Groups | tr ' ' '\n' | grep -vx -e "$gpio" -e "$(field Gid | cut -f1)" -e '' | paste -sd' ')
  field Groups | tr ' ' '\n' | grep -qx "$gpio" || wrong "not in group gpio ($gpio)"
  [ -z "$groups" ] || wrong "in other groups: $groups"
  [ "$(field CapEff)" = 0000000000800000 ] || wrong "its capabilities are not CAP_SYS_NICE alone"
  [ "$(field Seccomp)" = 2 ] || wrong "no seccomp filter"
  [ "$policy" = "SCHED_RR 40" ] || wrong "not SCHED_RR 40"
  [ "$(field VmLck | cut -d' ' -f1)" -gt 0 ] || wrong "no memory locked"
  [ "$(field VmSize | cut -d' ' -f1)" -lt "$limit" ] || wrong "VmSize is not below LimitMEMLOCK"
  note "$(systemd-analyze security $unit 2>&1 | grep 'Overall exposure')"
  end_step
}

boot_1() {
  check_board

  step "apt install ./wiringpi_3.14_$arch.deb ./ranging_${version}_$arch.deb: installed, neither enabled nor started"
  apt_step apt-install.log install -y "./wiringpi_3.14_$arch.deb" "./ranging_${version}_$arch.deb"
  [ "$(dpkg-query -W -f='${Version}' ranging)" = "$version" ] || wrong "ranging $version is not installed"
  [ "$(systemctl is-enabled $unit)" = disabled ] || wrong "it is $(systemctl is-enabled $unit)"
  [ "$(systemctl is-active $unit)" = inactive ] || wrong "it is $(systemctl is-active $unit)"
  end_step

  step "systemctl enable --now ranging: every reading right, on $registers"
  play_module $board $registers "$echoes" module-1.txt
  systemctl enable --now $unit 2>&1 | while IFS= read -r line; do note "$line"; done
  module_verdict module-1.txt
  end_step
  check_journal
  check_process

  step "killed: back after the unit's back-off"
  local old back restart
  restart=$(systemctl show -P RestartUSec $unit)
  has_process || return
  old=$(main_pid)
  kill -KILL "$old"
  back=$(date +%s)
  # shellcheck disable=SC2317 # wait_until calls it by name
  new_pid() { local pid; pid=$(main_pid); [ "$pid" != 0 ] && [ "$pid" != "$old" ]; }
  if wait_until 30 new_pid; then
    note "back after $(($(date +%s) - back)) s (RestartSec $restart), as PID $(main_pid)"
    [ $(($(date +%s) - back)) -ge 9 ] || wrong "back before its back-off"
  else
    wrong "not back after 30 s"
  fi
  end_step

  step "without registers: given up after the unit's start limit; each start's banner before the library's message"
  local cursor burst starts
  systemctl stop $unit
  rm $registers
  systemctl reset-failed $unit
  cursor=$(journal_cursor)
  systemctl start $unit
  burst=$(systemctl show -P StartLimitBurst $unit)
  # Given up: failed, and systemd said why.
  # shellcheck disable=SC2317 # wait_until calls it by name
  given_up() {
    [ "$(systemctl show -P ActiveState "$unit")" = failed ] &&
      journalctl -q -o cat --after-cursor="$cursor" -u "$unit" | grep -q 'Start request repeated too quickly'
  }
  wait_until 180 given_up || wrong "not given up at its start limit within 180 s"
  note "$(systemctl show -P ActiveState $unit), status $(systemctl show -P ExecMainStatus $unit):" \
    "$(journalctl -q -o cat --after-cursor="$cursor" -u $unit | grep 'Start request repeated')"
  starts=$(journalctl -q -o export --after-cursor="$cursor" _SYSTEMD_UNIT=$unit _TRANSPORT=stdout |
    sed -n 's/^_PID=//p' | awk '!seen[$0]++')
  [ "$(wc -l <<<"$starts")" = "$burst" ] || wrong "$(wc -l <<<"$starts") starts, not $burst"
  note_first_lines "$(head -n 1 <<<"$starts")"
  local pid
  for pid in $starts; do
    [ "$(entries "$pid" | head -n 1 | cut -d' ' -f2-)" = "$banner" ] || wrong "a start whose first line is not the banner"
    [ "$(entries "$pid" | wc -l)" -gt 1 ] || wrong "a start without the library's message"
  done
  end_step

  step "apt install ./ranging_${newer}_$arch.deb over the running service: a new process, of the new program"
  # The six echoes of the first step, not three: a 32-bit board emulated
  # whole here can lose every reading of a few seconds to the emulator (3
  # of 3 once, while the machine had other work), and at least one must
  # come through.
  play_module $board $registers "$echoes" module-2.txt
  systemctl reset-failed $unit
  systemctl start $unit
  module_verdict module-2.txt
  old=$(main_pid)
  apt_step apt-upgrade.log install -y "./ranging_${newer}_$arch.deb"
  wait_until 10 new_pid || wrong "still PID $old, of the program before"
  # A new main process runs systemd's executor for a moment before the
  # program takes its place.
  # shellcheck disable=SC2317 # wait_until calls it by name
  runs_installed() { [ "$(stat -L -c %i /proc/"$(main_pid)"/exe)" = "$(stat -c %i /usr/bin/ranging)" ]; }
  wait_until 10 runs_installed || wrong "not the program installed"
  local pid
  pid=$(main_pid)
  note "PID $old before, $pid after; $(readlink /proc/"$pid"/exe)"
  [ "$(dpkg-query -W -f='${Version}' ranging)" = "$newer" ] || wrong "not the newer version"
  [ "$old" = 0 ] || ! kill -0 "$old" 2>/dev/null || wrong "the program before still runs"
  end_step
}

boot_2() {
  check_board

  step "started by itself at boot: every reading right, on $registers"
  module_verdict module-3.txt
  [ "$(systemctl is-active $unit)" = active ] || wrong "it is $(systemctl is-active $unit)"
  end_step
  check_journal
  check_process

  step "apt remove ranging: no process left, no unit"
  local pid
  pid=$(main_pid)
  apt_step apt-remove.log remove -y ranging
  [ "$pid" = 0 ] || ! kill -0 "$pid" 2>/dev/null || wrong "its program still runs"
  ! grep -qx ranging /proc/[0-9]*/comm 2>/dev/null || wrong "a ranging process is left"
  [ "$(systemctl show -P LoadState $unit)" = not-found ] || wrong "the unit is $(systemctl show -P LoadState $unit)"
  end_step

  step "apt purge ranging: nothing of it left, no link under /etc/systemd"
  apt_step apt-purge.log purge -y ranging
  local left
  left=$(find /etc/systemd /var/lib/systemd /usr/share/doc/ranging /usr/bin/ranging -name 'ranging*' 2>/dev/null |
    grep -v ranging-test)
  [ -z "$left" ] || wrong "left: $left"
  ! dpkg-query -W ranging >/dev/null 2>&1 || wrong "dpkg still knows ranging"
  end_step
}

if [ "${1:-}" != --go-on ]; then
  # As ranging's service may start only once this has ended, the registers
  # of a boot at which it starts by itself go in place first.
  if [ "$stage" = 2 ]; then
    play_module $board $registers "$echoes" module-3.txt
    echo "$module" >module.pid
  fi
  setsid "$0" --go-on </dev/null &
  exit 0
fi

say "Debian $system, boot $stage"
step "the steps' start"
heartbeat &
[ ! -e module.pid ] || module=$(cat module.pid)
if [ "$(type -t "boot_$stage")" = function ]; then
  "boot_$stage"
else
  say "WRONG: a system has two boots, and this is its boot $stage"
  failed=1
fi
rm -f module.pid
sync
if [ "$failed" = 0 ]; then say "verdict: right"; else say "verdict: wrong"; fi
systemctl poweroff --no-block
