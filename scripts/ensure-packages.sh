#!/usr/bin/env bash
# Installs the Debian 12 packages this project needs, if any are missing. Uses sudo when not root.
# With package names, only those (scripts/install.sh asks for what building and running needs).
set -euo pipefail

packages=(qt6-base-dev qt6-serialport-dev qt6-translations-l10n cmake g++ make fonts-liberation2
          xvfb xdotool imagemagick socat valgrind clang-format desktop-file-utils libglib2.0-bin
          locales poppler-utils)
if (($#)); then packages=("$@"); fi
wanted=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || wanted+=("$p")
done
if ((${#wanted[@]})); then
  echo "Installing: ${wanted[*]}"
  if [[ $(id -u) -eq 0 ]]; then sudo=(); else sudo=(sudo); fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${wanted[@]}" >/dev/null
fi
