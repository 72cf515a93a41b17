#!/usr/bin/env bash
# kill -9 in the middle of a stream at line rate, at many moments: whatever the log held before
# the kill is still there afterwards, in order, every line a whole record, and nothing but the
# records of the readings in the order they came; the companion record beside it likewise, whole
# rows only, a row for each reading the log holds (but the last batch, whose rows follow its
# records: killed between the two writes, that batch was never shown). Then the desktop's own ways of ending a program
# (SIGTERM at logout, SIGHUP, SIGINT) in the middle of a stream: each ends it as F3 does, within a
# second, with exit status 0, nothing said to the gauge and every record whole.
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
  # The last program's, which may hold more records than this one will.
  rm -f "$LOG" "$APP/Пьезон_RX418.csv"
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
  rows=$(companion_readings "$APP/Пьезон_RX418.csv")
  [[ $rows =~ ^[0-9]+$ ]] || fail "killed at $held records: the companion record: $rows"
  # A batch at line rate is a frame's readings, a few dozen at most.
  ((rows <= kept && rows >= kept - 64)) ||
    fail "killed at $held records: the companion record has $rows readings, the log $kept"
  [[ -z $quiet ]] || ((rows == held)) ||
    fail "killed at $held records: $rows companion rows after a quiet line"
  [[ $(wire_words "$RECEIVED") == START ]] || fail "killed at $held records: $(wire_words "$RECEIVED")"
  stop_sim
  no_sanitizer_findings
done

hz=$(getconf CLK_TCK)
for sig in TERM HUP INT TERM; do
  rm -f "$LOG"
  start_sim "gauge-$sig" --rate 960 --sequence "$work/sequence" --repeat
  start_program "sig$sig"
  press F5 F1
  wait_for "records" 20 has_records "$LOG" 200
  before=$(cpu_ticks "$PROGRAM_PID")
  kill -s "$sig" "$PROGRAM_PID"
  # The window goes within a second (the port and the log are let go before it); the process
  # then ends on its own, in under a second of its own time (a sanitizer build scans for leaks
  # on the way out, which a busy machine stretches in wall time).
  deadline=$(($(date +%s%N) + 1000000000))
  until window_gone || (($(date +%s%N) > deadline)); do sleep 0.01; done
  window_gone || fail "SIG$sig: the window was still there after a second"
  last=$before
  wait_for_exit=$((SECONDS + 20))
  while ticks=$(cpu_ticks "$PROGRAM_PID" 2>/dev/null) && ! ended "$PROGRAM_PID"; do
    last=$ticks
    ((SECONDS < wait_for_exit)) || fail "SIG$sig: the program did not exit"
    sleep 0.01
  done
  ((last - before < hz)) || fail "SIG$sig: the program took $((last - before)) ticks to end"
  status=0
  wait "$PROGRAM_PID" || status=$?
  ((status == 0)) || fail "SIG$sig: exit status $status"
  kept=$(records_in "$LOG")
  ((kept >= 200)) || fail "SIG$sig: only $kept records left"
  expected_log "$kept" | cmp -s - "$LOG" || fail "SIG$sig: the $kept records left are not whole"
  [[ $(wire_words "$RECEIVED") == START ]] || fail "SIG$sig: the wire carried $(wire_words "$RECEIVED")"
  stop_sim
  no_sanitizer_findings
done
echo "PASS: ${#moments[@]} kills, every record and companion row held at the kill kept whole; SIGTERM, SIGHUP, SIGINT end cleanly"
