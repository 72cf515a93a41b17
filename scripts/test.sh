#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test,
# then runs the serial-session tests once more under Valgrind from a build without sanitizers.
# Needs no display: a private Xvfb is started for the tests that drive the real window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/ensure-packages.sh"
# Russian, for the tests that check how the system's own Russian words are taken.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  if [[ $(id -u) -eq 0 ]]; then sudo=(); else sudo=(sudo); fi
  "${sudo[@]}" localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi

build="$root/build-test"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DPIEZON_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

"$root/scripts/check-format.sh"

# A display of our own for the real-window tests; offscreen tests ignore it.
xvfb_pid=
if [[ -z ${DISPLAY:-} ]]; then
  for n in $(seq 90 140); do [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] || break; done
  Xvfb ":$n" -noreset -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.05; done
fi
trap '[[ -n $xvfb_pid ]] && kill $xvfb_pid 2>/dev/null || true' EXIT

# A sanitizer finding aborts the program it is in, and so fails its test (the process-level
# tests also look for reports in every program's output).
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/support/lsan.supp
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600

# Memcheck sees what the sanitizers do not (uninitialised reads) in the code that talks to the
# serial line. Only that test is built again, without sanitizers; leaks are LeakSanitizer's job.
memcheck="$root/build-memcheck"
cmake -S "$root" -B "$memcheck" -DCMAKE_BUILD_TYPE=Debug -DPIEZON_SANITIZE=OFF >/dev/null
cmake --build "$memcheck" -j"$(nproc)" --target test_gauge_session
echo "Valgrind memcheck: test_gauge_session"
QT_QPA_PLATFORM=offscreen valgrind -q --error-exitcode=1 --leak-check=no \
  "$memcheck/tests/gauge/test_gauge_session" -silent
