#!/usr/bin/env bash
# A whole batch on the photo corpus, timed in one run for:
#   velda-batch --jobs 1 and --jobs 2, the bare TurboJPEG floor (decode and
#   encode each file, nothing else) in one process and one process a file
#   (one and two at a time), ImageMagick's convert doing the same job file
#   by file, and velda-batch --lossless (only the blocks under the marks
#   re-encoded) with the bytes written. Medians of RUNS interleaved rounds
#   (default 5) of time, system time and minor page faults; peak memory.
# The job: 300x120 watermark at grey 70, one 40-pixel text line, JPEG 75.
# Prints medians of RUNS runs (default 3), ratios and peak memory.
# Then the limits: naming and walking stay linear (5,000 files of one name
# against 5,000 distinct names; a tree 2,500 folders deep), and memory stays
# bounded (two 200-megapixel photos with --jobs 2 under a budget that holds
# one, against one alone, and row by row; a 33 KB GIF that declares
# 15000 x 15000).
# Palette output: the 24-megapixel photos as 256-colour GIF and BMP and
# 16-colour BMP, against the yardstick of bench/palette_ref.cpp (median
# cut, Floyd-Steinberg, giflib), with each one's PSNR against its own
# true-colour picture.
# PARTS=corpus,palette,scale,memory chooses the parts (default: all).
# BASELINE=/path/to/velda-batch adds another build's runs for comparison.
set -euo pipefail
cd "$(dirname "$0")/.."
CORPUS=${VELDA_CORPUS:-/tmp/perf/corpus}
RUNS=${RUNS:-5}
[ -f "$CORPUS/watermark.png" ] || bash ../shared/corpus/make-corpus.sh "$CORPUS"
cmake --build build -j2 --target velda-batch tj_floor palette_ref >/dev/null
BIN=$PWD/build/bin
CONVERT=$(command -v convert-im6.q16 || command -v convert)

PARTS=${PARTS:-corpus,palette,scale,memory}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
has() { [[ ",$PARTS," == *",$1,"* ]]; }
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; e=$(date +%s.%N); echo "$e - $s" | bc -l; }

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

if has corpus; then
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

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
magick_job() {
  for f in "$work"/in/*.jpg; do
    "$CONVERT" "$f" "$CORPUS/watermark.png" -geometry +40+100 -compose blend \
      -define compose:args=27 -composite -font DejaVu-Sans-Bold -pointsize 40 -fill white \
      -gravity NorthWest -annotate +40+40 '(c) 2026 Velda Studio' -quality 75 \
      "$work/out/$(basename "$f")"
  done
}
export -f magick_job; export CONVERT CORPUS work BIN

# The runs, NAME then command; each round runs every one once, so that a
# noisy machine hits all of them alike, in an order shuffled anew each round
# (the same shuffles every time the benchmark runs): a run pays for the
# memory the machine has not handed out lately (the host backs a guest's
# pages on first touch), so a run that always followed a smaller one would
# pay that for both. A fixed turn, even one starting further along each
# round, keeps every run behind the same neighbour.
declare -A CMD
CMD[floor]="'$BIN/tj_floor' '$work/out' '$work'/in/*.jpg"
CMD[perfile]="ls '$work'/in/*.jpg | xargs -n1 '$BIN/tj_floor' '$work/out'"
CMD[perfile2]="ls '$work'/in/*.jpg | xargs -n1 -P2 '$BIN/tj_floor' '$work/out'"
CMD[jobs1]="'$BIN/velda-batch' --settings '$work/velda.ini' --quality 75 --jobs 1 -q '$work/in' '$work/out'"
CMD[jobs2]="'$BIN/velda-batch' --settings '$work/velda.ini' --quality 75 --jobs 2 -q '$work/in' '$work/out'"
CMD[strip]="'$BIN/velda-batch' --settings '$work/velda.ini' --quality 75 --jobs 2 -q --strip-metadata '$work/in' '$work/out'"
CMD[lossless]="'$BIN/velda-batch' --settings '$work/velda.ini' --lossless --jobs 1 -q '$work/in' '$work/out'"
CMD[magick]="magick_job"
NAMES=(floor perfile perfile2 jobs1 jobs2 strip lossless magick)
# BASELINE=/path/to/another/velda-batch: the same three runs of that build,
# interleaved with these, to compare two versions in one run.
if [ -n "${BASELINE:-}" ]; then
  for name in jobs1 jobs2 lossless; do
    CMD[$name-base]=${CMD[$name]//"'$BIN/velda-batch'"/"'$BASELINE'"}
    NAMES+=("$name-base")
  done
fi
declare -A T S F M B
for name in "${NAMES[@]}"; do : >"$work/$name.times"; M[$name]=0; done
for ((round = 0; round < RUNS; round++)); do
  for name in $(printf '%s\n' "${NAMES[@]}" |
    awk -v seed=$((round + 1)) 'BEGIN {srand(seed)} {print rand() "\t" $0}' | sort -n | cut -f2); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    /usr/bin/time -o "$work/t" -f '%e %S %R %M' bash -c "${CMD[$name]}" >/dev/null 2>&1
    read -r e sys minflt kb < <(tail -1 "$work/t")
    echo "$e $sys $minflt" >>"$work/$name.times"
    ((kb > M[$name])) && M[$name]=$kb
    B[$name]=$(du -sb "$work/out" | cut -f1)
  done
done
for name in "${NAMES[@]}"; do
  T[$name]=$(cut -d' ' -f1 "$work/$name.times" | median)
  S[$name]=$(cut -d' ' -f2 "$work/$name.times" | median)
  F[$name]=$(cut -d' ' -f3 "$work/$name.times" | median)
done

printf '%d files (%s), medians of %d interleaved rounds, cores: %d\n' "$n" "$CORPUS" "$RUNS" "$(nproc)"
printf '%-10s %10s %10s %12s %10s\n' "run" "median s" "system s" "minor faults" "peak MiB"
for k in "${NAMES[@]}"; do
  printf '%-10s %10.2f %10.2f %12.0f %10.0f\n' "$k" "${T[$k]}" "${S[$k]}" "${F[$k]}" "$(echo "${M[$k]} / 1024" | bc -l)"
done
r() { echo "${T[$1]} / ${T[$2]}" | bc -l; }
printf 'floor, two files at a time / one at a time: %.2f\n' "$(r perfile2 perfile)"
printf 'velda --jobs 1 / per-file floor:    %.2f (target <= 0.85)\n' "$(r jobs1 perfile)"
printf 'velda --jobs 1 / one-process floor: %.2f\n' "$(r jobs1 floor)"
printf 'velda --jobs 2 / --jobs 1:          %.2f (target <= 0.55)\n' "$(r jobs2 jobs1)"
printf 'velda --jobs 2 / ImageMagick:       %.2f (target <= 0.50)\n' "$(r jobs2 magick)"
printf 'keeping metadata / stripping it:    %.3f (target < 1.03)\n' "$(r jobs2 strip)"
printf 'lossless / normal (--jobs 1):       %.2f (target <= 0.85)\n' "$(r lossless jobs1)"
printf 'lossless / one-process floor:       %.2f\n' "$(r lossless floor)"
if [ -n "${BASELINE:-}" ]; then
  for name in jobs1 jobs2 lossless; do
    printf '%-8s this build / baseline: time %.3f, peak memory %.3f\n' "$name" "$(r "$name" "$name-base")" \
      "$(echo "${M[$name]} / ${M[$name-base]}" | bc -l)"
  done
fi
mb() { echo "$1 / 1048576" | bc -l; }
printf 'bytes: sources %.1f MB, normal (quality 75) %.1f MB, lossless %.1f MB\n' \
  "$(mb "$(du -sb "$work/in" | cut -f1)")" "$(mb "${B[jobs1]}")" "$(mb "${B[lossless]}")"
# Memory per worker on 24-megapixel photos alone.
mkdir -p "$work/big"; cp "$CORPUS"/jpg24/*.jpg "$work/big/"
for j in 1 2; do
  rm -rf "$work/out"
  /usr/bin/time -o "$work/t" -f '%M' "$BIN/velda-batch" --settings "$work/velda.ini" --jobs $j -q "$work/big" "$work/out" >/dev/null 2>&1
  printf '24-megapixel photos, --jobs %d: peak %.0f MiB, %.0f MiB a worker (target <= 150)\n' "$j" \
    "$(echo "$(tail -1 "$work/t") / 1024" | bc -l)" "$(echo "$(tail -1 "$work/t") / 1024 / $j" | bc -l)"
done
fi

if has palette; then
  pal=$work/pal; mkdir -p "$pal"
  median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
  psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 | awk '{print $1}'; }
  photos=("$CORPUS"/jpg24/*.jpg)
  "$BIN/velda-batch" --settings "$work/velda.ini" --format bmp --depth 24 -q "$CORPUS/jpg24" "$pal/true" >/dev/null
  # kind: velda format, depth; yardstick extension, colours
  KINDS=("gif256 gif 8 gif 256" "bmp256 bmp 8 bmp 256" "bmp16 bmp 4 bmp 16")
  declare -A PV PR QV QR
  for ((round = 0; round < RUNS; round++)); do
    for kind in "${KINDS[@]}"; do
      read -r name fmt depth ext colours <<<"$kind"
      rm -rf "$pal/v"; s=$(date +%s.%N)
      for f in "${photos[@]}"; do
        "$BIN/velda-batch" --settings "$work/velda.ini" --format "$fmt" --depth "$depth" -q \
          "$CORPUS/jpg24" "$pal/v" "$(basename "$f")" >/dev/null
      done
      e=$(date +%s.%N); PV[$name]+="$(echo "$e - $s" | bc -l) "
      s=$(date +%s.%N)
      for f in "${photos[@]}"; do "$BIN/palette_ref" "$f" "$pal/r-$(basename "$f" .jpg).$ext" "$colours"; done
      e=$(date +%s.%N); PR[$name]+="$(echo "$e - $s" | bc -l) "
    done
  done
  for kind in "${KINDS[@]}"; do
    read -r name fmt depth ext colours <<<"$kind"
    rm -rf "$pal/v"
    "$BIN/velda-batch" --settings "$work/velda.ini" --format "$fmt" --depth "$depth" -q "$CORPUS/jpg24" "$pal/v" >/dev/null
    qv=0; qr=0
    for f in "${photos[@]}"; do
      b=$(basename "$f" .jpg)
      "$BIN/palette_ref" "$f" "$pal/r-$b.$ext" "$colours" "$pal/rt-$b.bmp"
      qv=$(echo "$qv + $(psnr "$pal/v/$b.$fmt" "$pal/true/$b.bmp") / ${#photos[@]}" | bc -l)
      qr=$(echo "$qr + $(psnr "$pal/r-$b.$ext" "$pal/rt-$b.bmp") / ${#photos[@]}" | bc -l)
    done
    tv=$(echo "${PV[$name]}" | tr ' ' '\n' | grep . | median)
    tr_=$(echo "${PR[$name]}" | tr ' ' '\n' | grep . | median)
    printf '%-7s velda %5.2f s  yardstick %5.2f s  ratio %.2f (target <= 1.5)   PSNR velda %.1f dB, yardstick %.1f dB, lead %.1f dB\n' \
      "$name" "$tv" "$tr_" "$(echo "$tv / $tr_" | bc -l)" "$qv" "$qr" "$(echo "$qv - $qr" | bc -l)"
  done
  rm -rf "$pal"
fi

if has scale; then
  # 5,000 tiny pictures, all "photo.png" in folders of their own, against
  # 5,000 distinct names in one folder.
  mkdir -p "$work/scale/same" "$work/scale/distinct"
  "$CONVERT" -size 16x16 gradient:red-blue "$work/scale/tiny.png"
  for ((i = 0; i < 5000; i++)); do
    mkdir "$work/scale/same/$i"
    ln "$work/scale/tiny.png" "$work/scale/same/$i/photo.png"
    ln "$work/scale/tiny.png" "$work/scale/distinct/p$i.png"
  done
  # A tree 2,500 folders deep with a picture every hundred levels.
  python3 - "$work/scale/deep" "$work/scale/tiny.png" <<'PY'
import os, shutil, sys
os.makedirs(sys.argv[1]); fd = os.open(sys.argv[1], os.O_RDONLY)
for level in range(2500):
    os.mkdir('d', dir_fd=fd); nfd = os.open('d', os.O_RDONLY, dir_fd=fd); os.close(fd); fd = nfd
    if level % 100 == 0:
        with open(sys.argv[2], 'rb') as src, open(os.open('p.png', os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), 'wb') as dst:
            dst.write(src.read())
PY
  scale_run() { rm -rf "$work/scale/out"; seconds "$BIN/velda-batch" --settings "$work/velda.ini" -q --jobs 1 --recursive "$1" "$work/scale/out"; }
  same=$(scale_run "$work/scale/same"); same_n=$(ls "$work/scale/out" | wc -l)
  distinct=$(scale_run "$work/scale/distinct")
  deep=$(scale_run "$work/scale/deep"); deep_n=$(ls "$work/scale/out" | wc -l)
  printf '5000 files of one name:   %6.2f s (%d results)\n' "$same" "$same_n"
  printf '5000 distinct names:      %6.2f s\n' "$distinct"
  printf 'one name / distinct:      %6.2f (linear naming: near 1)\n' "$(echo "$same / $distinct" | bc -l)"
  printf 'tree 2500 folders deep:   %6.2f s (%d results; folders past the system path limit are reported)\n' "$deep" "$deep_n"
  rm -rf "$work/scale"
fi

if has memory; then
  # Two 200-megapixel photos (16000 x 12500): one alone, then both with
  # --jobs 2 under a budget that holds one of them. Tiled, so that the
  # marks cover every row and the whole picture is held; then plain, a band
  # of rows at a time.
  mkdir -p "$work/mem/one" "$work/mem/two"
  /usr/bin/python3 - "$work/mem/one/a.jpg" <<'PY'
import sys
from PIL import Image
w, h = 16000, 12500
g = Image.linear_gradient('L').resize((w, h))
Image.merge('RGB', (g, g.rotate(90).resize((w, h)), g.transpose(Image.FLIP_LEFT_RIGHT))).save(sys.argv[1], quality=80)
PY
  cp "$work/mem/one/a.jpg" "$work/mem/two/a.jpg"; cp "$work/mem/one/a.jpg" "$work/mem/two/b.jpg"
  peak() { rm -rf "$work/mem/out"; /usr/bin/time -o "$work/mem/m" -f '%M %e' "$@" >/dev/null 2>&1 || true; cat "$work/mem/m" | tail -1; }
  tiled=(--set Tile=True --set WatermarkSize=5)
  read -r one_kb one_s < <(peak "$BIN/velda-batch" --settings "$work/velda.ini" -q --jobs 1 "${tiled[@]}" "$work/mem/one" "$work/mem/out")
  read -r two_kb two_s < <(peak "$BIN/velda-batch" --settings "$work/velda.ini" -q --jobs 2 "${tiled[@]}" --memory 1500 "$work/mem/two" "$work/mem/out")
  two_n=$(ls "$work/mem/out" | wc -l)
  read -r rows_kb rows_s < <(peak "$BIN/velda-batch" --settings "$work/velda.ini" -q --jobs 2 "$work/mem/two" "$work/mem/out")
  printf '200 MP tiled, alone:           %6.0f MiB %6.1f s\n' "$(echo "$one_kb / 1024" | bc -l)" "$one_s"
  printf 'two 200 MP tiled, --jobs 2, 1500 MiB: %5.0f MiB %6.1f s (%d written)\n' "$(echo "$two_kb / 1024" | bc -l)" "$two_s" "$two_n"
  printf 'peak two / one:                %6.2f (target <= 1.3)\n' "$(echo "$two_kb / $one_kb" | bc -l)"
  printf 'two 200 MP, usual marks, --jobs 2: %5.0f MiB %6.1f s (row by row)\n' "$(echo "$rows_kb / 1024" | bc -l)" "$rows_s"
  mkdir -p "$work/mem/fake"; cp tests/data/fuzz/gif/fake-15000x15000.gif "$work/mem/fake/"
  read -r fake_kb fake_s < <(peak "$BIN/velda-batch" --settings "$work/velda.ini" -q "$work/mem/fake" "$work/mem/out")
  printf '33 KB GIF declaring 15000x15000: %4.0f MiB %6.2f s (target: within 200 MB and 1 s)\n' "$(echo "$fake_kb / 1024" | bc -l)" "$fake_s"
  rm -rf "$work/mem"
fi
