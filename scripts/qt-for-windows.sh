#!/usr/bin/env bash
# Builds Qt 6.4.2 for 64-bit Windows (qtbase and qtserialport; shared, release) with Debian's
# MinGW-w64 (posix threads) and Debian 12's own Qt 6.4.2 as host tools, into PREFIX; then
#   PIEZON_QT_WINDOWS=PREFIX scripts/windows.sh
# builds the program with it. About 16 minutes on two cores; not part of any test run.
#
# QTBASE_SRC_TAR: Debian's qt6-base source, qt6-base_6.4.2+dfsg.orig.tar.xz, fetched with
#   apt-get source --download-only qt6-base   (needs a deb-src line in the apt sources).
# QTSERIALPORT_SRC_DIR: qtserialport at tag v6.4.2 (a clone of Qt's repository at that tag, or
#   an unpacked copy of it).
# The build happens in $WORK (default: a folder under $TMPDIR); PREFIX receives the result.
set -euo pipefail
if (($# != 3)); then
  echo "usage: $0 QTBASE_SRC_TAR QTSERIALPORT_SRC_DIR PREFIX" >&2
  exit 2
fi
qtbase_tar=$(realpath "$1")
serial_src=$(realpath "$2")
prefix=$(realpath -m "$3")
root=$(cd "$(dirname "$0")/.." && pwd)
[[ -f $qtbase_tar ]] || { echo "no such file: $qtbase_tar" >&2; exit 1; }
[[ -f $serial_src/CMakeLists.txt ]] || { echo "not a qtserialport source folder: $serial_src" >&2; exit 1; }

"$root/scripts/ensure-packages.sh" g++-mingw-w64-x86-64-posix mingw-w64-tools ninja-build cmake \
  qt6-base-dev qt6-base-dev-tools xz-utils
work=${WORK:-${TMPDIR:-/tmp}/piezon-qt6-windows-build}
jobs=${JOBS:-$(nproc)}
mkdir -p "$work"
if [[ ! -f $work/qtbase/configure ]]; then
  rm -rf "$work/qtbase"
  mkdir -p "$work/qtbase"
  tar -xf "$qtbase_tar" -C "$work/qtbase" --strip-components=1
fi

# Qt's own build uses the same toolchain file as the program; the installed Qt refers to it by
# path, so it is kept in PREFIX.
mkdir -p "$prefix" "$work/build-qtbase"
cp "$root/cmake/mingw-w64-x86_64.cmake" "$prefix/mingw-w64-x86_64.cmake"
cd "$work/build-qtbase"
"$work/qtbase/configure" -prefix "$prefix" -xplatform win32-g++ -qt-host-path /usr \
  -release -shared -nomake tests -nomake examples \
  -no-opengl -no-dbus -no-icu -no-feature-sql -no-feature-network -no-feature-concurrent \
  -no-feature-tabletevent -no-feature-vulkan -no-feature-printsupport \
  -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-doubleconversion \
  -- -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64-x86_64.cmake" \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DCMAKE_CXX_FLAGS_RELEASE=-O2 -G Ninja
cmake --build . --parallel "$jobs"
cmake --install .

mkdir -p "$work/build-serialport"
cd "$work/build-serialport"
"$prefix/bin/qt-configure-module" "$serial_src" -- -G Ninja
cmake --build . --parallel "$jobs"
cmake --install .
echo "Qt for Windows installed in $prefix"
echo "Now: PIEZON_QT_WINDOWS=$prefix $root/scripts/windows.sh"
