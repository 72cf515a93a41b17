#!/usr/bin/env bash
# Takes away what scripts/install.sh put there: the program in FOLDER, and the menu entry and icon
# if that entry starts the program in FOLDER. Leaves everything else: the log, COMn links, other
# files, and the folder itself unless install created it and nothing is left in it.
#
#   scripts/uninstall.sh [FOLDER]      (default: "$HOME/Пьезон RX418")
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/desktop-entry.sh"

if (($# > 1)) || [[ ${1:-} == -* ]]; then
  echo "Использование: scripts/uninstall.sh [ПАПКА]   (по умолчанию «$DEFAULT_FOLDER»)" >&2
  exit 2
fi
folder=$(install_folder "${1:-}")

removed=0
if [[ -f $folder/piezon ]]; then
  rm -f -- "$folder/piezon"
  removed=1
fi

# The entry is ours only if it starts the program in this folder: a later install elsewhere
# wrote its own.
created=false
if [[ -f $ENTRY ]] && grep -qxF -- "Path=$(entry_string "$folder")" "$ENTRY"; then
  grep -qx 'X-Piezon-Folder-Created=true' "$ENTRY" && created=true
  rm -f -- "$ENTRY" "$ICON"
  removed=1
  echo "Пункт меню «Пьезон для RX418» удалён."
elif [[ -f $ENTRY ]]; then
  echo "Пункт меню оставлен: он запускает программу из другой папки ($ENTRY)."
fi

if [[ $created == true ]] && rmdir -- "$folder" 2>/dev/null; then
  echo "Папка $folder удалена."
elif [[ -d $folder ]]; then
  ((removed)) && echo "Программа удалена из $folder."
  [[ -e $folder/Пьезон_RX418.log ]] && echo "Журнал оставлен: $folder/Пьезон_RX418.log"
  [[ -e $folder/Пьезон_RX418_предыдущий.log ]] &&
    echo "Журнал прошлого сеанса оставлен: $folder/Пьезон_RX418_предыдущий.log"
  for csv in "$folder"/Пьезон_RX418.csv "$folder"/Пьезон_RX418_предыдущий.csv; do
    [[ -e $csv ]] && echo "Файл с отметками времени оставлен: $csv"
  done
fi
((removed)) || echo "В «$folder» программа не установлена: удалять нечего."
