#!/usr/bin/env bash
# Installs the program for an operator: the packages it needs, a Release build, the program in a
# folder of their choice, and a desktop menu entry with the program's icon that starts it from
# there. The log is written beside the program, in that folder. Run it again to update.
#
#   scripts/install.sh [FOLDER]      (default: "$HOME/Пьезон RX418")
#
# PIEZON_PREBUILT=path/to/piezon installs that program instead of building one.
# scripts/uninstall.sh [FOLDER] takes it all away again, except the log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/desktop-entry.sh"

if (($# > 1)) || [[ ${1:-} == -* ]]; then
  echo "Использование: scripts/install.sh [ПАПКА]   (по умолчанию «$DEFAULT_FOLDER»)" >&2
  exit 2
fi
folder=$(install_folder "${1:-}")

# What building needs brings in what running needs: Qt's libraries and the fonts that are built in.
"$root/scripts/ensure-packages.sh" qt6-base-dev qt6-serialport-dev cmake g++ make \
  fonts-liberation2 qt6-translations-l10n desktop-file-utils

if [[ -n ${PIEZON_PREBUILT:-} ]]; then
  program=$PIEZON_PREBUILT
  [[ -x $program ]] || { echo "Нет программы «$program»." >&2; exit 1; }
else
  build="$root/build-install"
  echo "Сборка программы в $build ..."
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target piezon >/dev/null
  program=$build/piezon
fi

created=false
[[ -d $folder ]] || created=true

# The menu entry is written aside and checked before anything is put in place.
aside=$(mktemp -d)
trap 'rm -rf -- "$aside"' EXIT
new_entry="$aside/${ENTRY##*/}"
{
  echo "[Desktop Entry]"
  echo "Type=Application"
  echo "Version=1.4"
  echo "Name=Пьезон для RX418"
  echo "GenericName=Показания манометра"
  echo "Comment=Давление с цифрового манометра RX418: число, стрелка на шкале и журнал измерений"
  echo "Keywords=манометр;давление;RX418;"
  echo "Icon=$(entry_string "$ICON")"
  echo "Exec=$(entry_string "$(exec_argument "$folder/piezon")")"
  echo "Path=$(entry_string "$folder")"
  echo "Terminal=false"
  echo "Categories=Science;Engineering;"
  echo "StartupWMClass=piezon"
  echo "X-Piezon-Folder-Created=$created"
} >"$new_entry"
if ! problems=$(desktop-file-validate "$new_entry" 2>&1) || [[ -n $problems ]]; then
  echo "Пункт меню не прошёл проверку:" >&2
  echo "$problems" >&2
  exit 1
fi

mkdir -p -- "$folder"
# Copied beside and renamed over the old one, so a copy still running keeps its own file.
cp -- "$program" "$folder/.piezon.new"
chmod 755 "$folder/.piezon.new"
mv -f -- "$folder/.piezon.new" "$folder/piezon"

mkdir -p -- "$APPLICATIONS" "$ICONS"
cp -- "$root/src/assets/icon.png" "$ICON"
mv -f -- "$new_entry" "$ENTRY"

echo "Программа установлена: $folder/piezon"
echo "В меню: «Пьезон для RX418». Журнал: $folder/Пьезон_RX418.log"
quoted=${folder//\'/\'\\\'\'}
echo "Какой номер COM у какого устройства: '$quoted/piezon' --list-ports"
if [[ $(id -u) -ne 0 ]] && ! id -nG | tr ' ' '\n' | grep -qx dialout; then
  echo "Чтобы программа могла открыть порт, добавьте себя в группу dialout:"
  echo "  sudo usermod -a -G dialout $USER"
  echo "и выйдите из системы и войдите снова."
fi
