#!/usr/bin/env bash
# A whole batch on the photo corpus, timed in one run for:
#   velda-batch --jobs 1, velda-batch on every core, the bare TurboJPEG
#   floor (decode and encode each file, nothing else), and ImageMagick's
#   convert doing the same job file by file.
# The job: 300x120 watermark at grey 70, one 40-pixel text line, JPEG 75.
# Prints medians of RUNS runs (default 3), ratios and peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
CORPUS=${VELDA_CORPUS:-/tmp/perf/corpus}
RUNS=${RUNS:-3}
[ -f "$CORPUS/watermark.png" ] || bash ../shared/corpus/make-corpus.sh "$CORPUS"
cmake --build build -j2 --target velda-batch tj_floor >/dev/null
BIN=$PWD/build/bin
CONVERT=$(command -v convert-im6.q16 || command -v convert)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"
# Copies, each tagged like a camera's file (EXIF with GPS, IPTC, XMP, a
# colour profile), so that keeping metadata has real work to do.
python3 - "$work/in/camera.icc" <<'PY'
import struct, sys
b = bytearray(3144); b[0:4] = struct.pack('>I', len(b)); b[4:8] = b'lcms'; b[12:24] = b'mntrRGB XYZ '; b[36:40] = b'acsp'
open(sys.argv[1], 'wb').write(b)
PY
for f in "$CORPUS"/jpg/*.jpg "$CORPUS"/jpg24/*.jpg; do
  cp "$f" "$work/in/"
  g=$work/in/$(basename "$f")
  exiv2 -M'set Exif.Image.Make BenchCam' -M'set Exif.Image.Model B1' -M'set Exif.Image.Copyright (c) Bench' \
    -M'set Exif.Photo.DateTimeOriginal 2026:01:02 03:04:05' -M'set Exif.GPSInfo.GPSLatitude 48/1 51/1 24/1' \
    -M'set Iptc.Application2.Byline Bench' -M'set Xmp.dc.creator Bench' "$g"
  cp "$work/in/camera.icc" "${g%.jpg}.icc" && exiv2 -iC "$g" && rm "${g%.jpg}.icc"
done
rm "$work/in/camera.icc"
n=$(ls "$work/in" | wc -l)
cat >"$work/velda.ini" <<INI
[MainVeldaDetails]
WaterMarkFile=$CORPUS/watermark.png
MixValue=70
CentreWatermark=0
ImagePercent=False
wx=40
wy=100
Text=(c) 2026 Velda Studio
Textclr=FFFFFF
TextPercent=False
tx=40
ty=40
ts=40
tfont=DejaVu Sans
INI

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
# run NAME COMMAND...: times RUNS runs, keeps the median and the peak memory
declare -A T M
run() {
  local name=$1; shift
  local times=() peak=0
  for ((i = 0; i < RUNS; i++)); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    local s e kb
    s=$(date +%s.%N)
    /usr/bin/time -o "$work/mem" -f '%M' "$@" >/dev/null 2>&1
    kb=$(tail -1 "$work/mem")
    e=$(date +%s.%N)
    times+=("$(echo "$e - $s" | bc -l)")
    ((kb > peak)) && peak=$kb
  done
  T[$name]=$(printf '%s\n' "${times[@]}" | median)
  M[$name]=$peak
}
magick_job() {
  for f in "$work"/in/*.jpg; do
    "$CONVERT" "$f" "$CORPUS/watermark.png" -geometry +40+100 -compose blend \
      -define compose:args=27 -composite -font DejaVu-Sans-Bold -pointsize 40 -fill white \
      -gravity NorthWest -annotate +40+40 '(c) 2026 Velda Studio' -quality 75 \
      "$work/out/$(basename "$f")"
  done
}
export -f magick_job; export CONVERT CORPUS work

run jobs1 "$BIN/velda-batch" --settings "$work/velda.ini" --quality 75 --jobs 1 -q "$work/in" "$work/out"
run all "$BIN/velda-batch" --settings "$work/velda.ini" --quality 75 -q "$work/in" "$work/out"
run strip "$BIN/velda-batch" --settings "$work/velda.ini" --quality 75 -q --strip-metadata "$work/in" "$work/out"
run floor bash -c "'$BIN/tj_floor' '$work/out' '$work'/in/*.jpg"
run magick bash -c magick_job

printf '%d files (%s), %d runs each, cores: %d\n' "$n" "$CORPUS" "$RUNS" "$(nproc)"
printf '%-28s %10s %12s\n' "run" "median s" "peak MiB"
for k in floor jobs1 all strip magick; do
  printf '%-28s %10.2f %12.0f\n' "$k" "${T[$k]}" "$(echo "${M[$k]} / 1024" | bc -l)"
done
r() { echo "${T[$1]} / ${T[$2]}" | bc -l; }
printf 'velda --jobs 1 / TurboJPEG floor: %.2f (target <= 1.15)\n' "$(r jobs1 floor)"
printf 'velda all cores / --jobs 1:       %.2f (target <= 0.60)\n' "$(r all jobs1)"
printf 'velda all cores / ImageMagick:    %.2f (target <= 0.50)\n' "$(r all magick)"
printf 'keeping metadata / stripping it:  %.3f (target < 1.03)\n' "$(r all strip)"
