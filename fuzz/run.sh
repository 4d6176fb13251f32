#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 300),
# two at a time, from seeds made with ImageMagick. Findings land in
# build-fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${SECONDS_EACH:-300}
bash scripts/install-deps.sh --fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DVELDA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2
CONVERT=$(command -v convert-im6.q16 || command -v convert)
seeds=build-fuzz/seeds
mkdir -p "$seeds"
src=$seeds/src.png
"$CONVERT" -size 24x16 gradient:red-blue -draw 'circle 8,8 8,3' "$src"
mk() { mkdir -p "$seeds/$1"; "$CONVERT" "$src" "${@:3}" "$2:$seeds/$1/$(echo "$*" | md5sum | cut -c1-8)"; }
mk jpeg JPEG; mk jpeg JPEG -colorspace Gray; mk jpeg JPEG -interlace Plane
mk bmp BMP3; mk bmp BMP3 -colors 16 -type Palette; mk bmp BMP3 -colors 200 -compress RLE; mk bmp BMP -alpha set
mk pcx PCX; mk pcx PCX -colors 200 -type Palette
mk png PNG; mk png PNG8; mk png PNG48 -depth 16; mk png PNG32 -alpha set
mk tiff TIFF -compress LZW; mk tiff TIFF -compress RLE; mk tiff TIFF -colors 16 -type Palette
mk targa TGA; mk targa TGA -compress RLE; mk targa TGA -colors 100 -type Palette
mk gif GIF; mk gif GIF -transparent red
mk photocd PCD
# ImageMagick keeps a few bytes from its start-up until exit; not ours.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
rm -rf build-fuzz/findings
for kind in jpeg bmp pcx png tiff targa gif photocd; do
  mkdir -p "build-fuzz/findings/$kind" "build-fuzz/corpus/$kind"
  echo "== fuzz_$kind for ${SECONDS_EACH}s"
  build-fuzz/bin/fuzz_$kind -max_total_time="$SECONDS_EACH" -rss_limit_mb=4096 -max_len=65536 \
    -artifact_prefix="build-fuzz/findings/$kind/" "build-fuzz/corpus/$kind" "$seeds/$kind" \
    >"build-fuzz/findings/$kind.log" 2>&1 &
  while (( $(jobs -r | wc -l) >= 2 )); do sleep 5; done
done
wait
for kind in jpeg bmp pcx png tiff targa gif photocd; do
  printf '%-8s %s\n' "$kind" "$(grep -E '^#[0-9]+.*DONE|^Done [0-9]+ runs' "build-fuzz/findings/$kind.log" | tail -1)"
  ls "build-fuzz/findings/$kind" | sed 's/^/  finding: /'
done
