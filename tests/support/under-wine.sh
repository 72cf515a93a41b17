#!/usr/bin/env bash
# Runs one cross-built test program under Wine, for CTest (CMAKE_CROSSCOMPILING_EMULATOR).
# Usage: under-wine.sh DLL_FOLDER... -- PROGRAM.exe [ARGS...]
# The DLL folders (Qt's, MinGW's) go on Wine's search path. Wine does not hand QT_* variables of
# the Unix environment to Windows programs, so a batch file sets them inside Wine. Wine loses what a
# console program writes to a pipe, so Qt Test writes its report to a file, shown afterwards; the
# exit status is the program's.
set -uo pipefail
windows_path() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
dirs=()
while (($#)) && [[ $1 != -- ]]; do dirs+=("$(windows_path "$1")"); shift; done
shift
program=$(windows_path "$1")
shift
WINEPATH=$(IFS=';'; echo "${dirs[*]}")
export WINEPATH
: "${WINEPREFIX:?set WINEPREFIX to a private Wine prefix (scripts/windows.sh --test does)}"
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

report=$(mktemp --suffix=.txt)
batch=$(mktemp --suffix=.bat)
trap 'rm -f "$report" "$batch"' EXIT
{
  echo '@echo off'
  env | grep -E '^QT_[A-Z_]+=[A-Za-z0-9._-]*$' | sed 's/^/set /'
  line="\"$program\""
  for arg in "$@"; do line+=" \"$arg\""; done
  echo "$line -o \"$(windows_path "$report"),txt\""
  echo 'exit %ERRORLEVEL%'
} | sed 's/$/\r/' >"$batch"
wine cmd /c "$(windows_path "$batch")" </dev/null >/dev/null 2>&1
status=$?
cat "$report"
exit $status
