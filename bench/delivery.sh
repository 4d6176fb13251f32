#!/usr/bin/env bash
# The web-delivery job, velda-batch against sharp (libvips, npm) and
# ImageMagick in one run: the 20 corpus photos resized to 2048 pixels on
# the long side (Lanczos-3), a logo at 20 % of the width in the bottom right
# corner and a text line, written as JPEG quality 85 and WebP quality 82,
# two at a time on the machine's two cores. Rounds rotate the tools; the
# wall time is the median of RUNS rounds (default 3). Then, without the
# marks, each tool's size and its PSNR against PIL's Lanczos resize of the
# same photo, and velda's peak memory on the 24-megapixel photos.
# sharp and ImageMagick are measuring sticks only: sharp is installed into
# a scratch folder (SHARP_DIR, default /tmp/sharp-bench) from npm.
set -euo pipefail
cd "$(dirname "$0")/.."
CORPUS=${VELDA_CORPUS:-/tmp/perf/corpus}
RUNS=${RUNS:-3}
SHARP_DIR=${SHARP_DIR:-/tmp/sharp-bench}
[ -f "$CORPUS/watermark.png" ] || bash ../shared/corpus/make-corpus.sh "$CORPUS"
cmake --build build -j2 --target velda-batch >/dev/null
BATCH=$PWD/build/bin/velda-batch
[ -d "$SHARP_DIR/node_modules/sharp" ] ||
  (mkdir -p "$SHARP_DIR" && cd "$SHARP_DIR" && npm init -y >/dev/null && npm install sharp >/dev/null 2>&1)
CONVERT=$(command -v convert-im6.q16 || command -v convert)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photos=$(find "$CORPUS/jpg" -maxdepth 1 -type f | wc -l)

cat >"$work/velda.ini" <<INI
[MainVeldaDetails]
WaterMarkFile=$CORPUS/watermark.png
MixValue=255
Text=(c) 2026 Velda Studio
Textclr=FFFFFF
ts=40
tfont=DejaVu Sans
[Marks]
WatermarkSize=20
Anchor=BR
MarginX=2%
MarginY=2%
TextAnchor=BL
TextMarginX=2%
TextMarginY=2%
INI
printf '[MainVeldaDetails]\nMixValue=255\n' >"$work/plain.ini"

cat >"$work/sharp.js" <<'JS'
// node sharp.js SRC OUT FORMAT QUALITY MARKS(0/1) LOGO
const sharp = require('sharp'), fs = require('fs'), path = require('path');
const [src, out, format, quality, marks, logo] = process.argv.slice(2);
sharp.concurrency(1);  // one thread an image, two images at once
fs.mkdirSync(out, {recursive: true});
const files = fs.readdirSync(src).sort();
async function one(f) {
  let img = sharp(path.join(src, f)).rotate()
    .resize(2048, 2048, {fit: 'inside', withoutEnlargement: true, kernel: 'lanczos3'});
  if (marks === '1') {
    const {data, info} = await img.raw().toBuffer({resolveWithObject: true});
    const w = Math.round(info.width * 0.2);
    const mark = await sharp(logo).resize(w).toBuffer();
    const text = Buffer.from(`<svg width="${info.width}" height="60"><text x="${Math.round(info.width * 0.02)}" ` +
      `y="45" font-family="DejaVu Sans" font-size="40" fill="white">(c) 2026 Velda Studio</text></svg>`);
    img = sharp(data, {raw: info}).composite([
      {input: mark, gravity: 'southeast'}, {input: text, gravity: 'southwest'}]);
  }
  const name = path.join(out, path.parse(f).name + '.' + format);
  await (format === 'jpg' ? img.jpeg({quality: +quality}) : img.webp({quality: +quality})).toFile(name);
}
(async () => {
  let next = 0;
  const worker = async () => { while (next < files.length) await one(files[next++]); };
  await Promise.all([worker(), worker()]);
})();
JS

velda() {  # out format quality marks
  local ini=$work/plain.ini
  [ "$4" = 1 ] && ini=$work/velda.ini
  "$BATCH" --settings "$ini" -q --jobs 2 --resize long:2048 --format "$2" --quality "$3" \
    "$CORPUS/jpg" "$1" >/dev/null 2>&1
}
sharpjob() { NODE_PATH=$SHARP_DIR/node_modules node "$work/sharp.js" "$CORPUS/jpg" "$1" "$2" "$3" "$4" "$CORPUS/watermark.png"; }
magick() { local out=$1 format=$2 quality=$3 marks=$4; mkdir -p "$out"
  find "$CORPUS/jpg" -maxdepth 1 -type f | sort | xargs -P 2 -n 1 bash -c '
    f=$1; out="'"$out"'/$(basename "${f%.*}").'"$format"'"
    if [ '"$marks"' = 1 ]; then
      w=$(identify -format "%[fx:round(min(w,h*0+2048*w/max(w,h,2048))*0.2)]" "$f")
      "'"$CONVERT"'" "$f" -auto-orient -filter Lanczos -resize "2048x2048>" \
        \( "'"$CORPUS/watermark.png"'" -resize "$w" \) -gravity SouthEast -geometry +40+40 -composite \
        -gravity SouthWest -fill white -font DejaVu-Sans -pointsize 40 -annotate +40+30 "(c) 2026 Velda Studio" \
        -quality '"$quality"' "$out"
    else
      "'"$CONVERT"'" "$f" -auto-orient -filter Lanczos -resize "2048x2048>" -quality '"$quality"' "$out"
    fi' _
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
declare -A times
tools=(velda sharp magick)
jobs=("jpg 85" "webp 82")
for round in $(seq "$RUNS"); do
  for i in 0 1 2; do
    tool=${tools[$(((i + round) % 3))]}
    for j in "${jobs[@]}"; do
      read -r f q <<<"$j"
      out="$work/$tool-$f"
      rm -rf "$out"
      s=$(date +%s.%N)
      case $tool in
        velda) velda "$out" "$f" "$q" 1 ;;
        sharp) sharpjob "$out" "$f" "$q" 1 ;;
        magick) magick "$out" "$f" "$q" 1 ;;
      esac
      e=$(date +%s.%N)
      times[$tool-$f]+="$(echo "$e - $s" | bc -l) "
    done
  done
done

# Size and PSNR without the marks, against PIL's Lanczos of each photo.
/usr/bin/python3 - "$CORPUS/jpg" "$work/ref" <<'PY'
import os, sys
from PIL import Image, ImageOps
src, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
for f in sorted(os.listdir(src)):
    im = ImageOps.exif_transpose(Image.open(os.path.join(src, f))).convert('RGB')
    s = 2048 / max(im.size)
    if s < 1:
        im = im.resize((max(1, int(im.size[0] * s + 0.5)), max(1, int(im.size[1] * s + 0.5))), Image.LANCZOS)
    im.save(os.path.join(out, os.path.splitext(f)[0] + '.png'))
PY
psnr() {  # folder: mean PSNR of its files against the references
  /usr/bin/python3 - "$1" "$work/ref" <<'PY'
import math, os, sys
from PIL import Image, ImageChops, ImageStat
got, ref = sys.argv[1], sys.argv[2]
vals = []
for f in sorted(os.listdir(got)):
    a = Image.open(os.path.join(got, f)).convert('RGB')
    b = Image.open(os.path.join(ref, os.path.splitext(f)[0] + '.png')).convert('RGB')
    if a.size != b.size:
        b = b.resize(a.size, Image.LANCZOS)
    st = ImageStat.Stat(ImageChops.difference(a, b))
    mse = sum(st.sum2) / (3 * a.size[0] * a.size[1])
    vals.append(10 * math.log10(255 * 255 / mse) if mse else 99)
print('%.2f' % (sum(vals) / len(vals)))
PY
}
printf 'web delivery: %d photos, 2048 px long side, logo and text, 2 at a time, median of %d rounds\n' "$photos" "$RUNS"
printf '%-7s %-5s %8s %8s %10s %9s\n' tool job "wall s" "x velda" "KB/photo" "PSNR dB"
for j in "${jobs[@]}"; do
  read -r f q <<<"$j"
  base=$(echo "${times[velda-$f]}" | median)
  for tool in "${tools[@]}"; do
    out="$work/plain-$tool-$f"
    rm -rf "$out"
    case $tool in
      velda) velda "$out" "$f" "$q" 0 ;;
      sharp) sharpjob "$out" "$f" "$q" 0 ;;
      magick) magick "$out" "$f" "$q" 0 ;;
    esac
    t=$(echo "${times[$tool-$f]}" | median)
    printf '%-7s %-5s %8.2f %8.2f %10.0f %9s\n' "$tool" "$f q$q" "$t" "$(echo "$t / $base" | bc -l)" \
      "$(echo "$(cat "$out"/* | wc -c) / $photos / 1024" | bc -l)" "$(psnr "$out")"
  done
done
# Three results of each photo (JPEG at 2048, WebP at 1024, a 400-pixel
# thumbnail) from one run, against three runs.
three=(--set Output2.Format=webp --set Output2.Quality=82 --set Output2.Resize=long:1024
  --set Output2.Folder=medium --set Output3.Resize=long:400 --set Output3.Folder=thumbs)
one_run() { rm -rf "$work/three"; "$BATCH" --settings "$work/velda.ini" -q --jobs 2 --resize long:2048 \
  --quality 85 "${three[@]}" "$CORPUS/jpg" "$work/three" >/dev/null 2>&1; }
three_runs() {
  rm -rf "$work/t1" "$work/t2" "$work/t3"
  "$BATCH" --settings "$work/velda.ini" -q --jobs 2 --resize long:2048 --quality 85 "$CORPUS/jpg" "$work/t1" >/dev/null 2>&1
  "$BATCH" --settings "$work/velda.ini" -q --jobs 2 --resize long:1024 --format webp --quality 82 "$CORPUS/jpg" "$work/t2" >/dev/null 2>&1
  "$BATCH" --settings "$work/velda.ini" -q --jobs 2 --resize long:400 --quality 85 "$CORPUS/jpg" "$work/t3" >/dev/null 2>&1
}
declare -A multi
for round in $(seq "$RUNS"); do
  for how in one_run three_runs; do
    s=$(date +%s.%N)
    $how
    e=$(date +%s.%N)
    multi[$how]+="$(echo "$e - $s" | bc -l) "
  done
done
a=$(echo "${multi[one_run]}" | median)
b=$(echo "${multi[three_runs]}" | median)
printf 'three results a photo: one run %.2f s, three runs %.2f s (%.2f)\n' "$a" "$b" "$(echo "$a / $b" | bc -l)"

rm -rf "$work/m"
/usr/bin/time -o "$work/mem" -f '%M' "$BATCH" --settings "$work/velda.ini" -q --jobs 1 \
  --resize long:2048 "$CORPUS/jpg24" "$work/m" >/dev/null 2>&1
printf 'velda-batch --jobs 1 on the 24-megapixel photos: peak %.0f MiB\n' "$(echo "$(cat "$work/mem") / 1024" | bc -l)"
