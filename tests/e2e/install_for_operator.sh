#!/usr/bin/env bash
# scripts/install.sh as an operator uses it, into a folder whose name has a blank and Cyrillic
# letters, with a desktop data folder of its own: the menu entry validates, a desktop's launcher
# (gio) starts the installed program from it in a real window, and a session with the simulated
# gauge on that folder's COM1 writes its log there. scripts/uninstall.sh then takes away the
# program, the entry and the icon, and nothing else: the log, the operator's COMn link and other
# programs' entries stay. The program under test is installed as it was built (PIEZON_PREBUILT);
# building it in Release is install.sh's own business.
#
#   install_for_operator.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
for tool in gio desktop-file-validate; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
pids+=($!)
wait_for "Xvfb" 10 test -s "$work/display"
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY
mkdir -m 700 "$work/xdg"
export XDG_RUNTIME_DIR=$work/xdg HOME=$work/home XDG_DATA_HOME=$work/data
mkdir "$HOME"

APP="$work/Рабочий стол/Пьезон RX418"
LOG=$APP/Пьезон_RX418.log
entry=$XDG_DATA_HOME/applications/piezon-rx418.desktop
icon=$XDG_DATA_HOME/icons/piezon-rx418.png
mkdir -p "$XDG_DATA_HOME/applications"
echo "another program's entry" >"$XDG_DATA_HOME/applications/other.desktop"

PIEZON_PREBUILT=$PIEZON "$root/scripts/install.sh" "$APP" >"$work/install.out" 2>"$work/install.err" ||
  fail "install.sh: $(cat "$work/install.err")"
cmp -s "$PIEZON" "$APP/piezon" || fail "the installed program is not the one given"
problems=$(desktop-file-validate "$entry" 2>&1) || fail "the menu entry does not validate: $problems"
[[ -z $problems ]] || fail "desktop-file-validate: $problems"
grep -qx 'Name=Пьезон для RX418' "$entry" || fail "the entry has no Russian name"
grep -q '^Comment=.*манометр' "$entry" || fail "the entry has no Russian comment"
cmp -s "$root/src/assets/icon.png" "$icon" || fail "the icon is not the program's"
grep -qxF "Icon=$icon" "$entry" || fail "the entry does not show the icon"

# --- Started as the desktop menu starts it.
start_sim gauge --rate 200 --sequence "$work/sequence"
PROGRAM_ERR=$work/piezon.err
LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb gio launch "$entry" >"$PROGRAM_ERR" 2>&1 ||
  fail "gio could not start the entry: $(cat "$PROGRAM_ERR")"
WINDOW=$(timeout 30 xdotool search --all --sync --onlyvisible --name 'RX418$' | head -n1) || true
[[ -n $WINDOW ]] || fail "the menu entry did not bring up the window"
PROGRAM_PID=$(xdotool getwindowpid "$WINDOW")
pids+=("$PROGRAM_PID")
[[ $(readlink "/proc/$PROGRAM_PID/exe") == "$APP/piezon" ]] ||
  fail "the window belongs to $(readlink "/proc/$PROGRAM_PID/exe")"
[[ $(readlink "/proc/$PROGRAM_PID/cwd") == "$APP" ]] || fail "not started in the install folder"

readings=${#SEQ_BYTES[@]}
expected_log "$readings" >"$work/expected.log"
press F1
wait_for "the readings in the installed program's log" 10 cmp -s "$work/expected.log" "$LOG"
press F3
wait_for "the program to end" 20 ended "$PROGRAM_PID"
no_sanitizer_findings
[[ $(reports) == 0 ]] || fail "unexpected reports: $(cat "$PROGRAM_ERR")"
stop_sim

# --- The operator pins a port, then uninstalls.
ln -s /dev/null "$APP/COM2"
printf '  earlier session\r\n' >"$APP/Пьезон_RX418_предыдущий.log" # kept like the log
"$root/scripts/uninstall.sh" "$APP" >"$work/uninstall.out" 2>"$work/uninstall.err" ||
  fail "uninstall.sh: $(cat "$work/uninstall.err")"
left=$(cd "$APP" && LC_ALL=C.UTF-8 ls -A | sort | tr '\n' ' ')
[[ $left == "COM2 Пьезон_RX418.csv Пьезон_RX418.log Пьезон_RX418_предыдущий.log " ]] ||
  fail "uninstall left or took: $left"
cmp -s "$work/expected.log" "$LOG" || fail "uninstall changed the log"
[[ ! -e $entry && ! -e $icon ]] || fail "the menu entry or the icon is still there"
[[ -f $XDG_DATA_HOME/applications/other.desktop ]] || fail "uninstall took another program's entry"
echo "PASS: installed into \"$APP\", started from the menu entry, $readings readings logged there; uninstall kept the log"
