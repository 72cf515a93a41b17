#!/usr/bin/env bash
# End to end: three pressure holds of 0:10 in a row in the session window (F7, F8) of the real
# program, each with a gauge of its own on COM1: steady (held), falling (not held) and one whose
# line is lost (aborted). Each hold's own rows beside the log are checked against the record they
# were taken from, its protocol's text through pdftotext against those rows, its fonts through
# pdffonts; and each session's log against its record: one record per reading, as without a hold.
# Then F3 during a fourth hold: its end row before the program's, and no protocol.
# With SHOTS_DIR set, the session window and each protocol's page are kept there as pictures.
#
#   pressure_hold.sh PIEZON GAUGE_SIM
source "$(dirname "$0")/lib.sh"
for tool in pdftotext pdffonts pdftoppm import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

start_x
new_app "$work/app"
start_program piezon
RECORD=${LOG%.log}.csv

# The sequences: 2.73 held; 2.73 for 3 s, then a raw unit less every second, for two minutes;
# the readings of lib.sh, until the line is hung up.
as_bytes() { while read -r b; do printf '%b' "\\0$(printf %03o "$b")"; done; }
for ((i = 0; i < 30; i++)); do echo 100; done | as_bytes >"$work/steady"
{
  for ((i = 0; i < 30; i++)); do echo 100; done
  for ((b = 99; b > 40; b--)); do for ((i = 0; i < 10; i++)); do echo "$b"; done; done
} | as_bytes >"$work/falling"

session_window() {
  SESSION=$(xdotool search --all --onlyvisible --pid "$PROGRAM_PID" --name 'RX418' 2>/dev/null |
    grep -vx "$WINDOW" | head -n1)
  [[ -n $SESSION ]]
}
# In the session window: the chart has the keys; Tab leads to «Длительность».
press_session() { xdotool windowfocus --sync "$SESSION" key "$@"; }
holds() { find "$APP" -maxdepth 1 -name 'Пьезон_RX418_испытание_*.pdf' | wc -l; }
holds_reach() { (($(holds) >= $1)); }
shot() { [[ -z ${SHOTS_DIR:-} ]] || import -window "$SESSION" "$SHOTS_DIR/$1.png"; }

# The log of a session holds one record per reading of its record, in order, and nothing else:
# the hold adds nothing to it.
log_matches_record() {
  local log=$1 record=$2
  awk -F';' 'NR > 1 && $3 != "" {
      printf "%s%s%s\r\n", ENVIRON["RECORD_HEAD"], $6, ENVIRON["RECORD_TAIL"] }' "$record" \
    >"$work/from-record.log"
  [[ -s $work/from-record.log ]] || fail "$record holds no reading"
  cmp -s "$work/from-record.log" "$log" ||
    fail "the log is not one record per reading of its record: $(cmp "$work/from-record.log" "$log")"
}

# What a hold's own rows say: "start_ms end_ms start end verdict" (pressures in hundredths),
# with the start the caption before its first row, the end the last reading at or before its
# planned end (or its end row, if that came first).
hold_numbers() {
  awk -F';' '
    function centi(caption) { return sprintf("%d", caption * 100 + (caption < 0 ? -0.5 : 0.5)) }
    { sub(/\r$/, "") }
    NR == 1 { next }
    $7 ~ /^испытание: начало/ { start_ms = $2; start = last; going = 1; next }
    $7 ~ /^испытание: / && going { end_ms = $2; sub(/^испытание: /, "", $7); verdict = $7; going = 0; next }
    $3 != "" { last = $6; if (going && $2 <= start_ms + 10000) end = $6 }
    END { if (end == "") end = start; print start_ms, end_ms, centi(start), centi(end), verdict }' "$1"
}

# One hold, its gauge already playing: START, F8 (after a second of readings), the verdict;
# then STOP. The hold's files are checked against the record; VERDICT is its row's text.
#   one_hold NAME VERDICT
one_hold() {
  local name=$1 want=$2 count before pdf rows
  before=$(holds)
  press F1
  wait_for "$name: readings" 10 has_records "$LOG" 10
  press F7
  wait_for "$name: the session window" 10 session_window
  if [[ $name == steady ]]; then
    # «Длительность» 0:10, typed over the default; the rest as they are.
    press_session Tab ctrl+a
    xdotool type --delay 20 "0:10"
  fi
  press_session F8
  shot "$name-holding"
  wait_for "$name: the protocol" 25 holds_reach $((before + 1))
  wait_for "$name: the protocol's rows" 5 rows_written
  shot "$name-ended"
  press F2
  wait_for "$name: STOP" 10 grep -q $'СТОП\r$' "$RECORD"
  pdf=$(find "$APP" -maxdepth 1 -name 'Пьезон_RX418_испытание_*.pdf' -newer "$work/$name.mark" | head -n1)
  rows=${pdf%.pdf}.csv
  [[ -s $rows ]] || fail "$name: no rows beside $pdf"
  check_rows "$name" "$rows"
  check_protocol "$name" "$pdf" "$rows" "$want"
  log_matches_record "$LOG" "$RECORD"
  echo "$name: $want; $(grep -c . "$rows") rows, $(basename "$pdf")"
}
rows_written() {
  [[ -n $(find "$APP" -maxdepth 1 -name 'Пьезон_RX418_испытание_*.csv' -newer "$work/$NAME.mark") ]]
}

# The hold's rows: the record's header, then a run of the record's own rows, byte for byte, from
# a minute before the hold (here: the session's START) to its end row.
check_rows() {
  local name=$1 rows=$2 first
  head -n1 "$rows" | cmp -s - <(head -n1 "$RECORD") || fail "$name: not the record's header"
  first=$(sed -n 2p "$rows")
  [[ $first == *";СТАРТ"$'\r' ]] || fail "$name: the rows do not begin at START: $first"
  tail -n +2 "$rows" >"$work/rows.body"
  # The same rows, in the same place of the record.
  tail -n +2 "$RECORD" | head -c "$(size_of "$work/rows.body")" | cmp -s - "$work/rows.body" ||
    fail "$name: the rows are not the record's"
  tail -n1 "$rows" | grep -q ';испытание: ' || fail "$name: the rows do not end with the verdict"
  (($(grep -c ';испытание: начало, 0:10, допустимое падение 0.20'$'\r' "$rows") == 1)) ||
    fail "$name: no start row: $(grep 'испытание' "$rows")"
}

# The protocol: the verdict, the start and end pressures and the drop as its rows give them, the
# program's fonts embedded with their Unicode maps.
check_protocol() {
  local name=$1 pdf=$2 rows=$3 want=$4 text start_ms end_ms start end verdict drop fonts
  read -r start_ms end_ms start end verdict < <(hold_numbers "$rows")
  [[ $verdict == "$want"* ]] || fail "$name: the verdict row says «$verdict», not «$want»"
  if [[ $want != ПРЕРВАНО* ]]; then
    ((end_ms - start_ms >= 10000 && end_ms - start_ms < 11000)) ||
      fail "$name: the verdict came $((end_ms - start_ms)) ms after the start, not within 1 s of 10 s"
  fi
  text=$(pdftotext -layout "$pdf" - | tr -s ' ')
  drop=$((start - end))
  cents() {
    local v=$1 sign=
    ((v >= 0)) || { sign=-; v=$((-v)); }
    printf '%s%d.%02d' "$sign" $((v / 100)) $((v % 100))
  }
  for line in "Протокол испытания давлением" "${want%%,*}" \
    "Давление в начале $(cents "$start") кгс/см²" "Давление в конце $(cents "$end") кгс/см²" \
    "Падение $(cents "$drop") кгс/см²" "Допустимое падение 0.20 кгс/см²" "Порт COM1" \
    "Строки испытания: $(basename "$rows")"; do
    grep -qF -- "$line" <<<"$text" || fail "$name: the protocol does not say «$line»: $text"
  done
  if [[ $want == *,* ]]; then
    grep -qF -- "Причина: ${want#*, }" <<<"$text" || fail "$name: no reason on the page: $text"
  fi
  fonts=$(pdffonts "$pdf" | tail -n +3)
  [[ -n $fonts ]] || fail "$name: no fonts in the protocol"
  # One face, the regular: a page set in the bold one has mistaken one face for the other.
  [[ $(awk '{ print $1 }' <<<"$fonts") == LiberationSans?(Regular) ]] ||
    fail "$name: not the regular face alone: $fonts"
  while read -r font rest; do
    [[ $font == *LiberationSans* ]] || fail "$name: a font not the program's: $font"
    # name type... emb sub uni object id
    awk '{ exit !($(NF - 4) == "yes" && $(NF - 2) == "yes") }' <<<"$font $rest" ||
      fail "$name: $font is not embedded with a Unicode map"
  done <<<"$fonts"
  (($(pdftoppm -r 10 -png "$pdf" | grep -c IEND) == 1)) || fail "$name: not one page"
  [[ -z ${SHOTS_DIR:-} ]] || pdftoppm -r 80 -png -singlefile "$pdf" "$SHOTS_DIR/$name-protocol"
}

NAME=steady
touch "$work/steady.mark"
start_sim steady --rate 10 --sequence "$work/steady" --repeat
one_hold steady ВЫДЕРЖАНО
stop_sim

# The next START moves the record and the log aside: the hold's rows keep what the page names.
NAME=falling
touch "$work/falling.mark"
sleep 1 # a second later: a protocol of its own name
start_sim falling --rate 10 --sequence "$work/falling"
one_hold falling "НЕ ВЫДЕРЖАНО, падение"
stop_sim

NAME=lost
touch "$work/lost.mark"
sleep 1
start_sim lost --rate 10 --sequence "$work/sequence" --repeat --close-after 60
one_hold lost "ПРЕРВАНО, линия потеряна"

stop_sim

# F3 during a hold: the hold's end goes into the record before the program's, and no protocol.
start_sim closed --rate 10 --sequence "$work/steady" --repeat
press F1
wait_for "closed: readings" 10 has_records "$LOG" 10
press F7
wait_for "closed: the session window" 10 session_window
press_session F8
wait_for "closed: the hold's start" 10 grep -q 'испытание: начало' "$RECORD"
end_program
[[ $(tail -n 2 "$RECORD" | cut -d';' -f7 | tr -d '\r' | tr '\n' '|') == \
  "испытание: ПРЕРВАНО, программа закрыта|программа закрыта|" ]] ||
  fail "F3 during a hold: the record ends $(tail -n 2 "$RECORD")"
log_matches_record "$LOG" "$RECORD"
(($(holds) == 3)) || fail "$(holds) protocols, not 3"
# The lost line's notice, and nothing else.
[[ $(reports) == 1 ]] || fail "unexpected reports: $(cat "$PROGRAM_ERR")"
echo "PASS: three holds of 0:10 (held, not held, line lost): rows, protocols, fonts, logs;" \
  "F3 during a fourth: its row before the program's, no protocol"
