#!/usr/bin/env bash
# Two million readings through one session, as fast as the program takes them: every one logged,
# in order, and the program's resident memory flat from the first to the last hundred thousand.
#
#   soak.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/../e2e/lib.sh"

total=2000000
window=100000 # readings at each end between which memory is compared
max_growth_kib=2048
# AddressSanitizer keeps freed memory in quarantine (256 MiB of it) on purpose; that is not ours.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0

# The log's size after the first K readings: whole rounds of the sequence, then the rest.
cycle_log=$(expected_log "${#SEQ_BYTES[@]}") # without its last newline, for yes(1) below
cycle_size=$(($(expected_log "${#SEQ_BYTES[@]}" | wc -c)))
size_after() {
  echo $((($1 / ${#SEQ_BYTES[@]}) * cycle_size + $(expected_log $(($1 % ${#SEQ_BYTES[@]})) | wc -c)))
}
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$PROGRAM_PID/status"; }

start_x
new_app "$work/app"
start_sim gauge --rate 0 --sequence "$work/sequence" --repeat --count "$total"
start_program piezon
press F1
wait_for "$window readings" 120 at_least "$LOG" "$(size_after "$window")"
rss_first=$(rss_kib)
wait_for "$((total - window)) readings" 600 at_least "$LOG" "$(size_after $((total - window)))"
rss_last=$(rss_kib)
wait_for "all $total readings" 120 at_least "$LOG" "$(size_after "$total")"
press F2
wait_for "STOP" 10 at_least "$RECEIVED" 48
settled 0
[[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] || fail "the wire carried $(wire_words "$RECEIVED")"
logged=$(records_in "$LOG")
((logged == total)) || fail "$logged readings logged of $total"
{ yes "$cycle_log" || true; } | head -c "$(size_after "$total")" | cmp - "$LOG" ||
  fail "the log is not every reading in order"
growth=$((rss_last - rss_first))
((growth < max_growth_kib)) ||
  fail "resident memory grew by $growth KiB ($rss_first -> $rss_last) over $((total - 2 * window)) readings"
end_program
echo "PASS: $total readings logged in order; resident memory $rss_first -> $rss_last KiB"
