#!/usr/bin/env bash
# The Windows program as the operator gets it, in its real window under Wine on a private Xvfb,
# driven with xdotool. Wine's COM1 leads to a pseudo-terminal where gauge-sim plays the gauge and
# records every byte the program sends; COM2 leads nowhere. This checks the window, the commands
# on the wire, the log's creation and lock, the messages, the ways the program ends and the
# installer; and the readings themselves: every byte value from the line becomes its record in
# the log, byte for byte, the reading's caption follows them on the screen, a line whose far end
# goes away turns the window stale with a notice, and a new line under COM1 takes its place. And
# what the exe carries (its manifest, its icon), its start without its platform plugin, and the
# installer and the uninstaller: the Start menu, the entry under Apps, and their refusal while the
# program runs.
#
#   real_window_under_wine.sh ZIP SETUP_EXE GAUGE_SIM SCREENSHOT_DIR HOLD_FILE_EXE
set -euo pipefail
ZIP=$(realpath "$1")
SETUP=$(realpath "$2")
SHOTS=$(realpath -m "$4")
HOLD_FILE=$(realpath "$5")
for tool in wine wineserver import unzip iconv xmllint x86_64-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
# The helpers of the Linux process-level tests (Xvfb, waiting, the wire); no Linux program here.
# shellcheck source=../e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh" "" "$(realpath "$3")"
export LC_ALL=C.UTF-8 # xdotool and the Cyrillic folder

# Wine's own processes go first, then what lib.sh started; the script's status is kept.
end_wine() {
  local status=$?
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  # Handed on as the status cleanup sees; with -e still on, a failed run would stop right here
  # and leave the simulators and the X server behind.
  set +e
  (exit "$status")
  cleanup
}
trap end_wine EXIT
step() { echo "--- $*"; }
wire_is() { (($(size_of "$work/wire") == $1)); }
wire_hex() { od -An -v -tx1 "$work/wire" | tr -d ' \n'; }
START_HEX=$(printf "$START_CMD" | od -An -v -tx1 | tr -d ' \n')
STOP_HEX=$(printf "$STOP_CMD" | od -An -v -tx1 | tr -d ' \n')

# --- A display, a Wine of our own, the gauge on COM1 -------------------------------------------
start_x

# (winemenubuilder would copy every shortcut the installer makes into this machine's own menus.)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine wineboot -i >/dev/null 2>&1

"$GAUGE_SIM" --dir "$work" --port 1 --received "$work/wire" >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
wait_for "the simulator" 10 grep -qx ready "$work/sim.out"
pty=$(readlink "$work/COM1")
nowhere=$work/no-such-device

# Wine would lead COM1 to this machine's own first serial port. Every number the program offers
# is led somewhere of ours, and checked before any program starts.
for n in $(seq 1 16); do
  case $n in 1) target=$pty ;; 2) target=$nowhere ;; *) target=/dev/null ;; esac
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$target" /f >/dev/null 2>&1
done
wineserver -w
wine cmd /c exit >/dev/null 2>&1
for n in $(seq 1 16); do
  case $n in 1) want=$pty ;; 2) want=$nowhere ;; *) want=/dev/null ;; esac
  got=$(readlink "$WINEPREFIX/dosdevices/com$n" || true)
  [[ $got == "$want" ]] || fail "Wine's COM$n leads to '${got:-nowhere}', not $want: not starting"
done

# --- The program from the zip, in a folder with a Cyrillic name --------------------------------
APP="$work/Пьезон для RX418"
unzip -q "$ZIP" -d "$work/unzipped"
mv "$work/unzipped"/* "$APP"
LOG="$APP/Пьезон_RX418.log"

# Where the exe's resources of TYPE are in its file (24: the manifest; 3: the icon images), found
# as Windows finds them, through the resource tree (objdump lists it): "offset size" each.
#   resources_of EXE TYPE
resources_of() {
  local objdump=x86_64-w64-mingw32-objdump base vma offset rva size
  base=$("$objdump" -p "$1" | awk '$1 == "ImageBase" { print $2 }')
  read -r vma offset < <("$objdump" -h "$1" | awk '$2 == ".rsrc" { print $4, $6 }')
  "$objdump" -p "$1" | awk -v type="$(printf 'ID: 0x%06x,' "$2")" '
    /^[0-9a-f]+   Entry: / { of_type = index($0, type) > 0 } # the first level: types
    of_type && /Leaf: Addr:/ { gsub(/,/, ""); print $4, $6 }' |
    while read -r rva size; do
      echo $((rva - (16#$vma - 16#$base) + 16#$offset)) $((size))
    done
}
#   bytes_at FILE OFFSET COUNT
bytes_at() { dd if="$1" iflag=skip_bytes,count_bytes skip="$2" count="$3" status=none; }

step "the exe carries its manifest and a 256 px icon"
read -r at size < <(resources_of "$APP/piezon.exe" 24) || fail "the exe has no manifest"
bytes_at "$APP/piezon.exe" "$at" "$size" >"$work/manifest.xml"
# Windows refuses to start a program whose manifest it cannot read.
xmllint --noout "$work/manifest.xml" 2>"$work/manifest.err" ||
  fail "the manifest is not well-formed XML: $(head -n 2 "$work/manifest.err")"
# What each setting of the manifest must say, as a pattern over its text.
while IFS='|' read -r what pattern; do
  grep -Eq "$pattern" "$work/manifest.xml" || fail "the manifest does not say $what"
done <<'TABLE'
long paths: longPathAware true|<([a-z0-9]+:)?longPathAware( [^>]*)?>true</
Windows 10 and 11 as a supported system|<([a-z0-9]+:)?supportedOS Id="\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\}"
TABLE
# Explorer's large icons and the taskbar on a high-DPI screen take the 256 px image, a PNG.
resources_of "$APP/piezon.exe" 3 | while read -r at size; do
  bytes_at "$APP/piezon.exe" "$at" 24 | od -An -v -tx1 | tr -d ' \n'
  echo
done >"$work/icons.txt"
grep -qx '89504e470d0a1a0a0000000d494844520000010000000100' "$work/icons.txt" ||
  fail "no 256 px PNG among the exe's $(wc -l <"$work/icons.txt") icon images"
echo "the manifest: longPathAware, Windows 10 and 11;" \
  "$(wc -l <"$work/icons.txt") icon images, one of 256 px"

step "--version, --help and --list-ports, redirected: UTF-8"
wine "$APP/piezon.exe" --version >"$work/version.txt" 2>"$work/version.err"
[[ $(cat "$work/version.txt") == $'Пьезон для RX418 2.00\r' ]] ||
  fail "--version wrote: $(od -c "$work/version.txt" | head -n 3)"
wine "$APP/piezon.exe" --help >"$work/help.txt" 2>"$work/help.err"
grep -q 'Диспетчере устройств' "$work/help.txt" || fail "--help: $(head -n 3 "$work/help.txt")"
wine "$APP/piezon.exe" --list-ports >"$work/ports.txt" 2>"$work/ports.err"
status=0
wine "$APP/piezon.exe" --no-such-option >"$work/bad.txt" 2>"$work/bad.err" || status=$?
((status == 2)) || fail "an unknown option: exit status $status"
grep -q 'неизвестный параметр «--no-such-option»' "$work/bad.err" ||
  fail "an unknown option: $(cat "$work/bad.err")"
echo "--version: $(tr -d '\r' <"$work/version.txt")"
echo "--list-ports under Wine:"
sed 's/^/  /' "$work/ports.txt"

# A new window is found by the Latin part of its title, then known by its id: the title gains
# «— нет данных» while the gauge is silent.
windows_of() { xdotool search --all --onlyvisible --name 'RX418' 2>/dev/null || true; }
# Starts a copy from FOLDER; sets PID and WINDOW (the new window that is not in $known).
start_copy() {
  local name=$1 folder=$2 known
  known=$(windows_of)
  wine "$folder/piezon.exe" >"$work/$name.out" 2>"$work/$name.err" &
  PID=$!
  pids+=("$PID")
  new_window() {
    WINDOW=$(windows_of | grep -vxF -e "${known:-none}" | head -n1)
    [[ -n $WINDOW ]]
  }
  wait_for "the window of $name" 60 new_window
}
press() { xdotool windowfocus --sync "$1" key "${@:2}"; }
# A message box of the program: another window with its caption, once it is shown.
#   wait_box MAIN_WINDOW [OTHER_WINDOW]   (sets BOX)
wait_box() {
  has_box() {
    BOX=$(windows_of | grep -vxF -e "$1" | grep -vxF -e "${2:-none}" | head -n1)
    [[ -n $BOX ]]
  }
  wait_for "the message box" 10 has_box "$@"
}
says() { grep -qF -- "$2" "$work/$1.err"; }
mkdir -p "$SHOTS"

step "without its platform plugin: a box names the missing file; Enter, exit status 1"
# As after a zip unpacked in part, or an antivirus that took the file: the operator is told, in
# Russian, which file is missing.
BARE="$work/без модуля окна"
cp -r "$APP" "$BARE"
rm "$BARE/platforms/qwindows.dll"
wine "$BARE/piezon.exe" >"$work/bare.out" 2>"$work/bare.err" &
BARE_PID=$!
pids+=("$BARE_PID")
bare_box() {
  BOX=$(xdotool search --all --onlyvisible --pid "$BARE_PID" --name '^Пьезон для RX418$' \
    2>/dev/null | head -n1)
  [[ -n $BOX ]]
}
wait_for "the message box of the program without its platform plugin" 30 bare_box
sleep 0.5 # drawn
import -window "$BOX" "$SHOTS/no-platform-plugin.png"
says bare 'platforms\qwindows.dll' ||
  fail "the message does not name the file: $(cat "$work/bare.err")"
press "$BOX" Return
wait_for "the program to end after the box" 20 ended "$BARE_PID"
status=0
wait "$BARE_PID" || status=$?
((status == 1)) || fail "without its platform plugin: exit status $status, not 1"
grep -m1 -F 'qwindows.dll' "$work/bare.err"
echo "the box ($SHOTS/no-platform-plugin.png), then exit status 1"

step "the window"
WINEDEBUG=+loaddll start_copy first "$APP"
FIRST=$WINDOW FIRST_PID=$PID
sleep 1
if grep -q 'qwindowsvistastyle' "$work/first.err"; then
  echo "the Windows style (qwindowsvistastyle) is loaded"
else
  echo "the Windows style plugin was not loaded: Qt's own style draws the window"
fi
geometry=$(xdotool getwindowgeometry "$FIRST" | awk '/Geometry/ { print $2 }')
[[ $geometry == 376x273 ]] || fail "the client area is $geometry, not 376x273"
import -window "$FIRST" "$SHOTS/window-100.png"
echo "client area $geometry; screenshot $SHOTS/window-100.png"

step "at rest: the active window's thread sleeps, СТАРТ still drawn as the default button"
# Qt's Windows style would pulse the default button for as long as the window is active: about
# 1,200 wake-ups a second of the window's thread under Wine. Stopped, the thread has nothing to do.
thread_switches() {
  awk '/^(non)?voluntary_ctxt_switches:/ { n += $2 } END { print n }' \
    "/proc/$FIRST_PID/task/$FIRST_PID/status"
}
xdotool windowactivate --sync "$FIRST" 2>/dev/null || xdotool windowfocus --sync "$FIRST"
# The pointer away from the window: resting on some spots of it, Wine's own emulation of the
# mouse-leave tracking wakes the thread about 40 times a second, in any style.
xdotool mousemove 0 0
sleep 1 # whatever the activation itself redraws
before=$(thread_switches)
sleep 3
switches=$(($(thread_switches) - before))
((switches <= 30)) ||
  fail "the window's thread woke $switches times in 3 idle seconds (at most 30): something animates"
import -window "$FIRST" "$SHOTS/window-active-at-rest.png"
echo "$switches wake-ups of the window's thread in 3 s; screenshot $SHOTS/window-active-at-rest.png"

step "F1: START on the line, the log beside the program"
press "$FIRST" F1
wait_for "START on the line" 10 wire_is 16
[[ $(wire_hex) == "$START_HEX" ]] || fail "not the START command: $(wire_hex)"
[[ -f $LOG ]] || fail "no log beside the program"
echo "16 bytes on the line, START; $(basename "$LOG") created"

step "a second copy in the same folder is refused before its port opens"
start_copy second "$APP"
SECOND=$WINDOW SECOND_PID=$PID
press "$SECOND" F1
wait_for "the refusal" 20 says second "уже занят"
wait_box "$FIRST" "$SECOND"
sleep 0.5
wire_is 16 || fail "the second copy sent something: $(size_of "$work/wire") bytes on the line"
press "$BOX" Return
press "$SECOND" F3
wait_for "the second copy to end" 20 ended "$SECOND_PID"
grep -m1 -F "уже занят" "$work/second.err"

step "F2: STOP twice"
press "$FIRST" F2
wait_for "STOP twice" 10 wire_is 48
[[ $(wire_hex) == "$START_HEX$STOP_HEX$STOP_HEX" ]] || fail "not START, STOP, STOP: $(wire_hex)"
echo "48 bytes on the line: START, STOP, STOP"

step "a COM port that leads nowhere"
press "$FIRST" Tab Tab Tab Down # the port box: COM2
press "$FIRST" F1
wait_for "the message" 20 says first "COM2"
grep -F "COM2" "$work/first.err" | head -n 2
says first "Не удалось открыть порт COM2" || fail "not the Russian message: $(tail -n 3 "$work/first.err")"
wait_box "$FIRST"
press "$BOX" Return
wire_is 48 || fail "something was sent after the failed START"

step "F3 ends the program"
press "$FIRST" F3
wait_for "the program to end" 20 ended "$FIRST_PID"
status=0
wait "$FIRST_PID" || status=$?
((status == 0)) || fail "F3: exit status $status"

# --- Readings ------------------------------------------------------------------------------------
# Each gauge of this part on a pseudo-terminal of its own; Wine's COM1 is led to it while the
# program runs (Wine looks the link up at every open), and back to the first gauge at the end.
line_dir=$work/line
mkdir "$line_dir"
#   new_line NAME [gauge-sim options]   (sets LINE_PID and LINE_WIRE)
new_line() {
  local name=$1
  shift
  LINE_WIRE=$work/$name.wire
  "$GAUGE_SIM" --dir "$line_dir" --port 1 --received "$LINE_WIRE" "$@" \
    >"$work/$name.sim.out" 2>"$work/$name.sim.err" &
  LINE_PID=$!
  pids+=("$LINE_PID")
  wait_for "the simulator $name" 10 grep -qx ready "$work/$name.sim.out"
  ln -sfn "$(readlink "$line_dir/COM1")" "$WINEPREFIX/dosdevices/com1"
}
line_words() { LC_ALL=C wire_words "$LINE_WIRE"; }
line_has() { (($(size_of "$LINE_WIRE") >= $1)); }
records() { LC_ALL=C records_in "$LOG"; }
records_reach() { (($(records) >= $1)); }

# The captions of byte values (decimal, one a line) at an offset, worked out from the gauge's
# calibration: runs of codes "first last correction", the correction taken off the code before the
# offset is added. Checked first against the captions lib.sh worked out by hand.
captions_at() {
  LC_ALL=C awk -v offset="$1" '
    BEGIN {
      n = split("8 12 1  14 29 1  30 37 2  38 49 3  50 52 4  53 56 5  57 61 6  62 69 7  70 71 8 " \
                "72 74 9  75 78 10  79 89 11  90 99 12  100 114 13  115 141 14  142 157 13 " \
                "158 167 12  168 178 11  179 182 10  183 185 9  186 187 8  188 195 7  196 200 6 " \
                "201 204 5  205 207 4  208 219 3  220 227 2  228 247 1", run, " ")
      for (i = 1; i <= n; i += 3)
        for (code = run[i]; code <= run[i + 1]; code++) correction[code] = run[i + 2]
    }
    {
      caption = sprintf("%.2f", ($1 - correction[$1] + offset) * 8 / 255)
      sub(/0+$/, "", caption)
      sub(/\.$/, "", caption)
      print caption == "-0" ? "0" : caption
    }'
}
hand_worked=$(for b in "${SEQ_BYTES[@]}"; do echo $((16#$b)); done | captions_at 0 | tr '\n' ' ')
[[ $hand_worked == "${SEQ_CAPTIONS[*]} " ]] ||
  fail "the calibration here does not give lib.sh's captions: $hand_worked"
# The log's records of byte values (decimal, one a line) at the offset the picker shows as TEXT.
#   records_of TEXT
records_of() {
  captions_at "${1// /}" | LC_ALL=C awk -v text="$1" '{
    head = ENVIRON["RECORD_HEAD"]
    sub(/     0    \|    $/, "", head)
    printf "%s%s    |    %s%s\r\n", head, text, $0, ENVIRON["RECORD_TAIL"]
  }'
}
as_bytes() { while read -r b; do printf '%b' "\\0$(printf %03o "$b")"; done; }
seq 0 255 | as_bytes >"$work/every-byte"
(($(size_of "$work/every-byte") == 256)) || fail "not 256 byte values"
# lib.sh's readings (every byte a terminal might eat or translate), then FF.
for b in "${SEQ_BYTES[@]}" FF; do echo $((16#$b)); done >"$work/slow-values"
as_bytes <"$work/slow-values" >"$work/slow-bytes"

# What the window shows, at 100 %: the reading's caption (Label1) and the dial with its needle.
CAPTION_BOX=65x25+112+192
DIAL_BOX=240x240+16+16
picture() { import -window "$READER" -crop "$1" +repage -depth 8 "$work/crop.txt" 2>/dev/null; }
colour_in() { # BOX RRGGBB: pixels of exactly that colour
  picture "$1"
  grep -ci " #$2 " "$work/crop.txt" || true
}
caption_digest() { import -window "$READER" -crop "$CAPTION_BOX" +repage -format '%#' info: 2>/dev/null; }
# (The edges of white letters on black can be any grey, those of the red needle any dark red: the
# live look is told by its own colours alone.)
live_look() { (($(colour_in "$CAPTION_BOX" FFFFFF) > 20 && $(colour_in "$DIAL_BOX" FF0000) > 20)); }
stale_look() {
  (($(colour_in "$CAPTION_BOX" 808080) > 20 && $(colour_in "$CAPTION_BOX" FFFFFF) == 0)) &&
    (($(colour_in "$DIAL_BOX" 800000) > 20 && $(colour_in "$DIAL_BOX" FF0000) == 0))
}
shows_reference() { [[ $(caption_digest) == "$REFERENCE" ]]; }
no_box() { ! windows_of | grep -qvxF -e "$READER"; }

step "every byte value from the line becomes its record, at offset -7"
# Every byte value at the line's full rate: they come in batches, between the program's reads.
new_line every --sequence "$work/every-byte" --rate 960 --count 256
start_copy reader "$APP"
READER=$WINDOW READER_PID=$PID
press "$READER" Tab Tab Down Down Down Down Down Down Down # the offset picker: from 0 to -7
press "$READER" F1
wait_for "START" 10 line_has 16
wait_for "256 records" 20 records_reach 256
sleep 0.3 # nothing more may follow
seq 0 255 | records_of "    -7" >"$work/every.log"
cmp -s "$work/every.log" "$LOG" ||
  fail "the log is not one record per byte value: $(cmp "$work/every.log" "$LOG" 2>&1 | head -n1)"
echo "256 byte values, 00 to FF, became 256 records at offset -7, byte for byte"

step "the caption shows the last reading, white; the needle red"
wait_for "the live look" 10 live_look
REFERENCE=$(caption_digest)
import -window "$READER" "$SHOTS/reading.png"
echo "caption of FF at -7 ($(echo 255 | captions_at -7)) drawn; $SHOTS/reading.png"

step "F7: the session window draws the readings; closed (Alt+F4), the session goes on"
press "$READER" F7
session_window() {
  SESSION=$(windows_of | grep -vxF -e "$READER" | head -n1)
  [[ -n $SESSION ]]
}
wait_for "the session window" 20 session_window
# The trace's own colour: a chart that drew the 256 readings has a line of it.
trace_drawn() {
  (($(import -window "$SESSION" -depth 8 txt:- 2>/dev/null | grep -c '#0046AA') >= 40))
}
wait_for "the readings drawn in the session window" 20 trace_drawn
import -window "$SESSION" "$SHOTS/session-window.png"
press "$SESSION" alt+F4
wait_for "the session window to close" 10 no_box
ended "$READER_PID" && fail "closing the session window ended the program"
echo "the session window drew the readings ($SHOTS/session-window.png), then closed alone"

step "F2: STOP twice reaches the line before it is let go"
press "$READER" F2
wait_for "STOP twice" 10 line_has 48
sleep 0.3
[[ $(line_words) == "START STOP STOP" ]] || fail "the line carried $(line_words)"
kill "$LINE_PID"
echo "START, STOP, STOP"

step "a real gauge's pace, then its line's far end goes away"
# Each byte comes on its own, while the program waits for it: the bytes a terminal might eat or
# translate, then FF. The line hangs up once they are through.
slow_count=$(size_of "$work/slow-bytes")
new_line slow --sequence "$work/slow-bytes" --rate 20 --close-after "$slow_count"
press "$READER" F1
wait_for "the line to close" 20 ended "$LINE_PID"
wait "$LINE_PID" || fail "the simulator failed: $(tail -n 3 "$work/slow.sim.err")"
wait_for "the notice" 20 says reader "Связь с манометром через порт COM1"
grep -m1 -F "Связь с манометром" "$work/reader.err"
wait_box "$READER"
# Out of the way of the window, which must show what the box would cover.
xdotool windowmove "$BOX" 0 560
wait_for "the stale look: a grey caption, a dark red needle" 10 stale_look
import -window "$READER" "$SHOTS/stale.png"
[[ $(line_words) == START ]] || fail "the line carried $(line_words)"
wait_for "$slow_count records" 10 records_reach "$slow_count"
records_of "    -7" <"$work/slow-values" >"$work/slow.log"
cmp -s "$work/slow.log" "$LOG" || fail "the log is not the $slow_count readings before the loss"
cmp -s "$work/every.log" "${LOG%.log}_предыдущий.log" ||
  fail "the first session's log was not kept as the previous one"
echo "$slow_count readings one by one, byte for byte; then stale ($SHOTS/stale.png) with the notice"

step "a new line under COM1: START by itself, readings on into the same log"
new_line back --sequence "$work/every-byte" --rate 960 --count 256
wait_for "START on the new line within 5 s" 5 line_has 16
wait_for "the notice to go" 10 no_box
wait_for "the new line's readings" 20 records_reach $((slow_count + 256))
sleep 0.3
cat "$work/slow.log" "$work/every.log" | cmp -s - "$LOG" ||
  fail "the log did not go on with the new line's readings ($(records) records)"
wait_for "the same reading drawn the same, live again" 10 shows_reference
live_look || fail "not live again"
echo "the new line's 256 readings went on into the same log; the caption is drawn as before"

step "F2: STOP twice reaches the new line too"
press "$READER" F2
wait_for "STOP twice" 10 line_has 48
sleep 0.3
[[ $(line_words) == "START STOP STOP" ]] || fail "the new line carried $(line_words)"
press "$READER" F3
wait_for "the program to end" 20 ended "$READER_PID"
kill "$LINE_PID" 2>/dev/null || true
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com1"
echo "START, STOP, STOP on the new line"

step "the last log held by another program: a viewer (sharing writing), then Excel (only reading); the companion record held by Excel"
# hold-file.exe holds a file open as such programs do, until its release file appears.
hold() { # NAME SHARE [FILE]: holds FILE, by default the log; sets HOLD_PID
  wine "$HOLD_FILE" "$(winepath -w "${3:-$LOG}")" "$2" "$(winepath -w "$work/$1.held")" \
    "$(winepath -w "$work/$1.release")" >/dev/null 2>"$work/$1.hold.err" &
  HOLD_PID=$!
  pids+=("$HOLD_PID")
  wait_for "$1 to hold ${3:-the log}" 20 test -s "$work/$1.held"
}
let_go() { touch "$work/$1.release"; wait_for "$1 to let go" 20 ended "$HOLD_PID"; }
previous_is() { cmp -s "$1" "${LOG%.log}_предыдущий.log"; }
new_line holders --count 0
printf '  viewer session\r\n' >"$LOG"
cp "$LOG" "$work/viewer.before"
start_copy holders "$APP"
HOLDERS=$WINDOW HOLDERS_PID=$PID
hold viewer rw
press "$HOLDERS" F1
# The rename is refused for 2 s, then the records are kept by copying.
wait_for "START past the viewer" 20 line_has 16
sleep 0.5
[[ $(line_words) == START ]] || fail "with a viewer: the line carried $(line_words)"
previous_is "$work/viewer.before" || fail "with a viewer: the records were not kept aside"
[[ ! -s $LOG ]] || fail "with a viewer: the log was not emptied: $(od -c "$LOG" | head -n 2)"
let_go viewer
press "$HOLDERS" F2
wait_for "STOP twice" 10 line_has 48
echo "a viewer held the log: START alone on the line, the records kept aside, the log empty"

printf '  excel session\r\n' >"$LOG"
cp "$LOG" "$work/excel.before"
cp "${LOG%.log}_предыдущий.log" "$work/excel.previous"
hold excel r
press "$HOLDERS" F1
wait_for "the refusal" 20 says holders "Журнал открыт в другой программе"
wait_box "$HOLDERS"
sleep 0.5
line_has 49 && fail "with Excel: something was sent: $(line_words)"
cmp -s "$work/excel.before" "$LOG" || fail "with Excel: the log was changed"
previous_is "$work/excel.previous" || fail "with Excel: the previous log was changed"
import -window "$BOX" "$SHOTS/log-held.png"
# Closed in Excel, then «Повторить» (the box's default button): the same START goes ahead.
let_go excel
press "$BOX" Return
wait_for "START after «Повторить»" 20 line_has 64
previous_is "$work/excel.before" || fail "after «Повторить»: the records were not kept aside"
press "$HOLDERS" F2
wait_for "STOP twice" 10 line_has 96
sleep 0.3
[[ $(line_words) == "START STOP STOP START STOP STOP" ]] || fail "the line carried $(line_words)"

# The companion record double-clicked into Excel, as the guide says to open it: START goes ahead
# all the same, without the record this session, and says so.
CSV="${LOG%.log}.csv"
[[ -s $CSV ]] || fail "no companion record beside the log"
cp "$CSV" "$work/csv.before"
hold excel-csv r "$CSV"
press "$HOLDERS" F1
wait_for "START past Excel's hold of the record" 20 line_has 112
wait_for "the notice" 20 says holders "Файл с отметками времени"
cmp -s "$work/csv.before" "$CSV" || fail "with Excel holding it: the companion record was changed"
let_go excel-csv
press "$HOLDERS" F2
wait_for "STOP twice" 10 line_has 144
echo "Excel held the companion record: START went ahead, the record as it was, the notice given"
press "$HOLDERS" F3
wait_for "the program to end" 20 ended "$HOLDERS_PID"
kill "$LINE_PID" 2>/dev/null || true
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com1"
echo "Excel held the log: refused with nothing sent and both files as they were ($SHOTS/log-held.png);" \
  "«Повторить» once it let go started the session"

step "the end of the desktop session ends the program, as F3"
press_start=$(size_of "$work/wire")
start_copy third "$APP"
THIRD_PID=$PID
press "$WINDOW" F1 # a new copy starts on COM1
wait_for "START" 10 wire_is $((press_start + 16))
wine wineboot --end-session >/dev/null 2>&1 || true
wait_for "the program to end with the session" 30 ended "$THIRD_PID"
status=0
wait "$THIRD_PID" || status=$?
# Windows (and Wine) may end the process as soon as the message is handled: the program must
# have ended its session inside it, as F3 does, without telling the gauge anything.
says third "Сеанс Windows завершается" || fail "the end of the session did not reach the program"
grep -F "Сеанс Windows" "$work/third.err"
echo "the process ended with status $status (Wine ends what is left after the message)"
wire_is $((press_start + 16)) || fail "the end of the session sent something to the gauge"

step "a pressure hold of 0:10 at a steady 2.73: held, its rows and its protocol beside the log"
for ((i = 0; i < 30; i++)); do echo 100; done | as_bytes >"$work/steady-bytes"
start_copy holder "$APP"
HOLDER=$WINDOW HOLDER_PID=$PID
# Led to the new line while a program runs: a Wine server started afresh would lead COM1 where
# the registry says.
new_line steady --sequence "$work/steady-bytes" --repeat --rate 10
press "$HOLDER" F1
wait_for "START" 10 line_has 16
wait_for "readings" 20 records_reach 10
press "$HOLDER" F7
holder_session() {
  SESSION=$(windows_of | grep -vxF -e "$HOLDER" | head -n1)
  [[ -n $SESSION ]]
}
wait_for "the session window" 20 holder_session
press "$SESSION" Tab ctrl+a # «Длительность»
xdotool type --delay 20 "0:10"
press "$SESSION" F8
protocol() { PDF=$(find "$APP" -maxdepth 1 -name 'Пьезон_RX418_испытание_*.pdf' | head -n1); [[ -n $PDF ]]; }
wait_for "the protocol" 30 protocol
import -window "$SESSION" "$SHOTS/pressure-hold.png"
ROWS=${PDF%.pdf}.csv
wait_for "the hold's rows" 10 test -s "$ROWS"
# Ctrl+O: the system's own file dialog, modal; the gauge's readings go on being logged under it.
# A copy of the record under a Latin name: typed into the dialog, Cyrillic would depend on the
# keyboard layout xdotool finds.
cp "${LOG%.log}.csv" "$work/record.csv"
logged=$(records)
press "$SESSION" ctrl+o
file_dialog() {
  DIALOG=$(xdotool search --all --onlyvisible --pid "$HOLDER_PID" 2>/dev/null |
    grep -vxF -e "$HOLDER" -e "$SESSION" | head -n1)
  [[ -n $DIALOG ]]
}
wait_for "the file dialog" 20 file_dialog
sleep 2
(($(records) >= logged + 10)) ||
  fail "readings were not logged while the file dialog was open: $logged, then $(records)"
import -window "$DIALOG" "$SHOTS/open-record-dialog.png"
xdotool windowfocus --sync "$DIALOG" type --delay 20 "$(winepath -w "$work/record.csv")"
press "$DIALOG" Return
record_shown() { [[ $(xdotool getwindowname "$SESSION" 2>/dev/null) == *record.csv* ]]; }
wait_for "the record shown in the session window" 20 record_shown
import -window "$SESSION" "$SHOTS/saved-record.png"
echo "$(($(records) - logged)) readings logged across the file dialog; the record shown:" \
  "$(xdotool getwindowname "$SESSION")"
press "$HOLDER" F2
wait_for "STOP twice" 10 line_has 48
CSV="${LOG%.log}.csv"
grep -q $'испытание: начало, 0:10, допустимое падение 0[.,]20\r$' "$ROWS" ||
  fail "no start row among the hold's rows: $(grep испытание "$ROWS")"
[[ $(tail -n1 "$ROWS") == *$';испытание: ВЫДЕРЖАНО\r' ]] ||
  fail "the hold's rows do not end held: $(tail -n1 "$ROWS")"
tail -n +2 "$ROWS" >"$work/hold-rows"
tail -n +2 "$CSV" | head -c "$(size_of "$work/hold-rows")" | cmp -s - "$work/hold-rows" ||
  fail "the hold's rows are not the record's"
# The log: one record per reading of the record, as without a hold.
LC_ALL=C awk -F';' 'NR > 1 && $3 != "" {
    printf "%s%s%s\r\n", ENVIRON["RECORD_HEAD"], $6, ENVIRON["RECORD_TAIL"] }' "$CSV" >"$work/hold.log"
cmp -s "$work/hold.log" "$LOG" || fail "the log is not one record per reading of the record"
if command -v pdftotext >/dev/null; then
  text=$(pdftotext -layout "$PDF" - | tr -s ' ')
  for pattern in 'ВЫДЕРЖАНО' 'Давление в начале 2[.,]73 кгс/см²' 'Давление в конце 2[.,]73 кгс/см²' \
    'Падение 0[.,]00 кгс/см²'; do
    grep -q -- "$pattern" <<<"$text" || fail "the protocol does not say «$pattern»: $text"
  done
  fonts=$(pdffonts "$PDF" | tail -n +3)
  [[ -n $fonts ]] || fail "no fonts in the protocol"
  # One face, the regular: Windows names a family's faces alike, and a page set in the bold one
  # has mistaken one for the other.
  [[ $(awk '{ print $1 }' <<<"$fonts") == LiberationSans?(Regular) ]] ||
    fail "not the regular face alone: $fonts"
  while read -r font rest; do
    [[ $font == *LiberationSans* ]] || fail "a font not the program's: $font"
    awk '{ exit !($(NF - 4) == "yes" && $(NF - 2) == "yes") }' <<<"$font $rest" ||
      fail "$font is not embedded with a Unicode map"
  done <<<"$fonts"
  echo "the protocol says ВЫДЕРЖАНО, 2.73 to 2.73; fonts embedded with Unicode maps:" \
    "$(awk '{ print $1 }' <<<"$fonts" | tr '\n' ' ')"
else
  echo "pdftotext is not installed: the protocol's text not read"
fi
press "$HOLDER" F3
wait_for "the program to end" 20 ended "$HOLDER_PID"
kill "$LINE_PID" 2>/dev/null || true
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com1"
echo "held: $(basename "$PDF") and $(grep -c . "$ROWS") rows beside the log ($SHOTS/pressure-hold.png)"

# --- The installer and the uninstaller ----------------------------------------------------------
local_data=$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
profile_data=$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
INST="$(winepath -u "$local_data" 2>/dev/null)/Programs/Пьезон RX418"
WIN_INST="$local_data\\Programs\\Пьезон RX418"
MENU="$(winepath -u "$profile_data" 2>/dev/null)/Microsoft/Windows/Start Menu/Programs"
FOLDER="$MENU/Пьезон для RX418"
OLD_LINK="$MENU/Пьезон для RX418.lnk" # where earlier versions put the program's shortcut
KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\PiezonRX418'

# A value of the entry under Apps as reg query shows it on a Russian Windows, whose console
# speaks CP866: the Cyrillic comes through.
reg_value() {
  env LC_ALL=ru_RU.UTF-8 wine reg query "$KEY" /v "$1" 2>/dev/null | iconv -f CP866 -t UTF-8 |
    tr -d '\r' | awk -v name="$1" '
      $1 == name { sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print }' # name, type, value
}
# The path a shortcut leads to, from its list of items (the shell's own record of the target):
# the drive's item gives "C:\", each folder's or file's item its long name. As Wine writes such
# an item, it ends with the long name in UTF-16, a NUL, and the offset of the block that holds
# the name 20 bytes in.
#   link_target LNK
link_target() {
  local lnk=$1 at=78 end cb type block name path=
  lnk_u16() { od -An -tu2 --endian=little -j "$1" -N2 "$lnk" | tr -d ' '; }
  (($(lnk_u16 20) & 1)) || return 1 # no item list
  end=$((at + $(lnk_u16 76)))
  while ((at < end)) && cb=$(lnk_u16 "$at") && ((cb > 0)); do
    type=$(od -An -tu1 -j $((at + 2)) -N1 "$lnk" | tr -d ' ')
    case $((type & 0x70)) in
      32) path=$(bytes_at "$lnk" $((at + 3)) 3) ;; # the drive
      48)
        block=$(lnk_u16 $((at + cb - 2)))
        name=$(bytes_at "$lnk" $((at + block + 20)) $((cb - block - 24)) |
          iconv -f UTF-16LE -t UTF-8)
        path+="$name\\"
        ;;
    esac
    at=$((at + cb))
  done
  printf '%s\n' "${path%\\}"
}

step "silent install over an earlier version: the files, the Start menu, the entry under Apps"
# What an earlier version left: its shortcut at the top of the menu, and beside it the records of
# an earlier session, which are the operator's: not the program's size, kept by the uninstaller.
mkdir -p "$INST"
for ((i = 0; i < 4000; i++)); do printf '  earlier session\r\n'; done >"$work/earlier"
cp "$work/earlier" "$INST/Пьезон_RX418_предыдущий.log"
cp "$work/earlier" "$INST/Пьезон_RX418_предыдущий.csv"
printf 'an earlier version\r\n' >"$OLD_LINK"
wine "$SETUP" /S >/dev/null 2>"$work/setup.err" || fail "the silent install failed"
for f in piezon.exe Qt6Core.dll Qt6SerialPort.dll libwinpthread-1.dll platforms/qwindows.dll \
  styles/qwindowsvistastyle.dll translations/qtbase_ru.qm uninstall.exe; do
  [[ -f $INST/$f ]] || fail "not installed: $INST/$f"
done
# The Start-menu folder: each shortcut and where it leads.
while IFS='|' read -r name target; do
  [[ -f "$FOLDER/$name.lnk" ]] || fail "no shortcut «$name» in $FOLDER"
  got=$(link_target "$FOLDER/$name.lnk") || fail "the shortcut «$name» leads nowhere"
  [[ $got == "$target" ]] || fail "the shortcut «$name» leads to '$got', not '$target'"
done <<TABLE
Пьезон для RX418|$WIN_INST\\piezon.exe
Папка журналов|$WIN_INST
TABLE
[[ $(find "$FOLDER" -mindepth 1 | wc -l) == 2 ]] || fail "more in $FOLDER: $(ls "$FOLDER")"
[[ ! -e $OLD_LINK ]] || fail "the earlier version's shortcut is still at the top of the menu"
# Apps: its size in KiB is that of the installed files, the records left out.
kib=$(find "$INST" -type f ! -name '*.log' ! -name '*.csv' -printf '%s\n' |
  awk '{ s += $1 } END { printf "%d", (s + 1023) / 1024 }')
while IFS='|' read -r name want; do
  got=$(reg_value "$name")
  [[ $got == "$want" ]] || fail "Apps: $name is '$got', not '$want'"
done <<TABLE
DisplayName|Пьезон для RX418
Publisher|Пьезон для RX418
EstimatedSize|$(printf '0x%x' "$kib")
UninstallString|"$WIN_INST\\uninstall.exe"
TABLE
echo "installed in $INST; the Start menu's «Пьезон для RX418» folder with the program and" \
  "«Папка журналов»; under Apps, $kib KiB"

step "the installed program: START, STOP twice, its log beside itself"
before=$(size_of "$work/wire")
start_copy installed "$INST"
INSTALLED=$WINDOW INSTALLED_PID=$PID
press "$INSTALLED" F1
wait_for "START from the installed program" 10 wire_is $((before + 16))
press "$INSTALLED" F2
wait_for "STOP twice from the installed program" 10 wire_is $((before + 48))
[[ -f "$INST/Пьезон_RX418.log" ]] || fail "the installed program wrote no log beside itself"
echo "the installed program sent START and STOP twice and wrote its log beside itself"

step "while the program runs, the installer and the uninstaller refuse and change nothing"
# All an installer or an uninstaller could change: the installed files (rewriting one moves its
# ctime, even where the installer puts the old time back), the Start menu, the entry under Apps.
installed_state() {
  (cd "$INST" && find . -printf '%p %s %C@\n' | LC_ALL=C sort)
  (cd "$MENU" && find . -printf '%p %C@\n' | LC_ALL=C sort)
  wine reg export "$KEY" "$work/key.reg" /y >/dev/null 2>&1 && md5sum <"$work/key.reg"
}
# The uninstaller run in place: "_?=FOLDER" keeps it from running a copy of itself from %TEMP%
# (and returning at once), so its own exit status is seen. Given as one argument, Wine would
# quote it for the space in the folder's name and the uninstaller would not know it; given as
# words, Wine joins them with spaces as they are.
read -ra IN_PLACE <<<"_?=$WIN_INST"
uninstaller_copy_ended() { [[ $(ps -eo args=) != *"_?=$WIN_INST"* ]]; }
box_of_pid() {
  BOX=$(xdotool search --all --onlyvisible --pid "$1" 2>/dev/null | head -n1)
  [[ -n $BOX ]]
}
# Each way of running them: HOW, and the exit status its caller sees while WHO runs.
#   setup, uninstall-in-place: /S, silent; setup-box, uninstall-box: the box, closed with Enter;
#   uninstall: /S as Apps runs it, without "_?=": the copy refuses, the caller sees 0.
#   refuses WHO HOW STATUS
refuses() {
  local who=$1 how=$2 want=$3 before status=0 pid
  before=$(installed_state)
  case $how in
    setup) wine "$SETUP" /S >/dev/null 2>&1 || status=$? ;;
    uninstall-in-place)
      wine cmd /c "$WIN_INST\\uninstall.exe" /S "${IN_PLACE[@]}" >/dev/null 2>&1 || status=$? ;;
    uninstall)
      wine "$INST/uninstall.exe" /S >/dev/null 2>&1 || status=$?
      wait_for "the uninstaller's copy to end" 30 uninstaller_copy_ended
      ;;
    setup-box | uninstall-box)
      if [[ $how == setup-box ]]; then
        wine "$SETUP" >/dev/null 2>&1 &
      else
        wine "$INST/uninstall.exe" "${IN_PLACE[@]}" >/dev/null 2>&1 &
      fi
      pid=$!
      pids+=("$pid")
      wait_for "the box of $how" 30 box_of_pid "$pid"
      sleep 0.5 # drawn
      import -window "$BOX" "$SHOTS/$how-refused.png"
      press "$BOX" Return
      wait_for "$how to end" 20 ended "$pid"
      wait "$pid" || status=$?
      ;;
  esac
  ((status == want)) || fail "$how while $who runs: exit status $status, not $want"
  [[ $(installed_state) == "$before" ]] || fail "$how while $who runs changed the installation"
  echo "$who runs: $how exits with $status, nothing changed"
}
# The installed program: its mutex tells, and its exe cannot be written to.
while read -r how want; do refuses "the installed program" "$how" "$want"; done <<'TABLE'
setup 2
uninstall-in-place 2
uninstall 0
setup-box 2
uninstall-box 2
TABLE
press "$INSTALLED" F3
wait_for "the installed program to end" 20 ended "$INSTALLED_PID"
# A copy from the zip, elsewhere: only its mutex tells.
start_copy zip "$APP"
for how in setup uninstall-in-place; do refuses "a copy from the zip" "$how" 2; done
press "$WINDOW" F3
wait_for "the copy from the zip to end" 20 ended "$PID"
# An earlier version, which has no mutex: its exe, held as Windows holds a running program's.
hold earlier r "$INST/piezon.exe"
for how in setup uninstall-in-place; do refuses "an earlier version" "$how" 2; done
let_go earlier

step "silent uninstall: the logs stay, the Start menu and the entry under Apps go"
# Left from an earlier version, had the operator never installed this one over it.
printf 'an earlier version\r\n' >"$OLD_LINK"
# What must stay: all that is not the program's (the logs and their companions, whatever the
# sessions wrote), and nothing of what it installed.
unzip -Z1 "$ZIP" | sed -n 's|^[^/]*/||; /[^/]$/p' | LC_ALL=C sort >"$work/installed.txt"
echo uninstall.exe >>"$work/installed.txt"
(cd "$INST" && find . -type f -printf '%P\n' | LC_ALL=C sort) >"$work/before-uninstall.txt"
grep -q '\.log$' "$work/before-uninstall.txt" || fail "no log before the uninstall"
keep=$(LC_ALL=C sort "$work/installed.txt" | LC_ALL=C comm -23 "$work/before-uninstall.txt" - |
  tr '\n' ' ')
# The uninstaller as Apps runs it: it copies itself away and returns at once; the copy is
# waited for with every other Windows process.
wine "$INST/uninstall.exe" /S >/dev/null 2>&1 || fail "the silent uninstall failed"
timeout 120 wineserver -w || fail "the uninstaller did not finish"
left=$(cd "$INST" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort | tr '\n' ' ')
[[ $left == "$keep" ]] || fail "the uninstall left '$left', not '$keep'"
for gone in "$FOLDER/Пьезон для RX418.lnk" "$FOLDER/Папка журналов.lnk" "$FOLDER" "$OLD_LINK"; do
  [[ ! -e $gone ]] || fail "still there after the uninstall: $gone"
done
if wine reg query "$KEY" >/dev/null 2>&1; then fail "still registered under Apps"; fi
echo "uninstalled; the Start menu's folder and shortcuts gone; the records stay: $left"

step "the window at 150 % and 200 % (LogPixels 144 and 192)"
for dpi in 144 192; do
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  timeout 60 wineserver -w || true
  start_copy "dpi$dpi" "$APP"
  sleep 1
  geometry=$(xdotool getwindowgeometry "$WINDOW" | awk '/Geometry/ { print $2 }')
  percent=$((dpi * 100 / 96))
  import -window "$WINDOW" "$SHOTS/window-$percent.png"
  want="$((376 * dpi / 96))x$((273 * dpi / 96))"
  echo "$percent %: the window is $geometry (376x273 scaled: $want); $SHOTS/window-$percent.png"
  w=${geometry%x*} h=${geometry#*x}
  ((w >= 376 * dpi / 96 - 1 && w <= 376 * dpi / 96 + 1 && h >= 273 * dpi / 96 - 1 &&
    h <= 273 * dpi / 96 + 1)) || fail "at $percent % the window is $geometry, not $want"
  press "$WINDOW" F3
  wait_for "the program to end" 20 ended "$PID"
done
echo "PASS"
