#!/usr/bin/env bash
# End to end: the built program, copied into a folder of its own, shows its real window on a
# private X server and is driven with the mouse and keyboard; the simulated gauge sits on COM1
# beside it. Checks what went over the wire and what reached the log, byte for byte.
#
#   session_with_simulated_gauge.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/lib.sh"

start_x
new_app "$work/app"
start_sim gauge --rate 200 --sequence "$work/sequence"
[[ $(head -n1 "$work/gauge.sim.out") == "$APP/COM1" ]] ||
  fail "simulator linked $(head -n1 "$work/gauge.sim.out")"
start_program piezon

readings=${#SEQ_BYTES[@]}
expected_log "$readings" >"$work/expected.log"

# --- Session 1: СТАРТ, every reading, СТОП.
click_start
wait_for "the START command" 10 at_least "$RECEIVED" 16
wait_for "the readings in the log" 10 at_least "$LOG" "$(size_of "$work/expected.log")"
sleep 0.2 # nothing more may follow
cmp "$work/expected.log" "$LOG" || fail "session 1: the log is not one record per reading"

click_stop
wait_for "the STOP commands" 10 at_least "$RECEIVED" 48
sleep 0.2
[[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] ||
  fail "session 1: the wire carried $(wire_words "$RECEIVED")"
cmp "$work/expected.log" "$LOG" || fail "session 1: the log changed after STOP"

# --- Session 2: СТАРТ again (a new log), then F3 ends the program while it runs: no STOP.
# A line the new session must not keep tells its log from the first one.
printf 'left over\r\n' >>"$LOG"
click_start
wait_for "the second START" 10 at_least "$RECEIVED" 64
wait_for "the second session's readings" 10 cmp -s "$work/expected.log" "$LOG"
sleep 0.2
cmp "$work/expected.log" "$LOG" || fail "session 2: the log was not started afresh"

end_program
sleep 0.2
[[ $(wire_words "$RECEIVED") == "START STOP STOP START" ]] ||
  fail "ending the program during a session sent something: $(wire_words "$RECEIVED")"
cmp "$work/expected.log" "$LOG" || fail "session 2: the log lost records at the end"
[[ $(reports) == 0 ]] || fail "unexpected reports: $(cat "$PROGRAM_ERR")"

# The gauge heard nothing but whole commands.
if grep -q 'stray' "$work/gauge.sim.err"; then
  fail "the simulator received stray bytes: $(grep stray "$work/gauge.sim.err" | head -n5)"
fi
echo "PASS: 2 sessions, $readings readings each, wire and log byte-exact"
