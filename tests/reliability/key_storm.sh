#!/usr/bin/env bash
# A storm of function keys (F1, F2, F5, F6, and clicks on СТАРТ and СТОП) while the gauge streams
# at line rate: the gauge only ever hears START and then STOP twice, every log is whole records
# of real readings, nothing is reported, and afterwards one known session is logged byte for byte.
#
#   key_storm.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/../e2e/lib.sh"

batches=20
per_batch=100
readings=1000 # at most, per session
RANDOM=${STORM_SEED:-$$}
seed=$RANDOM
RANDOM=$seed
echo "storm seed $seed (STORM_SEED=$seed repeats it)"

# Until the wire and the log have not changed for a while: the program has caught up.
settle() {
  local before now deadline=$((SECONDS + 20))
  before="$(size_of "$RECEIVED") $(size_of "$LOG")"
  while :; do
    sleep 0.3
    now="$(size_of "$RECEIVED") $(size_of "$LOG")"
    [[ $now == "$before" ]] && return 0
    ((SECONDS < deadline)) || fail "the program did not settle"
    before=$now
  done
}

start_x
new_app "$work/app"
start_sim gauge --rate 960 --sequence "$work/sequence" --repeat --count "$readings"
start_program piezon

keys=(F1 F2 F5 F6)
for ((b = 1; b <= batches; b++)); do
  batch=()
  for ((k = 0; k < per_batch; k++)); do batch+=("${keys[RANDOM % 4]}"); done
  case $((RANDOM % 3)) in
    0) click_start ;;
    1) click_stop ;;
  esac
  xdotool windowfocus --sync "$WINDOW" key --delay 1 "${batch[@]}"
  case $((RANDOM % 3)) in
    0) click_start ;;
    1) click_stop ;;
  esac
  # A known state to check in: stopped, the log closed. A port opens on a thread of its own, so a
  # quiet wire does not yet say that the program has caught up with the keys: a START whose open
  # took long may still be waiting for its F2.
  press F2
  wire_whole() { [[ $(wire_words "$RECEIVED") =~ ^(START STOP STOP ?)*$ ]]; }
  wait_for "batch $b: STOP after the last START" 20 wire_whole
  settle
  words=$(wire_words "$RECEIVED")
  [[ $words =~ ^(START STOP STOP ?)*$ ]] || fail "batch $b: the wire carried $words"
  whole_records "$LOG" || fail "batch $b: the log is not whole records of readings"
  [[ $(reports) == 0 ]] || fail "batch $b: a report: $(cat "$PROGRAM_ERR")"
done
sessions=$(grep -o START <<<"$words" | wc -l)

# One known session: changes only, the gauge's whole session. The line added to the storm's last
# log must go with the START.
printf 'left over\r\n' >>"$LOG"
press F6 F1
expected_log "$readings" changes >"$work/expected.log"
wait_for "the known session" 20 cmp -s "$work/expected.log" "$LOG"
press F2
settle
cmp "$work/expected.log" "$LOG" || fail "the known session's log changed"
[[ $(wire_words "$RECEIVED") =~ ^(START STOP STOP ?)*$ ]] || fail "the last session's commands"
settled 0
end_program
echo "PASS: $((batches * per_batch)) keys, $sessions sessions, then a known session byte-exact"
