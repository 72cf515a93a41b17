#!/usr/bin/env bash
# The line drops in the middle of a stream (a wireless gauge out of range), at many different
# moments, in one run of the program. Each time: one notice naming the port, that does not block
# the window; nothing more said to the gauge; the log holding exactly the readings that came
# before the drop; the program at rest while it tries to reopen the port. Then either the gauge
# comes back under the same COM1 entry (a new line: within 3 s it is told START, and its readings
# go on into the same log, which is not emptied; STOP then reaches the new line twice), or STOP
# while the line is still gone ends the session with nothing sent.
#
#   link_loss.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/../e2e/lib.sh"

# Readings before the drop: the first ones, both sides of a round of the sequence, a reading
# that arrives with the start command, and well into a stream at line rate.
moments=(1 2 3 5 8 13 23 24 25 47 48 49 100 127 255 256 500 777 1000 1500)
cycle=${#SEQ_BYTES[@]}

start_x
new_app "$work/app"
# COM1 beside the program stays, pointing at wherever the simulators put their line: were it
# removed, COM1 would be the machine's own first serial port, which a test must not touch.
export SIM_DIR=$work/line
mkdir "$SIM_DIR"
ln -s "$SIM_DIR/COM1" "$APP/COM1"
start_program piezon

n=0
back=0
for after in "${moments[@]}"; do
  n=$((n + 1))
  start_sim "drop$after" --rate 960 --sequence "$work/sequence" --repeat --close-after "$after"
  # Both ways of starting, and both log modes.
  if ((n % 2)); then press F5 F1; mode=all; else press F6; click_start; mode=changes; fi
  wait_for "the line to drop after $after readings" 20 ended "$SIM_PID"
  wait "$SIM_PID" || fail "the simulator failed: $(tail -n 3 "$work/drop$after.sim.err")"
  wait_report "$n" "Связь с манометром через порт COM1 ($APP/COM1)"
  idle # trying to reconnect, with the notice shown
  [[ $(wire_words "$RECEIVED") == START ]] ||
    fail "after $after readings: the wire carried $(wire_words "$RECEIVED")"
  expected_log "$after" "$mode" | cmp -s - "$LOG" ||
    fail "after $after readings ($mode): the log is not the readings before the drop" \
      "($(records_in "$LOG") records)"

  if ((n % 4 == 1)); then
    # The gauge is back: a new pseudo-terminal under the same COM1 entry.
    back=$((back + 1))
    start_sim "back$after" --rate 960 --sequence "$work/sequence" --count "$cycle"
    wait_for "START on the new line within 3 s" 3 at_least "$RECEIVED" 16
    wait_for "the notice to go" 10 box_closed
    wait_for "readings after the reconnection" 10 has_records "$LOG" $((after + cycle))
    sleep 0.2
    { expected_log "$after"; expected_log "$cycle"; } | cmp -s - "$LOG" ||
      fail "after $after readings: the log did not go on with the new line's readings"
    press F2
    wait_for "STOP on the new line" 10 at_least "$RECEIVED" 48
    sleep 0.2
    [[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] ||
      fail "back after $after readings: the new line carried $(wire_words "$RECEIVED")"
    stop_sim
  else
    press F2 # while the line is gone
    wait_for "the notice to go" 10 box_closed
    sleep 0.2
    [[ $(wire_words "$RECEIVED") == START ]] || fail "STOP without a line sent something"
    expected_log "$after" "$mode" | cmp -s - "$LOG" || fail "STOP without a line: the log changed"
  fi
  settled "$n"
done

# Still a working program: a whole new session, on a new log.
start_sim last --rate 960 --sequence "$work/sequence" --count "$cycle"
press F5 F1
wait_for "the last session" 10 has_records "$LOG" "$cycle"
press F2
wait_for "STOP" 10 at_least "$RECEIVED" 48
sleep 0.2
[[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] || fail "last session: $(wire_words "$RECEIVED")"
expected_log "$cycle" | cmp -s - "$LOG" || fail "last session: wrong log"
settled "$n"
end_program
echo "PASS: ${#moments[@]} drops, one notice each, $back reconnections, logs exact, idle throughout"
