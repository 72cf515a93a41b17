#!/usr/bin/env bash
# START on a port that cannot be had, in one run of the program: each time one report naming the
# port, nothing sent anywhere, no log, and the program at rest and still stopped.
#
#   port_faults.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/../e2e/lib.sh"

# case | what the report says
cases=(
  "absent|Порт COM16 не найден"
  "held-by-another-program|порт занят другой программой"
  "links-to-nothing|устройство не найдено"
  "plain-file|Не удалось открыть порт COM1 ("
)

# How many serial devices this machine numbers before a COMn of ours would be absent.
serial_devices() {
  local family i n=0
  for family in /dev/ttyS /dev/ttyUSB /dev/ttyACM /dev/rfcomm; do
    for ((i = 0; ; i++)); do [[ -e $family$i ]] || break; n=$((n + 1)); done
  done
  echo "$n"
}

start_x
new_app "$work/app"
start_program piezon
main=("$PROGRAM_PID" "$WINDOW" "$PROGRAM_ERR")
use_main() { PROGRAM_PID=${main[0]} WINDOW=${main[1]} PROGRAM_ERR=${main[2]}; }

n=0
ran=()
for entry in "${cases[@]}"; do
  name=${entry%%|*}
  what=${entry#*|}
  case $name in
    absent)
      if (($(serial_devices) >= 16)); then echo "skipped $name: COM16 exists here"; continue; fi
      press Tab Tab Tab End ;; # the port box, its last number
    held-by-another-program)
      press Home # back to COM1
      start_sim gauge --rate 960 --sequence "$work/sequence" --repeat
      # The other program is a second copy of ours with its own COM1 on the same device.
      mkdir "$work/other"
      cp "$PIEZON" "$work/other/piezon"
      ln -s "$(readlink "$APP/COM1")" "$work/other/COM1"
      APP=$work/other start_program other
      APP=$work/app
      press F1
      wait_for "the other program's START" 10 at_least "$RECEIVED" 16
      holder=$PROGRAM_PID
      use_main ;;
    links-to-nothing) ln -sfn "$work/gone" "$APP/COM1" ;;
    plain-file)
      rm "$APP/COM1"
      printf 'not a serial port' >"$APP/COM1" ;;
  esac
  n=$((n + 1))
  press F1
  wait_report "$n" "$what"
  close_report
  settled "$n"
  [[ ! -e $LOG ]] || fail "$name: a log was created"
  case $name in
    held-by-another-program)
      [[ $(wire_words "$RECEIVED") == START ]] || fail "$name: the wire carried $(wire_words "$RECEIVED")"
      kill "$holder"
      stop_sim ;;
    plain-file) [[ $(cat "$APP/COM1") == 'not a serial port' ]] || fail "$name: the file was written to" ;;
  esac
  press F2 # nothing to stop, nothing to say
  settled "$n"
  ran+=("$name")
done
end_program
echo "PASS: ${ran[*]}"
