#!/usr/bin/env bash
# Runs ranging built against the real GPIO library, natively and for both
# kinds of board under emulation (armhf under qemu-arm, arm64 under
# qemu-aarch64), on a board's GPIO registers emulated in a file:
#   real_library.sh <source dir> <work dir> <wiringPi's sources>
# The sources are the maintained wiringPi's release tarball or a source
# folder; of them only the library's own files are built, again whenever
# they change (emulated_board.sh). register-module plays the module and
# judges every line the program prints; the set-up failures are compared as
# the library gives them. Exits 77 (skipped) without the sources or without
# root.
set -euo pipefail
# shellcheck source=emulated_board.sh
. "$(dirname "$0")/emulated_board.sh" "$1" "$2" "${3:-}" "the test with the real GPIO library"

# Readings: the board, its register file, the build, register-module's
# option (- for none), and the echoes, one a reading (widths in µs, "none",
# or "stuck": nothing in range). A module whose first look comes 15 ms late,
# as one held up by the host once did, may find the first line printed with
# the first trigger, and one 40 ms late surely does: that reading is left
# out or judged right, never blamed, and the next ones judged.
readings=(
  "pi3 gpiomem  native -                    150 1500 7000 12500 none stuck none"
  "pi4 gpiomem  native -                    150 1500 7000 12500 none stuck none"
  "pi5 gpiomem0 native -                    150 1500 7000 12500 none stuck none"
  "pi5 gpiomem0 native --first-look-late=15 150 1500 7000 12500 none stuck none"
  "pi5 gpiomem0 native --first-look-late=40 150 1500 7000 12500 none stuck none"
  "pi3 gpiomem  armhf  -                    150 1500 7000 12500 none stuck none"
  "pi5 gpiomem0 armhf  -                    150 1500 7000 12500 none stuck none"
  "pi4 gpiomem  arm64  -                    150 1500 7000 12500 none stuck none"
  "pi5 gpiomem0 arm64  -                    150 1500 7000 12500 none stuck none"
)
# Set-up failures: the board, whether WIRINGPI_CODES is
# set, the status, standard output, and the first line of standard error.
unknown_board="Oops: Unable to determine Raspberry Pi board revision from /proc/device-tree/system/linux,revision and from /proc/cpuinfo"
no_registers="wiringPiSetup: Unable to open /dev/mem or /dev/gpiomem: No such file or directory."
banner="Program is starting ... "
failures=(
  "unknown|unset|1|$banner|$unknown_board"
  "unknown|1|1|$banner|$unknown_board"
  "pi3|unset|1|$banner|$no_registers"
  "pi3|1|1|$banner"$'\n'"setup wiringPi failed !|"
)

prepare_builds "${builds[@]}"

failed=0
empty=0 empty_triggers=0 echoes_played=0 echoes_lost=0
for run in "${readings[@]}"; do
  read -r board device build option echoes <<<"$run"
  [ "$option" != - ] || option=''
  echo "== $board, $build${option:+, $option}: $echoes"
  # shellcheck disable=SC2086 # the command is words, the option one or none
  in_board "$board" "$module" $option "$board" "/dev/$device" "$echoes" -- ${command[$build]} >"$work/report" || failed=1
  sed 's/^/   /' "$work/report"
  read -r readings_empty triggers_empty < <(sed -n 's/^readings with no echo: \([0-9]*\), triggers: \([0-9]*\)$/\1 \2/p' "$work/report")
  empty=$((empty + readings_empty)) empty_triggers=$((empty_triggers + triggers_empty))
  read -r run_echoes run_lost < <(sed -n 's/^echoes that came through: [0-9]* of \([0-9]*\), lost: \([0-9]*\)$/\1 \2/p' "$work/report")
  echoes_played=$((echoes_played + run_echoes)) echoes_lost=$((echoes_lost + run_lost))
done
# A reading with no echo fires the module once, unless a hold-up long enough
# to hide an echo makes it try again: now and then, on a busy machine. Three
# times a reading was the rule before time-outs were judged by what a
# hold-up could hide.
echo "== readings with no echo: $empty, firing the module $empty_triggers times (at most 1.5 a reading)"
if [ $((2 * empty_triggers)) -gt $((3 * empty)) ]; then
  echo "   wrong: too many"
  failed=1
fi
# An echo is lost (0.00 printed, though it ended in time) only when each of
# the program's three attempts was held up: none of 720 in twenty runs here,
# and 1 of 720 while tools/hiccups took the processors for 5 to 30 ms three
# times a second. A program that trusts no echo lost 14 of 36.
echo "== echoes: $echoes_played, lost: $echoes_lost (at most 1 in 20)"
if [ $((20 * echoes_lost)) -gt "$echoes_played" ]; then
  echo "   wrong: too many"
  failed=1
fi

# A program that prints readings without firing the module is wrong, even
# when the module forgives a service what the emulator costs it.
echo "== a service's program that prints without firing the module"
printed='printf "Program is starting ...\nThe distance is : 25.50 cm\nThe distance is : 0.00 cm\n"; sleep 5'
in_board pi4 "$module" --service pi4 /dev/gpiomem "1500 none" -- sh -c "$printed" >"$work/report" || true
sed 's/^/   /' "$work/report"
if [ "$(grep -c 'no trigger.*: wrong: it never fired the module$' "$work/report")" != 2 ] ||
   [ "$(tail -n 1 "$work/report" | cut -d: -f1)" != wrong ]; then
  echo "   wrong: its readings were not both judged wrong"
  failed=1
fi

# A module held up so long that it answers the first trigger only after the
# program has fired again, as under whole-system emulation, not on a board:
# the program times that echo in the attempt that fired, and prints its
# width for that reading, unless it tries again (a hold-up of its own, or
# the host taking the processor). Such a reading is left out; one that the
# program took again is judged by its last attempt. Either way every
# reading is right or left out: one judged by the late echo's width would be
# wrong. Its first look 15 ms late as well, the module may not place that
# trigger, which leaves the reading out too.
for late in '' --first-look-late=15; do
  echo "== a module that answers the first trigger after the next${late:+, $late}"
  # shellcheck disable=SC2086 # the command is words, the option one or none
  in_board pi4 "$module" --answer-late $late pi4 /dev/gpiomem "1500 7000 none" -- ${command[native]} >"$work/report" || true
  sed 's/^/   /' "$work/report"
  if ! grep -q '; the next trigger came first$' "$work/report" || [ "$(tail -n 1 "$work/report")" != right ]; then
    echo "   wrong: the late echo did not run into the next trigger, or the reading it ran into was judged wrong"
    failed=1
  fi
done

for case in "${failures[@]}"; do
  IFS='|' read -r board codes status out err <<<"${case//$'\n'/\\n}"
  for build in "${builds[@]}"; do
    echo "== a failed set-up: $board board, WIRINGPI_CODES $codes, $build"
    env=(env -u WIRINGPI_CODES)
    [ "$codes" = unset ] || env=(env WIRINGPI_CODES="$codes")
    set +e
    # shellcheck disable=SC2086
    in_board "$board" "${env[@]}" ${command[$build]} >"$work/out" 2>"$work/err"
    actual_status=$?
    set -e
    expected_out=$(printf '%b' "$out")
    if [ "$actual_status" != "$status" ] || [ "$(cat "$work/out")" != "$expected_out" ] ||
       [ "$(head -n 1 "$work/err")" != "$err" ]; then
      printf '   wrong: status %s, standard output:\n%s\n   standard error:\n%s\n' \
        "$actual_status" "$(cat "$work/out")" "$(cat "$work/err")"
      failed=1
    else
      echo "   right: status $status; $(tail -n 1 "$work/out"); $(head -n 1 "$work/err" | cut -c1-50)"
    fi
  done
done
exit $failed
