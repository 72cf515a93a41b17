# shellcheck shell=bash
# Shared by the process-level tests (tests/e2e, tests/reliability): the built program in a folder
# of its own showing its real window on a private X server, driven with xdotool, and the gauge
# simulator on a pseudo-terminal linked beside it.
#
#   source lib.sh PIEZON GAUGE_SIM
#
# Exits 77 (skipped) when Xvfb or xdotool is missing. Everything it starts is ended by pid when
# the script exits; on failure the simulators' and programs' stderr are shown.
set -euo pipefail
export LC_ALL=C # byte-wise grep, awk and sort on Windows-1251 text

PIEZON=$1
GAUGE_SIM=$2

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()   # started in the background; ended at exit
mounts=() # mounted by a test; unmounted at exit
cleanup() {
  local status=$? pid mount f
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  for mount in "${mounts[@]}"; do umount -l "$mount" 2>/dev/null || true; done
  # A sanitizer finding in any program run fails the test, even one the test did not look at.
  if ((status == 0)) && grep -lE "$SANITIZER_FINDING" "$work"/*.err 2>/dev/null; then
    echo "FAIL: sanitizer findings" >&2
    status=1
  fi
  if ((status != 0)); then
    for f in "$work"/*.err; do
      [[ -s $f && $f != */xvfb.err ]] && { echo "--- ${f##*/}"; tail -n 40 "$f"; }
    done
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
SANITIZER_FINDING='ERROR: (Address|Leak)Sanitizer|runtime error:'

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Waits (bounded) until a command succeeds.
wait_for() {
  local what=$1 seconds=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || fail "timed out waiting for $what"
    sleep 0.02
  done
}

size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
at_least() { (($(size_of "$1") >= $2)); }
# Records (CR LF lines) in a log.
records_in() { if [[ -e $1 ]]; then grep -c $'\r$' "$1" || true; else echo 0; fi; }
has_records() { (($(records_in "$1") >= $2)); }
# Exited, whether or not it has been waited for yet.
ended() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) || return 0
  [[ $state == Z* ]]
}

# --- What the gauge says and what the program must make of it ----------------------------------

# The readings the simulator plays, with the captions they give at offset 0, worked out by hand
# from the calibration table. Every byte a terminal might eat or translate (NUL, XON, XOFF, CR,
# LF, DEL, ^C, ^D, ^Z, ^\, ^U, 0xFF), and runs of equal captions (also from different raw values,
# 56 and 57) so the changes-only mode drops readings that the all-data mode keeps.
SEQ_BYTES=(00 00 11 13 0D 0D 0A 7F FF FF 03 1C 64 64 38 39 0D 1A 04 15 F8 F7 F7 0E)
SEQ_CAPTIONS=(0 0 0.5 0.56 0.41 0.41 0.28 3.55 8 8 0.09 0.85 2.73 2.73 1.6 1.6 0.41 0.78 0.13 0.63
              7.78 7.72 7.72 0.41)
((${#SEQ_BYTES[@]} == ${#SEQ_CAPTIONS[@]})) || fail "the readings table is inconsistent"
printf "$(printf '\\x%s' "${SEQ_BYTES[@]}")" >"$work/sequence"

START_CMD='ZKW5kqTwu\xE6r\xF9b\xDEON'
STOP_CMD='ZKWtRg\xF8\xF4pzH^\xC6OFF'
# "  Погрешность" + offset + "    |    " ... caption ... "     кгс/cм2" CR LF, in Windows-1251.
RECORD_HEAD=$(printf '  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC     0    |    ')
RECORD_TAIL=$(printf '     \xEA\xE3\xF1/c\xEC2')
export RECORD_HEAD RECORD_TAIL

# The readings' rows of a companion record, counted once every row is checked: whole (CR LF,
# seven fields, the file ending on a row's end) and, for readings, the sequence's bytes and
# captions in order from its start. Prints the count, or "bad: ..." about the first row that is
# not so.
#   companion_readings FILE [SEP]
companion_readings() {
  local file=$1 sep=${2:-.} decimals=() h
  [[ -e $file ]] || { echo 0; return; }
  if [[ -s $file && $(tail -c 2 "$file" | od -An -tx1 | tr -d ' \n') != 0d0a ]]; then
    echo "bad: the last row is torn"
    return
  fi
  for h in "${SEQ_BYTES[@]}"; do decimals+=($((16#$h))); done
  awk -F';' -v bytes="${decimals[*]}" -v captions="${SEQ_CAPTIONS[*]}" -v sep="$sep" '
    BEGIN { count = split(bytes, b, " "); split(captions, c, " ") }
    NR == 1 { next }
    bad { next }
    {
      if (substr($0, length($0)) != "\r" || NF != 7) { bad = "bad: row " NR ": " $0; next }
      if ($3 == "") next
      caption = c[n % count + 1]
      sub(/\./, sep, caption)
      if ($3 != b[n % count + 1] || $6 != caption) {
        bad = "bad: row " NR ": " $0 " (not " b[n % count + 1] " " caption ")"
        next
      }
      n++
    }
    END { print bad ? bad : n + 0 }' "$file"
}

# The log of one session of N readings of the sequence (repeated), offset 0: readings before
# SWITCH are logged in mode FROM, the rest in mode TO (all = every reading, changes = only a
# caption that differs from the one before). SEP is the decimal separator.
#   expected_log N [FROM [SWITCH TO [SEP]]]
expected_log() {
  local n=$1 from=${2:-all} switch=${3:-$1} to=${4:-all} sep=${5:-.}
  awk -v n="$n" -v from="$from" -v switch_at="$switch" -v to="$to" -v sep="$sep" \
    -v captions="${SEQ_CAPTIONS[*]}" '
    BEGIN {
      count = split(captions, c, " ")
      for (i = 0; i < n; i++) {
        caption = c[i % count + 1]
        mode = i < switch_at ? from : to
        if (mode == "all" || i == 0 || caption != previous) {
          shown = caption
          sub(/\./, sep, shown)
          printf "%s%s%s\r\n", ENVIRON["RECORD_HEAD"], shown, ENVIRON["RECORD_TAIL"]
        }
        previous = caption
      }
    }'
}

# Whether every line of a log is a whole record with a caption the sequence gives, whatever the
# order. Says what is wrong on stderr.
whole_records() {
  if [[ -s $1 && $(tail -c 2 "$1" | od -An -tx1 | tr -d ' ') != 0d0a ]]; then
    echo "the log ends inside a record" >&2
    return 1
  fi
  awk -v captions="${SEQ_CAPTIONS[*]}" '
    BEGIN {
      head = ENVIRON["RECORD_HEAD"]; tail = ENVIRON["RECORD_TAIL"] "\r"
      count = split(captions, c, " ")
      for (i = 1; i <= count; i++) known[head c[i] tail] = 1
    }
    !($0 in known) { printf "line %d is not a record of a reading: %s\n", NR, $0 > "/dev/stderr"; bad = 1; exit }
    END { exit bad }' "$1"
}

# The bytes the simulator received, as words: START STOP ...
wire_words() {
  local file=$1 start stop
  start=$(printf "$START_CMD" | od -An -tx1 | tr -d ' \n')
  stop=$(printf "$STOP_CMD" | od -An -tx1 | tr -d ' \n')
  od -An -v -tx1 "$file" | tr -d ' \n' | fold -w 32 |
    sed -e "s/^$start\$/START/" -e "s/^$stop\$/STOP/" | tr '\n' ' ' | sed 's/ $//'
}

# --- The X server, the simulator and the program ------------------------------------------------

start_x() {
  # -noreset: a server that resets when its last client leaves refuses a program started in
  # that instant ("could not connect to display").
  Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
    2>"$work/xvfb.err" &
  pids+=($!)
  wait_for "Xvfb" 10 test -s "$work/display"
  export DISPLAY=:$(head -n1 "$work/display")
  mkdir -m 700 "$work/xdg"
  export XDG_RUNTIME_DIR=$work/xdg
}

# A folder holding a copy of the program: it looks for COMn and writes its log beside itself.
# A log left from an earlier program in the same folder is removed: waiting for records must
# not find that one's.
#   new_app DIR   (sets APP and LOG)
new_app() {
  APP=$1
  mkdir -p "$APP"
  cp "$PIEZON" "$APP/piezon"
  LOG=$APP/Пьезон_RX418.log
  rm -f "$LOG"
}

# The simulator on COM1 of APP (COMn of SIM_DIR if set: SIM_PORT, SIM_DIR); what it receives
# goes to $RECEIVED.
#   start_sim NAME [gauge-sim options]   (sets SIM_PID and RECEIVED)
start_sim() {
  local name=$1
  shift
  RECEIVED=$work/$name.received
  "$GAUGE_SIM" --dir "${SIM_DIR:-$APP}" --port "${SIM_PORT:-1}" --received "$RECEIVED" "$@" \
    >"$work/$name.sim.out" 2>"$work/$name.sim.err" &
  SIM_PID=$!
  pids+=("$SIM_PID")
  wait_for "the simulator" 10 grep -qx ready "$work/$name.sim.out"
}

stop_sim() {
  kill "$SIM_PID" 2>/dev/null || true
  wait "$SIM_PID" 2>/dev/null || true
}

# The program in APP, with extra environment if given; its stderr goes to $PROGRAM_ERR.
#   start_program NAME [VAR=value ...]   (sets PROGRAM_PID, PROGRAM_ERR and WINDOW)
start_program() {
  local name=$1
  shift
  PROGRAM_ERR=$work/$name.err
  env QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 "$@" "$APP/piezon" >"$PROGRAM_ERR" 2>&1 &
  PROGRAM_PID=$!
  pids+=("$PROGRAM_PID")
  # Found by its process, then known by its id: its title changes while the gauge is silent.
  # (Matched on the Latin part of the title: without a UTF-8 language the window's legacy name,
  # the one xdotool matches, has its Cyrillic mangled.)
  WINDOW=$(timeout 30 xdotool search --all --sync --onlyvisible --pid "$PROGRAM_PID" \
    --name 'RX418' | head -n1) || true
  [[ -n $WINDOW ]] || fail "$name: the window did not appear"
}

click() { xdotool mousemove --window "$WINDOW" "$1" "$2" click 1; } # window-relative pixel
click_start() { click 320 96; }
click_stop() { click 320 168; }
press() { xdotool windowfocus --sync "$WINDOW" key "$@"; }

window_gone() {
  ended "$PROGRAM_PID" || ! xdotool search --all --onlyvisible --pid "$PROGRAM_PID" 2>/dev/null |
    grep -qx "$WINDOW"
}

# Ends the program with F3: its window gone within a second (the port and the log are let go
# before it), and the process gone after less than a second of its own time, on its own and
# cleanly. (The exit is counted in CPU time: a sanitizer build scans for leaks then, and a busy
# machine stretches that.)
end_program() {
  local status=0 before last deadline hz ticks
  hz=$(getconf CLK_TCK)
  before=$(cpu_ticks "$PROGRAM_PID")
  press F3
  deadline=$(($(date +%s%N) + 1000000000))
  until window_gone || (($(date +%s%N) > deadline)); do sleep 0.01; done
  window_gone || fail "F3 did not close the window within a second"
  # Its time as last seen before it went (the shell reaps it at once).
  last=$before
  deadline=$((SECONDS + 20))
  while ticks=$(cpu_ticks "$PROGRAM_PID" 2>/dev/null); do
    last=$ticks
    ((SECONDS < deadline)) || fail "the program did not exit after F3"
    sleep 0.01
  done
  ((last - before < hz)) || fail "F3: the program took $((last - before)) ticks to end"
  wait "$PROGRAM_PID" || status=$?
  ((status == 0)) || fail "the program ended with status $status"
  no_sanitizer_findings
}

no_sanitizer_findings() {
  if grep -qE "$SANITIZER_FINDING" "$PROGRAM_ERR"; then
    fail "sanitizer findings: $(grep -m1 -E 'Sanitizer|runtime error' "$PROGRAM_ERR")"
  fi
}

# --- The operator's view: reports, and a program that is alive and at rest ----------------------

# Every report starts with one of these; it goes to a message box and to stderr.
reports() {
  grep -cE '^(Порт COM|Не удалось|Нет доступа|Связь с манометром|Манометр выключен|Файл журнала)' \
    "$PROGRAM_ERR" || true
}

# The program's other windows with its name in the title: its message boxes.
message_boxes() {
  xdotool search --all --onlyvisible --pid "$PROGRAM_PID" --name 'RX418' 2>/dev/null |
    grep -vx "$WINDOW" || true
}

box_open() { [[ -n $(message_boxes) ]]; }
box_closed() { [[ -z $(message_boxes) ]]; }
reports_reach() { (($(reports) >= $1)); }

# Waits for report number N and its message box, and checks the report says WHAT.
#   wait_report N WHAT
wait_report() {
  wait_for "report $1" 20 reports_reach "$1"
  wait_for "the message box" 10 box_open
  grep -qF -- "$2" "$PROGRAM_ERR" || fail "no report says \"$2\": $(tail -n 4 "$PROGRAM_ERR")"
}

# Closes the message box (Return) so the program goes on.
close_report() {
  xdotool windowfocus --sync "$(message_boxes | head -n1)" key Return
  wait_for "the message box to close" 10 box_closed
}

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# Alive, and over one second uses well under a core (less than a fifth of one).
idle() {
  local pid=$PROGRAM_PID before after hz
  ended "$pid" && fail "the program is gone"
  hz=$(getconf CLK_TCK)
  before=$(cpu_ticks "$pid")
  sleep 1
  ended "$pid" && fail "the program is gone"
  after=$(cpu_ticks "$pid")
  ((after - before < hz / 5)) || fail "the program is busy at rest: $((after - before)) ticks in 1 s"
}

# Alive and idle, with exactly N reports so far and no box left open.
settled() {
  idle
  [[ $(reports) == "$1" ]] || fail "$(reports) reports where $1 were expected: $(cat "$PROGRAM_ERR")"
  box_closed || fail "a message box is still open"
}
