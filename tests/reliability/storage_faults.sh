#!/usr/bin/env bash
# The log cannot be created, or stops taking records in the middle of a session: each time one
# report, the session over (F2 has nothing left to stop), the records written before the fault
# kept whole, and the program alive and at rest. A log that cannot be created is found out before
# the gauge is disturbed (nothing on the wire); one that fails later, the gauge is told STOP twice.
# Last, two copies of the program in one folder: the second's START is refused, its gauge is told
# nothing, and the first one's log stays exact.
#
#   storage_faults.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/../e2e/lib.sh"

# case | what the report says
cases=(
  "log-is-dev-full|Не удалось записать данные в файл журнала"
  "file-size-limit|Не удалось записать данные в файл журнала"
  "disk-full|Не удалось записать данные в файл журнала"
  "log-name-is-a-folder|Не удалось создать файл журнала"
  "read-only-folder|Не удалось создать файл журнала"
  "log-deleted|удалён во время чтения данных"
)
limit=2000 # bytes, for the file size limit

# A file system of its own for the program's folder, with ROOM bytes free beside the program.
#   own_file_system DIR ROOM
own_file_system() {
  local size=$(($(size_of "$PIEZON") + $2))
  mkdir -p "$1"
  mount -t tmpfs -o "size=$size,mode=755" tmpfs "$1" 2>/dev/null || return 1
  mounts+=("$1")
}

# The records that fit in N bytes, whole.
records_within() {
  expected_log 200 | awk -v RS='\n' -v limit="$1" '{ size += length($0) + 1 } size <= limit { n++ } END { print n }'
}

start_x
ran=()
for entry in "${cases[@]}"; do
  name=${entry%%|*}
  what=${entry#*|}
  case $name in
    disk-full | read-only-folder)
      if ! own_file_system "$work/$name" $((64 * 1024)); then
        echo "skipped $name: cannot mount a file system here (needs root)"
        continue
      fi ;;
  esac
  new_app "$work/$name"
  start_sim "$name" --rate 960 --sequence "$work/sequence" --repeat
  start_program "$name"

  case $name in
    log-is-dev-full) ln -s /dev/full "$LOG" ;;
    file-size-limit) prlimit --pid "$PROGRAM_PID" --fsize="$limit" ;;
    log-name-is-a-folder) mkdir "$LOG" ;;
    read-only-folder) mount -o remount,ro "$APP" ;;
  esac
  press F1
  words="START STOP STOP"
  [[ $name == log-name-is-a-folder || $name == read-only-folder ]] && words=""
  if [[ $name == log-deleted ]]; then
    wait_for "records" 10 has_records "$LOG" 50
    rm "$LOG"
  fi
  wait_report 1 "$what"
  idle # with the report still open
  close_report
  [[ $(wire_words "$RECEIVED") == "$words" ]] ||
    fail "$name: the wire carried $(wire_words "$RECEIVED")"
  press F2
  settled 1
  [[ $(wire_words "$RECEIVED") == "$words" ]] || fail "$name: F2 found a session to stop"

  case $name in
    log-is-dev-full) [[ $(readlink "$LOG") == /dev/full ]] || fail "$name: the link was replaced" ;;
    log-name-is-a-folder) [[ -d $LOG ]] || fail "$name: the folder is gone" ;;
    read-only-folder | log-deleted) [[ ! -e $LOG ]] || fail "$name: a log appeared" ;;
    file-size-limit | disk-full)
      kept=$(records_in "$LOG")
      expected_log "$kept" | cmp -s - "$LOG" ||
        fail "$name: the $kept records left are not whole records of the readings"
      if [[ $name == file-size-limit ]]; then
        ((kept == $(records_within "$limit"))) || fail "$name: $kept records kept, not all that fit"
      else
        ((kept > 500)) || fail "$name: only $kept records before the disk was full"
      fi ;;
  esac
  end_program
  stop_sim
  ran+=("$name")
done

# --- Two copies in one folder, each with a gauge of its own (COM1 and COM2).
new_app "$work/two"
start_sim first --rate 960 --sequence "$work/sequence" --repeat --count 300
first_received=$RECEIVED
start_program first
press F5 F1
wait_for "the first copy's records" 20 has_records "$LOG" 300
first=("$PROGRAM_PID" "$WINDOW" "$PROGRAM_ERR")
SIM_PORT=2 start_sim second --rate 960 --sequence "$work/sequence" --repeat
start_program second
press Tab Tab Tab Down # the port box: COM2
press F1
wait_report 1 "другая копия программы"
close_report
settled 1
[[ ! -s $RECEIVED ]] || fail "the refused copy sent its gauge $(wire_words "$RECEIVED")"
press F2
settled 1
end_program
PROGRAM_PID=${first[0]} WINDOW=${first[1]} PROGRAM_ERR=${first[2]}
expected_log 300 | cmp -s - "$LOG" || fail "the first copy's log was disturbed"
press F2
wait_for "the first copy's STOP" 10 at_least "$first_received" 48
[[ $(wire_words "$first_received") == "START STOP STOP" ]] ||
  fail "the first copy's gauge heard $(wire_words "$first_received")"
expected_log 300 | cmp -s - "$LOG" || fail "the first copy's log changed at STOP"
settled 0
end_program
ran+=(two-copies-one-folder)
echo "PASS: ${ran[*]}"
