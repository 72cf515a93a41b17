#!/usr/bin/env bash
# The Windows program as the operator gets it, in its real window under Wine on a private Xvfb,
# driven with xdotool. Wine's COM1 leads to a pseudo-terminal where gauge-sim plays the gauge and
# records every byte the program sends; COM2 leads nowhere. Wine 8.0 never delivers received
# bytes to Qt's Windows port, so no reading reaches the program here: this checks the window,
# the commands on the wire, the log's creation and lock, the messages, the ways the program ends
# and the installer.
#
#   real_window_under_wine.sh ZIP SETUP_EXE GAUGE_SIM SCREENSHOT_DIR
set -euo pipefail
ZIP=$(realpath "$1")
SETUP=$(realpath "$2")
SHOTS=$(realpath -m "$4")
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
