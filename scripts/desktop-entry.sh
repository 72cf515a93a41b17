# shellcheck shell=bash disable=SC2034 # the variables are for the scripts that source this
# What scripts/install.sh and scripts/uninstall.sh agree on: the default folder, where the menu
# entry and the icon go, and how a path is written into a desktop entry so that folder names with
# blanks, quotes, Cyrillic letters or a percent sign still start the program.

DEFAULT_FOLDER="$HOME/Пьезон RX418"
APPLICATIONS="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
ICONS="${XDG_DATA_HOME:-$HOME/.local/share}/icons"
ENTRY="$APPLICATIONS/piezon-rx418.desktop"
ICON="$ICONS/piezon-rx418.png"

# The folder as an absolute path; refused if a desktop entry cannot name it.
install_folder() {
  local folder
  folder=$(realpath -m -- "${1:-$DEFAULT_FOLDER}")
  if [[ $folder == *[$'\n\r']* ]]; then
    echo "Имя папки не должно содержать перевода строки: «$folder»." >&2
    return 1
  fi
  # Written as %% in the entry, as it should be, GLib's menus still look for a program with %%
  # in its path and show nothing.
  if [[ $folder == *%* ]]; then
    echo "Имя папки не должно содержать знака %: меню не сможет запустить программу из «$folder»." >&2
    return 1
  fi
  if [[ -e $folder && ! -d $folder ]]; then
    echo "«$folder» — не папка." >&2
    return 1
  fi
  printf '%s\n' "$folder"
}

# A string value: a backslash and a tab written as escapes.
entry_string() {
  local s=${1//\\/\\\\}
  printf '%s' "${s//$'\t'/\\t}"
}

# One argument of an Exec line, before entry_string: quoted whole, with the characters that stay
# special inside the quotes escaped. (A percent sign would start a field code; install_folder
# refuses it.)
exec_argument() {
  local s=$1 c out='' i
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    case $c in
      '"' | '`' | '$' | '\') out+="\\$c" ;;
      *) out+=$c ;;
    esac
  done
  printf '"%s"' "$out"
}
