#!/usr/bin/env bash
# The line drops in the middle of a stream (a wireless gauge out of range), at many different
# moments, in one run of the program: each time one report, nothing more said to the gauge, the
# log holding exactly the readings that came before the drop, the program at rest at once and
# ready for the next START on a new line.
#
#   link_loss.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/../e2e/lib.sh"

# Readings before the drop: the first ones, both sides of a round of the sequence, a reading
# that arrives with the start command, and well into a stream at line rate.
moments=(1 2 3 5 8 13 23 24 25 47 48 49 100 127 255 256 500 777 1000 1500)
cycle=${#SEQ_BYTES[@]}

start_x
new_app "$work/app"
start_program piezon

n=0
for after in "${moments[@]}"; do
  n=$((n + 1))
  start_sim "drop$after" --rate 960 --sequence "$work/sequence" --repeat --close-after "$after"
  # Both ways of starting, and both log modes.
  if ((n % 2)); then press F5 F1; mode=all; else press F6; click_start; mode=changes; fi
  wait_for "the line to drop after $after readings" 20 ended "$SIM_PID"
  wait "$SIM_PID" || fail "the simulator failed: $(tail -n 3 "$work/drop$after.sim.err")"
  wait_report "$n" "Связь с манометром через порт COM1 ($APP/COM1)"
  idle # right after the drop, with the report still open
  close_report
  [[ $(wire_words "$RECEIVED") == START ]] ||
    fail "after $after readings: the wire carried $(wire_words "$RECEIVED")"
  expected_log "$after" "$mode" | cmp -s - "$LOG" ||
    fail "after $after readings ($mode): the log is not the readings before the drop" \
      "($(records_in "$LOG") records)"
  [[ $(reports) == "$n" ]] || fail "after $after readings: $(reports) reports in all, not $n"
done

# Still a working program: a whole session on a new line.
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
echo "PASS: ${#moments[@]} drops, one report each, logs exact, idle after each"
