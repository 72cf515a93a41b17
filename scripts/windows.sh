#!/usr/bin/env bash
# Cross-builds the program for 64-bit Windows into build-windows/ (piezon.exe with the DLLs and
# plugins it needs beside it) and packs it for the operator into build-windows/dist/: a zip to
# unpack anywhere and a per-user installer. With --test, also runs its test suites under Wine,
# and the program from the zip and from the installer in its real window under Wine, with the
# gauge simulator (built for this machine) on COM1.
#
# Qt 6.4.2 for Windows is taken from, in this order:
#   1. $PIEZON_QT_WINDOWS (the folder that holds bin/, lib/cmake/Qt6, plugins/);
#   2. ../shared/qt6-windows/qt6-windows-6.4.2-x64.tar.xz beside this repository, unpacked once
#      into a cache ($PIEZON_CACHE, by default ~/.cache/piezon);
#   3. otherwise this script stops and says how to build it (scripts/qt-for-windows.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
run_tests=false
for arg in "$@"; do
  case $arg in
    --test) run_tests=true ;;
    *) echo "usage: $0 [--test]" >&2; exit 2 ;;
  esac
done

packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools cmake ninja-build qt6-base-dev
          qt6-base-dev-tools qt6-translations-l10n fonts-liberation2 xz-utils zip nsis)
if $run_tests; then
  packages+=(wine wine64 xvfb xdotool imagemagick unzip qt6-serialport-dev g++ make libxml2-utils)
fi
"$root/scripts/ensure-packages.sh" "${packages[@]}"

# --- Qt for Windows -------------------------------------------------------------------------
qt=${PIEZON_QT_WINDOWS:-}
shared_tar="$root/../shared/qt6-windows/qt6-windows-6.4.2-x64.tar.xz"
if [[ -z $qt && -f $shared_tar ]]; then
  cache=${PIEZON_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/piezon}
  stamp=$(stat -c '%s-%Y' "$shared_tar")
  qt="$cache/qt6-windows-6.4.2-$stamp/qt6-windows"
  if [[ ! -f $qt/lib/cmake/Qt6/Qt6Config.cmake ]]; then
    echo "Unpacking Qt for Windows into $cache"
    mkdir -p "$cache"
    rm -rf "$cache/qt6-windows-6.4.2-$stamp.part"
    mkdir -p "$cache/qt6-windows-6.4.2-$stamp.part"
    tar -xJf "$shared_tar" -C "$cache/qt6-windows-6.4.2-$stamp.part"
    rm -rf "$cache/qt6-windows-6.4.2-$stamp"
    mv "$cache/qt6-windows-6.4.2-$stamp.part" "$cache/qt6-windows-6.4.2-$stamp"
  fi
fi
if [[ -z $qt || ! -f $qt/lib/cmake/Qt6/Qt6Config.cmake ]]; then
  cat >&2 <<MSG
Qt 6.4.2 for Windows was not found${qt:+ in $qt}.
Build it once (about 16 minutes on two cores) and point PIEZON_QT_WINDOWS at it:
  scripts/qt-for-windows.sh QTBASE_SRC_TAR QTSERIALPORT_SRC_DIR \$HOME/qt6-windows
  PIEZON_QT_WINDOWS=\$HOME/qt6-windows $0 $*
QTBASE_SRC_TAR is Debian's qt6-base source (apt-get source --download-only qt6-base, with a
deb-src entry); QTSERIALPORT_SRC_DIR is qtserialport at tag v6.4.2.
MSG
  exit 1
fi

# --- Build ------------------------------------------------------------------------------------
build="$root/build-windows"
mingw_runtime=(/usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
emulator="$root/tests/support/under-wine.sh;$qt/bin;${mingw_runtime[0]};${mingw_runtime[1]};--"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" >/dev/null
cmake --build "$build" -j"$(nproc)"

# Everything piezon.exe needs at run time, beside it: Qt, its plugins, the MinGW run-time that
# Qt's DLLs use, and Qt's Russian texts. The test programs share them, and the offscreen platform
# their windows are drawn on (Qt looks for plugins beside the Qt6Core.dll it loaded).
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6SerialPort; do cp -u "$qt/bin/$dll.dll" "$build/"; done
mkdir -p "$build/platforms" "$build/styles" "$build/translations"
cp -u "$qt/plugins/platforms/qwindows.dll" "$qt/plugins/platforms/qoffscreen.dll" "$build/platforms/"
cp -u "$qt/plugins/styles/qwindowsvistastyle.dll" "$build/styles/"
cp -u "${mingw_runtime[0]}/libstdc++-6.dll" "${mingw_runtime[0]}/libgcc_s_seh-1.dll" \
      "${mingw_runtime[1]}/libwinpthread-1.dll" "$build/"
cp -u /usr/share/qt6/translations/qtbase_ru.qm "$build/translations/"
echo "Built $build/piezon.exe"

# --- Packages ---------------------------------------------------------------------------------
# What the operator gets: the program and what it needs, nothing of the tests.
# The project's version, as the top CMakeLists.txt declares it ("M.NN"), and as Windows numbers
# a file's version (M.NN.0.0).
version=$(sed -n 's/^project(piezon VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[[ $version =~ ^([0-9]+)\.([0-9]+)$ ]] || { echo "no version in $root/CMakeLists.txt" >&2; exit 1; }
file_version="${BASH_REMATCH[1]}.$((10#${BASH_REMATCH[2]})).0.0"
dist="$build/dist"
stage="$dist/piezon-rx418-$version"
rm -rf "$dist"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/translations"
cp "$build/piezon.exe" "$root/src/assets/piezon.ico" "$stage/"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6SerialPort libstdc++-6 libgcc_s_seh-1 libwinpthread-1; do
  cp "$build/$dll.dll" "$stage/"
done
cp "$build/platforms/qwindows.dll" "$stage/platforms/"
cp "$build/styles/qwindowsvistastyle.dll" "$stage/styles/"
cp "$build/translations/qtbase_ru.qm" "$stage/translations/"
# The MinGW run-time comes with its symbols and debug information (most of libstdc++'s 24 MB),
# which the operator has no use for. Stripped only here, where it is packed: build-windows/ keeps
# them for a debugger. --strip-unneeded keeps all that a PE image is loaded by (exports, imports,
# base relocations, resources). Qt's DLLs come stripped already; the exe is done too.
find "$stage" -type f \( -name '*.dll' -o -name '*.exe' \) \
  -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
zip="$dist/piezon-rx418-$version-windows-x64.zip"
(cd "$dist" && zip -qr -X "$zip" "piezon-rx418-$version")
# At most 15 MiB: an unstripped DLL, a debug build or a stray file in the stage would otherwise
# grow the download unnoticed.
zip_limit=$((15 * 1024 * 1024))
zip_size=$(stat -c %s "$zip")
if ((zip_size > zip_limit)); then
  echo "The zip is $zip_size bytes, more than 15 MiB ($zip_limit): see what grew in $stage" >&2
  exit 1
fi
# The uninstaller removes exactly these files, so that the logs beside them stay.
(cd "$stage" && find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|^|  Delete "$INSTDIR\\|; s|$|"|') \
  >"$dist/installed-files.nsh"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DFILE_VERSION="$file_version" \
  -DSTAGE="$stage" -DFILES="$dist/installed-files.nsh" \
  -DOUTFILE="$dist/piezon-rx418-$version-setup.exe" "$root/scripts/windows-setup.nsi"
rm -f "$dist/installed-files.nsh"
setup="$dist/piezon-rx418-$version-setup.exe"
unpacked=$(find "$stage" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
echo "Packed $zip ($zip_size bytes, $unpacked unpacked) and $setup ($(stat -c %s "$setup") bytes)"

$run_tests || exit 0

# --- Test suites under Wine ------------------------------------------------------------------
prefix=$(mktemp -d "${TMPDIR:-/tmp}/piezon-wine.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { wineserver -k 2>/dev/null || true; rm -rf "$prefix"; }
trap cleanup EXIT
wine wineboot -i >/dev/null 2>&1
# Wine maps COM1 to this machine's own first serial port by itself. No suite opens a port, but
# none may ever reach a real one: COM1-COM16, every number the program offers, are pointed at
# /dev/null and checked (Wine then gives the machine's ports numbers above 16).
for n in $(seq 1 16); do
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d /dev/null /f >/dev/null 2>&1
done
wineserver -w
wine cmd /c exit >/dev/null 2>&1
wineserver -w
for n in $(seq 1 16); do
  target=$(readlink "$prefix/dosdevices/com$n" || true)
  if [[ $target != /dev/null ]]; then
    echo "Wine's COM$n leads to '${target:-nowhere}', not /dev/null: not running" >&2
    exit 1
  fi
done
echo "Windows test suites under Wine ($(wine --version))"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
wineserver -k 2>/dev/null || true

# The real window needs the gauge simulator, which runs on this machine.
host="$build/host"
cmake -S "$root" -B "$host" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$host" -j"$(nproc)" --target gauge-sim >/dev/null
echo "The real window under Wine"
"$root/tests/windows/real_window_under_wine.sh" "$dist/piezon-rx418-$version-windows-x64.zip" \
  "$dist/piezon-rx418-$version-setup.exe" \
  "$host/gauge-sim" "$build/screenshots" "$build/hold-file.exe"
