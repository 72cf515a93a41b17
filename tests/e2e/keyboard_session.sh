#!/usr/bin/env bash
# The function keys in the real window: F1 starts, F6 switches to changes-only in the middle of a
# session, F2 stops; F5 back to every reading, and F3 ends the program in the middle of a stream.
#
#   keyboard_session.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/lib.sh"

start_x
new_app "$work/app"
start_program piezon

# --- F1, readings, F6, more readings, F2. Four rounds of the sequence, slow enough that F6 lands
# well inside the session; where exactly it lands is up to the machine, so the log must be the
# every-reading log of the first m readings followed by the changes-only log of the rest, for an
# m after the readings seen before F6 and at least a round before the end.
readings=$((4 * ${#SEQ_BYTES[@]}))
start_sim slow --rate 24 --sequence "$work/sequence" --repeat --count "$readings"
press F1
wait_for "the first readings" 10 has_records "$LOG" 6
press F6
seen=$(records_in "$LOG")
candidates=()
for ((m = seen; m <= readings - ${#SEQ_BYTES[@]}; m++)); do
  expected_log "$readings" all "$m" changes >"$work/expected.$m"
  candidates+=("$m")
done
switched() { # sets m
  for m in "${candidates[@]}"; do cmp -s "$work/expected.$m" "$LOG" && return 0; done
  return 1
}
wait_for "the whole session in the log" 20 switched
sleep 0.3
cmp -s "$work/expected.$m" "$LOG" || fail "the log went on growing after the last reading"
press F2
wait_for "the STOP commands" 10 at_least "$RECEIVED" 48
sleep 0.2
[[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] || fail "the wire carried $(wire_words "$RECEIVED")"
cmp -s "$work/expected.$m" "$LOG" || fail "the log changed after F2"
stop_sim

# --- F5, F1 at line rate, F3: the program ends within a second, says nothing to the gauge, and
# the log keeps every record it had, each one whole.
start_sim fast --rate 960 --sequence "$work/sequence" --repeat
press F5 F1
wait_for "readings at line rate" 10 has_records "$LOG" 300
cp "$LOG" "$work/before-F3.log"
end_program
sleep 0.2
[[ $(wire_words "$RECEIVED") == START ]] || fail "F3 sent something: $(wire_words "$RECEIVED")"
kept=$(records_in "$LOG")
expected_log "$kept" >"$work/expected.fast"
cmp "$work/expected.fast" "$LOG" || fail "after F3 the log is not one whole record per reading"
head -c "$(size_of "$work/before-F3.log")" "$LOG" | cmp -s - "$work/before-F3.log" ||
  fail "F3 lost records the log already held"
[[ $(reports) == 0 ]] || fail "unexpected reports: $(cat "$PROGRAM_ERR")"
echo "PASS: F1/F6/F2 (switched after $m of $readings readings), F5/F1/F3 with $kept records kept"
