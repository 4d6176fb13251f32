#!/usr/bin/env bash
# The invisible mark's robustness table, false positives, PSNR and timings
# (see bench/invisible_attacks.py): 2048-pixel web results of the real
# photos of this machine (/usr/share/backgrounds, each whole and two crops of
# the large ones), attacked with PIL, ImageMagick and cwebp.
#   ATTACKS=0,3  only those rows (then no false positives or timings)
#   RUNS=N       timing rounds (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build -j2 --target velda-batch >/dev/null
work=${WORK:-$(mktemp -d)}
[ -n "${WORK:-}" ] || trap 'rm -rf "$work"' EXIT
# Each photo once, by its name (some are installed under two).
photos=()
declare -A seen
for p in /usr/share/backgrounds/*.jpg /usr/share/backgrounds/mate/*/*.jpg; do
  [ -f "$p" ] || continue
  key=$(basename "$p" .jpg | sed 's/_by_.*//; s/_[0-9]*x[0-9]*//; s/^[0-9]*-//' | tr 'A-Z' 'a-z')
  [ -n "${seen[$key]:-}" ] && continue
  seen[$key]=1
  photos+=("$p")
done
/usr/bin/python3 bench/invisible_attacks.py "$PWD/build/bin/velda-batch" "$work" "${photos[@]}"
