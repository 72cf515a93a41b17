#!/usr/bin/env bash
# The session window in the real program: F7 opens it over a running session and it draws the
# readings; closed, the session goes on; F7 opens it again with everything since START.
#
#   session_window.sh PIEZON GAUGE_SIM   (WINDOW_WATCH: tools/bench/window-watch, to close it)
source "$(dirname "$0")/lib.sh"
[[ -x ${WINDOW_WATCH:-} ]] || fail "WINDOW_WATCH is not set to window-watch"

start_x
new_app "$work/app"
start_program piezon

# The program's other window with its name in the title, while it is shown.
session_window() {
  xdotool search --all --onlyvisible --pid "$PROGRAM_PID" --name 'RX418' 2>/dev/null |
    grep -vx "$WINDOW" | head -n1
}
shown() { SESSION=$(session_window) && [[ -n $SESSION ]]; }
closed() { [[ -z $(session_window) ]]; }
# Pixels of the trace's own colour in the session window: a chart with readings has a line of
# them, one with none (or a window that never drew) has not.
trace_pixels() {
  import -window "$SESSION" -depth 8 txt:- 2>/dev/null | grep -c '#0046AA' || true
}
draws_trace() { (($(trace_pixels) >= 40)); }

start_sim slow --rate 24 --sequence "$work/sequence" --repeat
press F1
wait_for "the first readings" 10 has_records "$LOG" 24

press F7
wait_for "the session window" 10 shown
wait_for "the readings drawn in the session window" 10 draws_trace
first=$(trace_pixels)
import -window "$SESSION" "${SHOTS:-$work}/session-window.png"

# Closed: the session goes on, recording, and the main window stays.
"$WINDOW_WATCH" close --window "$SESSION"
wait_for "the session window to close" 10 closed
before=$(records_in "$LOG")
wait_for "readings while the session window is closed" 10 has_records "$LOG" $((before + 24))
ended "$PROGRAM_PID" && fail "closing the session window ended the program"

# Opened again: everything since START, more of it than before.
press F7
wait_for "the session window again" 10 shown
wait_for "the readings drawn again" 10 draws_trace
again=$(trace_pixels)
((again >= first)) || fail "the chart shows less after it was reopened: $again < $first trace pixels"

press F2
wait_for "the STOP commands" 10 at_least "$RECEIVED" 48
stop_sim
[[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] || fail "the wire carried $(wire_words "$RECEIVED")"
whole_records "$LOG" || fail "the log holds a torn or unknown record"
[[ $(reports) == 0 ]] || fail "unexpected reports: $(cat "$PROGRAM_ERR")"
end_program
closed || fail "F3 left the session window open"
echo "PASS: F7 over a session ($first trace pixels), closed with $(records_in "$LOG") records" \
  "logged meanwhile and after, F7 again ($again trace pixels)"
