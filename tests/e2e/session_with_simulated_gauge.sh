#!/usr/bin/env bash
# End to end: the built program, copied into a folder of its own, shows its real window on a
# private X server and is driven with the mouse and keyboard; the simulated gauge sits on COM1
# beside it. Checks what went over the wire and what reached the log, byte for byte.
#
#   session_with_simulated_gauge.sh PIEZON GAUGE_SIM
#
# Exit status 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail

piezon=$1
gauge_sim=$2

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if ((status != 0)); then
    for f in sim.err piezon.out; do
      [[ -s $work/$f ]] && { echo "--- $f"; cat "$work/$f"; }
    done
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Waits (bounded) until a command succeeds.
wait_for() {
  local what=$1 seconds=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || fail "timed out waiting for $what"
    sleep 0.05
  done
}

size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
# Exited, whether or not it has been waited for yet.
ended() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) || return 0
  [[ $state == Z* ]]
}
at_least() { (($(size_of "$1") >= $2)); }

# The program's folder: the program looks for COM1 and writes its log beside itself, so it must
# be a copy, not a link to the build.
app=$work/app
mkdir "$app"
cp "$piezon" "$app/piezon"
log=$app/Пьезон_RX418.log

# Readings with every troublesome byte value a terminal might eat or translate (XON, XOFF, CR,
# LF, DEL, ^C, ^D, ^Z, ^\, ^U, 0x00, 0xFF) and the captions they must give at offset 0, worked
# out by hand from the calibration table.
readings='\x00\x11\x13\x0D\x0A\x7F\xFF\x03\x1C\x64\x38\x39\x0D\x1A\x04\x15\xF8\xF7'
captions=(0 0.5 0.56 0.41 0.28 3.55 8 0.09 0.85 2.73 1.6 1.6 0.41 0.78 0.13 0.63 7.78 7.72)
printf "$readings" >"$work/readings"
((${#captions[@]} == $(size_of "$work/readings"))) || fail "the test's own tables disagree"

# One record per reading, Windows-1251, CR LF: "  Погрешность     0    |    2.73     кгс/cм2".
: >"$work/expected.log"
for caption in "${captions[@]}"; do
  printf '  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC     0    |    %s     \xEA\xE3\xF1/c\xEC2\r\n' \
    "$caption" >>"$work/expected.log"
done
start='ZKW5kqTwu\xE6r\xF9b\xDEON'
stop='ZKWtRg\xF8\xF4pzH^\xC6OFF'

# A display of our own: nothing else moves this pointer or takes this keyboard.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
pids+=($!)
wait_for "Xvfb" 10 test -s "$work/display"
export DISPLAY=:$(head -n1 "$work/display")

"$gauge_sim" --dir "$app" --port 1 --rate 200 --sequence "$work/readings" \
  --received "$work/received" >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
wait_for "the simulator" 10 grep -qx ready "$work/sim.out"
[[ $(head -n1 "$work/sim.out") == "$app/COM1" ]] || fail "simulator linked $(head -n1 "$work/sim.out")"

QT_QPA_PLATFORM=xcb "$app/piezon" >"$work/piezon.out" 2>&1 &
piezon_pid=$!
pids+=("$piezon_pid")
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Пьезон для RX418$' | head -n1)
[[ -n $window ]] || fail "the window did not appear"

click() { # window-relative pixel, the middle of the button
  xdotool mousemove --window "$window" "$1" "$2" click 1
}
click_start() { click 320 96; }
click_stop() { click 320 168; }

# --- Session 1: СТАРТ, every reading, СТОП.
click_start
wait_for "the START command" 10 at_least "$work/received" 16
wait_for "the readings in the log" 10 at_least "$log" "$(size_of "$work/expected.log")"
sleep 0.2 # nothing more may follow
cmp "$work/expected.log" "$log" || fail "session 1: the log is not one record per reading"

click_stop
wait_for "the STOP commands" 10 at_least "$work/received" 48
sleep 0.2
printf "$start$stop$stop" >"$work/expected.received"
cmp "$work/expected.received" "$work/received" ||
  fail "session 1: the wire did not carry exactly START, STOP, STOP"
cmp "$work/expected.log" "$log" || fail "session 1: the log changed after STOP"

# --- Session 2: СТАРТ again (a new log), then F3 ends the program while it runs: no STOP.
click_start
wait_for "the second START" 10 at_least "$work/received" 64
wait_for "the second session's readings" 10 at_least "$log" "$(size_of "$work/expected.log")"
sleep 0.2
cmp "$work/expected.log" "$log" || fail "session 2: the log was not started afresh"

xdotool windowfocus --sync "$window" key F3
wait_for "the program to end" 10 ended "$piezon_pid"
status=0
wait "$piezon_pid" || status=$?
((status == 0)) || fail "the program ended with status $status"
sleep 0.2
printf "$start$stop$stop$start" >"$work/expected.received"
cmp "$work/expected.received" "$work/received" ||
  fail "ending the program during a session sent something"
cmp "$work/expected.log" "$log" || fail "session 2: the log lost records at the end"

# The gauge heard nothing but whole commands.
if grep -q 'stray' "$work/sim.err"; then
  fail "the simulator received stray bytes: $(grep stray "$work/sim.err" | head -n5)"
fi
echo "PASS: 2 sessions, ${#captions[@]} readings each, wire and log byte-exact"
