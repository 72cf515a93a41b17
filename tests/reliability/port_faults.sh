#!/usr/bin/env bash
# START on a port that cannot be had, in one run of the program: each time one report naming the
# port, nothing sent anywhere, no log, and the program at rest and still stopped.
#
# Then a port that takes seconds to open, as a wireless (Bluetooth) one does: a library preloaded
# into a second run of the program holds up the opening of its COM1. While it opens the window
# stays live and the operator is told what is going on; START goes out once the port is open;
# STOP or F3 meanwhile leave the gauge and the log as they were.
#
#   SLOW_OPEN_SHIM=libslow_open.so port_faults.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/../e2e/lib.sh"
[[ -n ${SLOW_OPEN_SHIM:-} ]] || fail "SLOW_OPEN_SHIM must name the slow-open library"

# case | what the report says
cases=(
  "absent|Порт COM16 не найден"
  "held-by-another-program|порт занят другой программой"
  "links-to-nothing|устройство не найдено"
  "plain-file|Не удалось открыть порт COM1 ("
)

# How many serial devices this machine numbers before a COMn of ours would be absent.
serial_devices() {
  local family i n=0
  for family in /dev/ttyS /dev/ttyUSB /dev/ttyACM /dev/rfcomm; do
    for ((i = 0; ; i++)); do [[ -e $family$i ]] || break; n=$((n + 1)); done
  done
  echo "$n"
}

start_x
new_app "$work/app"
start_program piezon
main=("$PROGRAM_PID" "$WINDOW" "$PROGRAM_ERR")
use_main() { PROGRAM_PID=${main[0]} WINDOW=${main[1]} PROGRAM_ERR=${main[2]}; }

n=0
ran=()
for entry in "${cases[@]}"; do
  name=${entry%%|*}
  what=${entry#*|}
  case $name in
    absent)
      if (($(serial_devices) >= 16)); then echo "skipped $name: COM16 exists here"; continue; fi
      press Tab Tab Tab End ;; # the port box, its last number
    held-by-another-program)
      press Home # back to COM1
      start_sim gauge --rate 960 --sequence "$work/sequence" --repeat
      # The other program is a second copy of ours with its own COM1 on the same device.
      mkdir "$work/other"
      cp "$PIEZON" "$work/other/piezon"
      ln -s "$(readlink "$APP/COM1")" "$work/other/COM1"
      APP=$work/other start_program other
      APP=$work/app
      press F1
      wait_for "the other program's START" 10 at_least "$RECEIVED" 16
      holder=$PROGRAM_PID
      use_main ;;
    links-to-nothing) ln -sfn "$work/gone" "$APP/COM1" ;;
    plain-file)
      rm "$APP/COM1"
      printf 'not a serial port' >"$APP/COM1" ;;
  esac
  n=$((n + 1))
  press F1
  wait_report "$n" "$what"
  close_report
  settled "$n"
  [[ ! -e $LOG ]] || fail "$name: a log was created"
  case $name in
    held-by-another-program)
      [[ $(wire_words "$RECEIVED") == START ]] || fail "$name: the wire carried $(wire_words "$RECEIVED")"
      kill "$holder"
      stop_sim ;;
    plain-file) [[ $(cat "$APP/COM1") == 'not a serial port' ]] || fail "$name: the file was written to" ;;
  esac
  press F2 # nothing to stop, nothing to say
  settled "$n"
  ran+=("$name")
done
end_program

# --- The slow port. What is done while it opens | what must follow.
slow_cases=(
  "stop-without-log|F2: nothing sent, no log left behind"
  "keys|F6 and F1: Check1 cleared at once, one START once open, a changes-only log"
  "stop-with-earlier-log|F2: nothing sent, the last session's log as it was"
  "again|F2, then F1 while the first open goes on: one START once the first has let go, no report"
  "unreachable|the gauge does not answer: «Манометр выключен или вне досягаемости», nothing sent"
  "end|F3: the program gone at once, status 0, the log as it was"
)
SLOW_MS=4000
NOTICE='Подключение к COM1…'

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Waits until a command succeeds; fails with WHY once the moment DEADLINE (ms) has passed.
wait_until() {
  local why=$1 deadline=$2
  shift 2
  until "$@"; do
    (($(now_ms) < deadline)) || fail "$why"
    sleep 0.01
  done
}
notices() { grep -cF -- "$NOTICE" "$PROGRAM_ERR" || true; }
notices_above() { (($(notices) > $1)); }
sleep_until() {
  local left=$(($1 - $(now_ms)))
  ((left <= 0)) || sleep "$((left / 1000)).$(printf %03d $((left % 1000)))"
}
# A control as drawn in the window: a digest of its pixels and how many colours they have.
CHECK1=17x17+315+125
COMBO2=51x21+310+24
pixels() { import -window "$WINDOW" -crop "$1" +repage -format '%# %k' info: 2>/dev/null; }
looks() { [[ $(pixels "$1") == "$2" ]]; }
looks_other_than() { [[ $(pixels "$1") != "$2" ]]; }
check1_drawn() { # sets CHECKED
  CHECKED=$(pixels "$CHECK1")
  ((${CHECKED##* } > 1))
}
check1_cleared() { # sets CLEARED
  CLEARED=$(pixels "$CHECK1")
  [[ $CLEARED != "$CHECKED" ]]
}
# Whether the program holds the line's pseudo-terminal open.
holds_line() {
  local fd
  for fd in /proc/"$PROGRAM_PID"/fd/*; do
    [[ $(readlink "$fd" 2>/dev/null) == "$1" ]] && return 0
  done
  return 1
}
previous_log() { echo "${LOG%.log}_предыдущий.log"; }

new_app "$work/slow"
# COM1 stays beside the program, leading to each simulator's pseudo-terminal in turn: were it
# gone, COM1 would be the machine's own first serial port, which a test must not touch.
export SIM_DIR=$work/line
mkdir "$SIM_DIR"
ln -s "$SIM_DIR/COM1" "$APP/COM1"
FAIL_FILE=$work/open-fails-with
start_program slow LD_PRELOAD="$SLOW_OPEN_SHIM" SLOW_OPEN_DEVICE="$APP/COM1" \
  SLOW_OPEN_FAIL_FILE="$FAIL_FILE" \
  SLOW_OPEN_SECONDS=$((SLOW_MS / 1000)) \
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
# Check1 as it looks ticked and cleared, and the port picker, while the window is idle.
wait_for "Check1 to be drawn" 10 check1_drawn
press F6
wait_for "F6 to clear Check1" 5 check1_cleared
press F5
wait_for "F5 to tick Check1" 5 looks "$CHECK1" "$CHECKED"
PICKER=$(pixels "$COMBO2")

slow=()
slow_reports=0
for entry in "${slow_cases[@]}"; do
  name=${entry%%|*}
  start_sim "slow-$name" --rate 960 --sequence "$work/sequence" --count ${#SEQ_BYTES[@]}
  line=$(readlink -f "$SIM_DIR/COM1")
  rm -f "$work/before.log"
  [[ -e $LOG ]] && cp "$LOG" "$work/before.log"
  before=$(notices)
  before_reports=$(reports)
  [[ $name == unreachable ]] && echo 112 >"$FAIL_FILE" # EHOSTDOWN, as rfcomm says it
  opened_at=$(($(now_ms) + SLOW_MS)) # the open cannot end sooner
  press F1
  wait_until "$name: no notice «$NOTICE» on stderr while the port opened" \
    $((opened_at - 1000)) notices_above "$before"
  wait_until "$name: no notice box while the port opened" $((opened_at - 1000)) box_open
  # Out of the way of Check1: the window has to draw what it uncovers, now.
  xdotool windowmove "$(message_boxes | head -n1)" 500 400

  case $name in
    keys)
      pressed=$(now_ms)
      press F6
      wait_until "F6 while the port opened: Check1 not cleared within 0.3 s" $((pressed + 300)) \
        looks "$CHECK1" "$CLEARED"
      f6_ms=$(($(now_ms) - pressed))
      # The session counts as started: the port cannot be changed, F1 opens nothing more.
      looks_other_than "$COMBO2" "$PICKER" || fail "keys: the port picker is live while the port opens"
      press F1
      sleep_until $((opened_at - 500))
      (($(now_ms) < opened_at)) || fail "keys: too slow to look at the wire before the open ended"
      [[ ! -s $RECEIVED ]] ||
        fail "keys: the wire carried $(wire_words "$RECEIVED") before the port was open"
      wait_until "keys: no START within 1 s of the port being open" $((opened_at + 1000)) \
        at_least "$RECEIVED" 16
      start_ms=$(($(now_ms) - opened_at + SLOW_MS))
      wait_for "the session's readings" 10 has_records "$LOG" 1
      expected_log ${#SEQ_BYTES[@]} changes >"$work/expected.slow"
      wait_for "the whole session in the log" 10 cmp -s "$work/expected.slow" "$LOG"
      press F2
      wait_for "the STOP commands" 10 at_least "$RECEIVED" 48
      sleep 0.2
      [[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] ||
        fail "keys: the wire carried $(wire_words "$RECEIVED")"
      cmp -s "$work/expected.slow" "$LOG" || fail "keys: the log is not the session's changes"
      wait_for "the port picker to be live again" 5 looks "$COMBO2" "$PICKER" ;;
    again)
      # The first open is given up on but still under way; the second waits for it to let go of
      # the device, or it would find the port held, as if by another program.
      press F2
      wait_for "the notice to go" 10 box_closed
      press F1
      sleep_until $((opened_at + 500))
      [[ ! -s $RECEIVED ]] || fail "again: the wire carried $(wire_words "$RECEIVED") too soon"
      wait_until "again: no START within 1 s of the second open" $((opened_at + SLOW_MS + 1000)) \
        at_least "$RECEIVED" 16
      (($(reports) == before_reports)) || fail "again: a report: $(tail -n 3 "$PROGRAM_ERR")"
      press F2
      wait_for "the STOP commands" 10 at_least "$RECEIVED" 48
      sleep 0.2
      [[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] ||
        fail "again: the wire carried $(wire_words "$RECEIVED")"
      # START moved the last session's records aside, whole; the checks below are of this one.
      cmp -s "$work/before.log" "$(previous_log)" ||
        fail "again: the last session's records were not kept as $(previous_log)"
      rm "$(previous_log)"
      cp "$LOG" "$work/before.log" ;;
    unreachable)
      wait_until "unreachable: no report within 1 s of the open's end" $((opened_at + 1000)) \
        reports_reach $((before_reports + 1))
      grep -qF 'Манометр выключен или вне досягаемости' "$PROGRAM_ERR" ||
        fail "unreachable: the report was $(tail -n 3 "$PROGRAM_ERR")"
      rm -f "$FAIL_FILE"
      slow_reports=$((slow_reports + 1))
      wait_for "the report's box" 10 box_open # stderr has it a moment before the screen
      close_report
      [[ ! -s $RECEIVED ]] || fail "unreachable: the wire carried $(wire_words "$RECEIVED")" ;;
    stop-*)
      press F2
      wait_for "the notice to go" 10 box_closed
      # Past the end of the open: the line it opened after all must be closed again at once.
      sleep_until $((opened_at + 1000))
      ! holds_line "$line" || fail "$name: the line opened after F2 is still held open"
      [[ ! -s $RECEIVED ]] || fail "$name: the wire carried $(wire_words "$RECEIVED")" ;;
    end)
      pressed=$(now_ms)
      press F3
      wait_until "F3 while the port opened: the window still there after 1 s" $((pressed + 1000)) \
        window_gone
      wait_until "F3 while the port opened: the program still running after 1.5 s" \
        $((pressed + 1500)) ended "$PROGRAM_PID"
      f3_ms=$(($(now_ms) - pressed))
      status=0
      wait "$PROGRAM_PID" || status=$?
      ((status == 0)) || fail "F3 while the port opened: the program ended with status $status"
      no_sanitizer_findings
      sleep 0.2
      [[ ! -s $RECEIVED ]] || fail "end: the wire carried $(wire_words "$RECEIVED")" ;;
  esac

  case $name in
    stop-without-log) [[ ! -e $LOG ]] || fail "$name: a log was left behind" ;;
    stop-with-earlier-log | unreachable | end)
      [[ -s $work/before.log ]] || fail "$name: no earlier session's log to keep"
      cmp -s "$work/before.log" "$LOG" || fail "$name: the last session's log was changed" ;;
  esac
  [[ ! -e $(previous_log) ]] || fail "$name: $(previous_log) was made"
  [[ $name == end ]] || settled "$slow_reports"
  stop_sim
  slow+=("$name")
done
echo "PASS: ${ran[*]}; slow port: ${slow[*]} (F6 shown after $f6_ms ms, START $start_ms ms" \
  "after F1, F3 done after $f3_ms ms)"
