#!/usr/bin/env bash
# Builds the program and starts it with a simulated gauge on COM1, so you can press СТАРТ (F1)
# and watch live readings without any hardware.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/ensure-packages.sh"

build="$root/build-release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target piezon gauge-sim

# The simulator puts a COM1 link beside the program and plays the gauge on it.
"$build/gauge-sim" --dir "$build" --port 1 > "$build/gauge-sim.out" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q ready "$build/gauge-sim.out" 2>/dev/null && break; sleep 0.05; done

echo "Simulated gauge on COM1. Press СТАРТ (F1) to read, СТОП (F2) to stop, F3 to quit."
echo "The log is written to $build/Пьезон_RX418.log"
"$build/piezon"
