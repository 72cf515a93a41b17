#!/usr/bin/env bash
# The log cannot be created, or stops taking records in the middle of a session: each time one
# report, the gauge told STOP twice, the session over (F2 has nothing left to stop), the records
# written before the fault kept whole, and the program alive and at rest.
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
  if [[ $name == log-deleted ]]; then
    wait_for "records" 10 has_records "$LOG" 50
    rm "$LOG"
  fi
  wait_report 1 "$what"
  idle # with the report still open
  close_report
  [[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] ||
    fail "$name: the wire carried $(wire_words "$RECEIVED")"
  press F2
  settled 1
  [[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] || fail "$name: F2 found a session to stop"

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
echo "PASS: ${ran[*]}"
