#!/usr/bin/env bash
# kill -9 in the middle of a stream at line rate, at many moments: whatever the log held before
# the kill is still there afterwards, in order, every line a whole record, and nothing but the
# records of the readings in the order they came.
#
#   crash.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/../e2e/lib.sh"

# Records the log holds when the kill is sent. Mid-stream, and (quiet) after a gauge that sent
# just that many readings has gone quiet: then every reading shown must be in the log.
moments=(1 2 7 24 25 100 333 640 1000 1500 "30 quiet" "700 quiet")

start_x
new_app "$work/app"
for moment in "${moments[@]}"; do
  read -r held quiet <<<"$moment"
  rm -f "$LOG" # the last program's, which may hold more records than this one will
  # A gauge of its own each time: one left streaming into the dead line would start the next
  # session mid-sequence.
  start_sim "gauge$held" --rate 960 --sequence "$work/sequence" --repeat ${quiet:+--count "$held"}
  start_program "crash$held"
  press F1
  wait_for "$held records" 20 has_records "$LOG" "$held"
  # What the log holds just before the kill; a record or two may follow before the kill lands.
  cp "$LOG" "$work/before.log"
  kill -9 "$PROGRAM_PID" 2>/dev/null
  { wait "$PROGRAM_PID"; } 2>/dev/null || true
  kept=$(records_in "$LOG")
  ((kept >= held)) || fail "killed at $held records: only $kept left"
  [[ -z $quiet ]] || ((kept == held)) || fail "killed at $held records: $kept after a quiet line"
  expected_log "$kept" | cmp -s - "$LOG" ||
    fail "killed at $held records: the $kept left are not the readings' records, whole and in order"
  head -c "$(size_of "$work/before.log")" "$LOG" | cmp -s - "$work/before.log" ||
    fail "killed at $held records: the log lost what it held before the kill"
  [[ $(wire_words "$RECEIVED") == START ]] || fail "killed at $held records: $(wire_words "$RECEIVED")"
  stop_sim
  no_sanitizer_findings
done
echo "PASS: ${#moments[@]} kills, every record held at the kill kept whole"
