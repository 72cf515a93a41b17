#!/usr/bin/env bash
# Unfriendly surroundings: no display to show the window on (a plain message and a non-zero exit,
# not a crash), desktop languages whose decimal separator is a comma or is not in Windows-1251 at
# all, and a program folder whose path has blanks and Cyrillic letters.
#
#   environments.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/../e2e/lib.sh"

start_x
new_app "$work/app"

# --- No window can be had: name | environment | what stderr says.
for ((free = 200; ; free++)); do [[ -e /tmp/.X11-unix/X$free ]] || break; done
no_window=(
  "no display|-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM|нет графического дисплея"
  "display that is not there|-u QT_QPA_PLATFORM DISPLAY=:$free|не удалось открыть окно"
  "platform that does not exist|QT_QPA_PLATFORM=no-such-platform|не удалось открыть окно"
)
for entry in "${no_window[@]}"; do
  IFS='|' read -r name environment what <<<"$entry"
  status=0
  # shellcheck disable=SC2086 # the environment is a list of words
  (cd "$work" && exec timeout 30 env $environment "$APP/piezon") >"$work/out" 2>"$work/err" || status=$?
  ((status > 0 && status < 124)) || fail "$name: exit status $status (a crash or a hang)"
  grep -qF "$what" "$work/err" || fail "$name: stderr does not say \"$what\": $(cat "$work/err")"
  ! grep -qE "$SANITIZER_FINDING" "$work/err" || fail "$name: $(cat "$work/err")"
  [[ -z $(find "$work" -maxdepth 1 -name 'core*') ]] || fail "$name: left a core dump"
done

# --- Whole sessions: name | folder | environment | decimal separator in the log.
sessions=(
  "no language set|app|LANG=|."
  "Russian|app|LANG=ru_RU.UTF-8|,"
  "German|app|LANG=de_DE.UTF-8|,"
  "Arabic (Egypt): separator not in Windows-1251|app|LANG=ar_EG.UTF-8|."
  "Persian: separator not in Windows-1251|app|LANG=fa_IR.UTF-8|."
  "folder with blanks and Cyrillic letters|x/Папка с пробелами|LANG=ru_RU.UTF-8|,"
)
readings=${#SEQ_BYTES[@]}
for entry in "${sessions[@]}"; do
  IFS='|' read -r name folder language sep <<<"$entry"
  new_app "$work/$folder"
  start_sim "gauge" --rate 960 --sequence "$work/sequence"
  # The language as a desktop sets it; the C library need not know it (Qt reads it itself).
  start_program "session" LC_ALL= LC_NUMERIC= "$language"
  click_start
  expected_log "$readings" all "$readings" all "$sep" >"$work/expected.log"
  wait_for "$name: the readings" 10 cmp -s "$work/expected.log" "$LOG"
  click_stop
  wait_for "$name: STOP" 10 at_least "$RECEIVED" 48
  [[ $(wire_words "$RECEIVED") == "START STOP STOP" ]] || fail "$name: the wire carried $(wire_words "$RECEIVED")"
  iconv -f WINDOWS-1251 -t UTF-8 "$LOG" >/dev/null || fail "$name: the log is not Windows-1251"
  end_program
  cmp "$work/expected.log" "$LOG" || fail "$name: the log is not the readings with '$sep'"
  [[ $(reports) == 0 ]] || fail "$name: unexpected reports: $(cat "$PROGRAM_ERR")"
  stop_sim
done
echo "PASS: ${#no_window[@]} ways without a window, ${#sessions[@]} sessions in other languages and folders"
