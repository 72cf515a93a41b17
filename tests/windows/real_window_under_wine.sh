#!/usr/bin/env bash
# The Windows program as the operator gets it, in its real window under Wine on a private Xvfb,
# driven with xdotool. Wine's COM1 leads to a pseudo-terminal where gauge-sim plays the gauge and
# records every byte the program sends; COM2 leads nowhere. This checks the window, the commands
# on the wire, the log's creation and lock, the messages, the ways the program ends and the
# installer; and the readings themselves: every byte value from the line becomes its record in
# the log, byte for byte, the reading's caption follows them on the screen, a line whose far end
# goes away turns the window stale with a notice, and a new line under COM1 takes its place.
#
#   real_window_under_wine.sh ZIP SETUP_EXE GAUGE_SIM SCREENSHOT_DIR HOLD_FILE_EXE
set -euo pipefail
ZIP=$(realpath "$1")
SETUP=$(realpath "$2")
SHOTS=$(realpath -m "$4")
HOLD_FILE=$(realpath "$5")
for tool in wine wineserver import unzip; do
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

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
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

windows_of() { xdotool search --all --onlyvisible --name 'RX418$' 2>/dev/null || true; }
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
mkdir -p "$SHOTS"
import -window "$FIRST" "$SHOTS/window-100.png"
echo "client area $geometry; screenshot $SHOTS/window-100.png"

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

step "the last log held by another program: a viewer (sharing writing), then Excel (only reading)"
# hold-file.exe holds a file open as such programs do, until its release file appears.
hold() { # NAME SHARE: holds the log; sets HOLD_PID
  wine "$HOLD_FILE" "$(winepath -w "$LOG")" "$2" "$(winepath -w "$work/$1.held")" \
    "$(winepath -w "$work/$1.release")" >/dev/null 2>"$work/$1.hold.err" &
  HOLD_PID=$!
  pids+=("$HOLD_PID")
  wait_for "$1 to hold the log" 20 test -s "$work/$1.held"
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

step "silent install, the program from the installed folder, silent uninstall keeps the log"
wine "$SETUP" /S >/dev/null 2>"$work/setup.err" || fail "the silent install failed"
local_data=$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
profile_data=$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
INST="$(winepath -u "$local_data" 2>/dev/null)/Programs/Пьезон RX418"
MENU="$(winepath -u "$profile_data" 2>/dev/null)/Microsoft/Windows/Start Menu/Programs"
KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\PiezonRX418'
for f in piezon.exe Qt6Core.dll Qt6SerialPort.dll libwinpthread-1.dll platforms/qwindows.dll \
  styles/qwindowsvistastyle.dll translations/qtbase_ru.qm uninstall.exe; do
  [[ -f $INST/$f ]] || fail "not installed: $INST/$f"
done
[[ -f "$MENU/Пьезон для RX418.lnk" ]] || fail "no Start menu shortcut in $MENU"
wine reg query "$KEY" /v UninstallString 2>/dev/null | grep -q uninstall.exe ||
  fail "the uninstaller is not registered under Apps"
echo "installed in $INST, with its Start menu shortcut and its entry under Apps"

before=$(size_of "$work/wire")
start_copy installed "$INST"
press "$WINDOW" F1
wait_for "START from the installed program" 10 wire_is $((before + 16))
press "$WINDOW" F2
wait_for "STOP twice from the installed program" 10 wire_is $((before + 48))
press "$WINDOW" F3
wait_for "the installed program to end" 20 ended "$PID"
[[ -f "$INST/Пьезон_RX418.log" ]] || fail "the installed program wrote no log beside itself"
echo "the installed program sent START and STOP twice and wrote its log beside itself"

# What an earlier session left is the operator's too.
printf '  earlier session\r\n' >"$INST/Пьезон_RX418_предыдущий.log"
# The uninstaller copies itself away and returns at once; its copy is waited for with every
# other Windows process. (Its "_?=" cannot be given here: Wine quotes an argument with a space.)
wine "$INST/uninstall.exe" /S >/dev/null 2>&1 || fail "the silent uninstall failed"
timeout 120 wineserver -w || fail "the uninstaller did not finish"
left=$(cd "$INST" && find . -mindepth 1 | sort | tr '\n' ' ')
[[ $left == "./Пьезон_RX418.log ./Пьезон_RX418_предыдущий.log " ]] ||
  fail "the uninstall left or took: $left"
[[ ! -e "$MENU/Пьезон для RX418.lnk" ]] || fail "the shortcut is still there"
if wine reg query "$KEY" >/dev/null 2>&1; then fail "still registered under Apps"; fi
echo "uninstalled; the log stays: $left"

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
