#!/usr/bin/env bash
# The program's options, run as an operator runs them from a terminal over SSH: no display at all.
# --list-ports in a folder whose COMn entries choose some numbers (one of them the simulated gauge
# on a pseudo-terminal, one a dangling link that must win over whatever the machine has as that
# number); --help and --version; anything else is refused with a short usage text and status 2.
# Never looks at the machine's own ports beyond checking the lines it prints for them.
#
#   command_line.sh PIEZON GAUGE_SIM
set -euo pipefail
PIEZON=$1
GAUGE_SIM=$2

work=$(mktemp -d)
sim=
cleanup() {
  local status=$?
  if [[ -n $sim ]]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
  ((status == 0)) || { for f in "$work"/*.err; do [[ -s $f ]] && { echo "--- ${f##*/}"; cat "$f"; }; done; }
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Where no window can be had, as in an SSH session without X forwarding.
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LC_ALL=C.UTF-8 "$@"; }

app="$work/Пьезон RX418"
mkdir "$app"
cp "$PIEZON" "$app/piezon"
ln -s "$work/unplugged" "$app/COM1"
: >"$app/COM5"
ln -s /dev/null "$app/COM16"
"$GAUGE_SIM" --dir "$app" --port 9 >"$work/sim.out" 2>"$work/sim.err" &
sim=$!
for _ in $(seq 500); do grep -qx ready "$work/sim.out" 2>/dev/null && break; sleep 0.02; done
grep -qx ready "$work/sim.out" || fail "the simulator did not start"
pty=$(readlink "$app/COM9")

run "$app/piezon" --list-ports >"$work/list" 2>"$work/list.err" || fail "--list-ports: status $?"
[[ ! -s $work/list.err ]] || fail "--list-ports wrote to stderr"

# The numbers the folder chooses, line for line; every other line is one of the machine's own
# serial devices, numbered automatically.
declare -A pinned=(
  [1]="COM1  $app/COM1 → $work/unplugged — устройство не найдено (номер задан ссылкой COM1 в папке программы)"
  [5]="COM5  $app/COM5 — обычный файл, не порт (номер задан файлом COM5 в папке программы)"
  [9]="COM9  $app/COM9 → $pty — псевдотерминал, например имитатор манометра (номер задан ссылкой COM9 в папке программы)"
  [16]="COM16 $app/COM16 → /dev/null — не последовательный порт (номер задан ссылкой COM16 в папке программы)"
)
last=0
seen=0
while IFS= read -r line; do
  [[ $line =~ ^COM([0-9]+)\  ]] || fail "not a port line: $line"
  n=${BASH_REMATCH[1]}
  ((n > last && n <= 16)) || fail "COM$n out of order or range: $line"
  last=$n
  if [[ -v pinned[$n] ]]; then
    [[ $line == "${pinned[$n]}" ]] || fail "COM$n: got \"$line\", expected \"${pinned[$n]}\""
    seen=$((seen + 1))
  else
    [[ $line =~ ^COM$n\ +/dev/(ttyS|ttyUSB|ttyACM|rfcomm)[0-9]+( — |$) && $line != *"номер задан"* ]] ||
      fail "COM$n is not one of the machine's serial devices: $line"
  fi
done <"$work/list"
((seen == ${#pinned[@]})) || fail "only $seen of ${#pinned[@]} chosen numbers listed: $(cat "$work/list")"
[[ ! -e $app/Пьезон_RX418.log ]] || fail "--list-ports created a log"

# --- The other options: arguments | exit status | stream | what it says.
options=(
  "--help|0|out|  --list-ports  показать, какие устройства стоят за номерами COM1–COM16"
  "-h|0|out|Использование: piezon [ПАРАМЕТР]"
  "--version|0|out|Пьезон для RX418 2.00"
  "--bogus|2|err|piezon: неизвестный параметр «--bogus»."
  "list-ports|2|err|piezon: неизвестный параметр «list-ports»."
  "-platform offscreen|2|err|piezon: можно указать только один параметр."
  "--list-ports --help|2|err|piezon: можно указать только один параметр."
)
for entry in "${options[@]}"; do
  IFS='|' read -r arguments expected stream what <<<"$entry"
  status=0
  # shellcheck disable=SC2086 # the arguments are a list of words
  run "$app/piezon" $arguments >"$work/opt.out" 2>"$work/opt.err" || status=$?
  ((status == expected)) || fail "$arguments: exit status $status, expected $expected"
  grep -qxF -- "$what" "$work/opt.$stream" || fail "$arguments: std$stream does not say \"$what\""
  other=$([[ $stream == out ]] && echo err || echo out)
  [[ ! -s $work/opt.$other ]] || fail "$arguments: unexpected std$other: $(cat "$work/opt.$other")"
  if ((status == 2)); then
    grep -qxF "Использование: piezon [--list-ports | --help | --version]" "$work/opt.err" ||
      fail "$arguments: no usage text"
  fi
done
echo "PASS: --list-ports lists ${#pinned[@]} chosen numbers and $(($(wc -l <"$work/list") - seen)) of the machine's; ${#options[@]} other command lines"
