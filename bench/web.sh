#!/usr/bin/env bash
# The web job in every lossy format we write, side by side in one run: the
# 20 corpus photos resized to 2048 pixels on the long side, watermark and
# text drawn, written as JPEG, WebP, AVIF, HEIC and JPEG XL at qualities
# 50, 75 and 90 (QUALITIES to change them). For each: the mean file size,
# the mean PSNR against the same job written losslessly (PNG), each file
# decoded by its format's reference decoder (djpeg, dwebp, heif-convert,
# avifdec, djxl), and the time per photo of the whole job on one core
# (median of RUNS interleaved rounds, default 3).
set -euo pipefail
cd "$(dirname "$0")/.."
CORPUS=${VELDA_CORPUS:-/tmp/perf/corpus}
RUNS=${RUNS:-3}
QUALITIES=${QUALITIES:-50 75 90}
FORMATS=${FORMATS:-jpg webp avif heic jxl}
[ -f "$CORPUS/watermark.png" ] || bash ../shared/corpus/make-corpus.sh "$CORPUS"
cmake --build build -j2 --target velda-batch >/dev/null
BATCH=$PWD/build/bin/velda-batch
COMPARE=$(command -v compare-im6.q16 || command -v compare)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/velda.ini" <<INI
[MainVeldaDetails]
WaterMarkFile=$CORPUS/watermark.png
MixValue=70
Text=(c) 2026 Velda Studio
Textclr=FFFFFF
ts=40
tfont=DejaVu Sans
[Marks]
WatermarkSize=20
Anchor=BR
MarginX=3%
MarginY=3%
TextAnchor=BL
TextMarginX=3%
TextMarginY=3%
INI
job=(--settings "$work/velda.ini" --resize long:2048 -q)
photos=$(find "$CORPUS/jpg" -maxdepth 1 -type f | wc -l)

# The reference: the same job, lossless.
"$BATCH" "${job[@]}" --format png "$CORPUS/jpg" "$work/ref" >/dev/null

decode() {  # file png
  case "$1" in
    *.jpg) djpeg -outfile "$2.ppm" "$1" ;;
    *.webp) dwebp -quiet "$1" -o "$2" ;;
    *.heic) heif-convert "$1" "$2" >/dev/null ;;
    *.avif) avifdec "$1" "$2" >/dev/null ;;
    *.jxl) djxl "$1" "$2" >/dev/null 2>&1 ;;
  esac
}

declare -A times
for round in $(seq "$RUNS"); do
  for f in $FORMATS; do
    for q in $QUALITIES; do
      out="$work/$f-$q"
      rm -rf "$out"
      s=$(date +%s.%N)
      taskset -c 0 "$BATCH" "${job[@]}" --jobs 1 --format "$f" --quality "$q" "$CORPUS/jpg" "$out" >/dev/null
      e=$(date +%s.%N)
      times[$f-$q]+="$(echo "($e - $s) / $photos" | bc -l) "
    done
  done
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
ref_bytes=$(cat "$work"/ref/*.png | wc -c)
printf 'web job: %d photos, 2048 px long side, marks; PNG (lossless) %.0f KB a photo\n' \
  "$photos" "$(echo "$ref_bytes / $photos / 1024" | bc -l)"
printf '%-6s %7s %10s %8s %9s %11s\n' format quality "KB/photo" "bits/px" "PSNR dB" "s/photo"
for f in $FORMATS; do
  for q in $QUALITIES; do
    out="$work/$f-$q"
    bytes=$(cat "$out"/* | wc -c)
    pixels=0
    psnr_sum=0
    for r in "$work"/ref/*.png; do
      stem=$(basename "$r" .png)
      file=$(ls "$out/$stem".*)
      decode "$file" "$work/d.png"
      [ -f "$work/d.png.ppm" ] && mv "$work/d.png.ppm" "$work/d.ppm" && dec="$work/d.ppm" || dec="$work/d.png"
      p=$("$COMPARE" -metric PSNR "$r" "$dec" null: 2>&1 || true)
      psnr_sum=$(echo "$psnr_sum + $p" | bc -l)
      read -r w h < <(identify -format '%w %h\n' "$r")
      pixels=$((pixels + w * h))
      rm -f "$work/d.png" "$work/d.ppm"
    done
    printf '%-6s %7s %10.0f %8.2f %9.2f %11.3f\n' "$f" "$q" \
      "$(echo "$bytes / $photos / 1024" | bc -l)" "$(echo "$bytes * 8 / $pixels" | bc -l)" \
      "$(echo "$psnr_sum / $photos" | bc -l)" "$(echo "${times[$f-$q]}" | median)"
  done
done
