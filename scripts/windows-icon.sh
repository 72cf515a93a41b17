#!/usr/bin/env bash
# Rebuilds src/assets/piezon.ico, the program's icon on Windows (Explorer, the taskbar, Start,
# Apps): the 64, 48, 32 and 16 px images it holds are kept as they are, pixel for pixel, and a
# 256 px one is drawn from src/assets/icon.png (the gauge the window shows, 95x109) for the large
# views and high-DPI screens, which otherwise blow up the 64 px image. Windows expects the 256 px
# image PNG-compressed; ImageMagick writes it so (the smaller ones stay bitmaps). Run it again
# after a change to icon.png; the result is committed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ico="$root/src/assets/piezon.ico"
png="$root/src/assets/icon.png"

# The smaller images, whatever the icon holds now (so that running this twice changes nothing).
small=()
while read -r index width; do
  ((width < 256)) && small+=("${ico}[$index]")
done < <(identify -format '%p %w\n' "$ico")
((${#small[@]})) || { echo "no images below 256 px in $ico" >&2; exit 1; }

# The gauge enlarged as a whole (Lanczos keeps its edges crisp without the halos sharpening
# gives), centred on a transparent square.
tmp=$(mktemp --suffix=.ico)
trap 'rm -f "$tmp"' EXIT
convert \( "$png" -background none -filter Lanczos -resize 256x256 -gravity center \
  -extent 256x256 \) "${small[@]}" "$tmp"

identify -format '%p %wx%h %m\n' "$tmp"
identify -format '%w %m\n' "$tmp" | grep -x '256 PNG' >/dev/null || {
  echo "the 256 px image is not PNG-compressed" >&2
  exit 1
}
mv "$tmp" "$ico"
chmod 644 "$ico"
echo "Wrote $ico"
