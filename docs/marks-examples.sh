#!/usr/bin/env bash
# Makes docs/marks-examples.jpg: one small result for each key of [Marks],
# with velda-batch on photos of the corpus (../shared/corpus/make-corpus.sh).
# Usage: bash docs/marks-examples.sh CORPUS_DIR
set -euo pipefail
corpus=${1:?corpus folder}
bin=$(cd "$(dirname "$0")/.." && pwd)/build/bin/velda-batch
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"
cp "$corpus/jpg/01-Bridge.jpg" "$work/in/landscape.jpg"
cp "$corpus/jpg/04-Wine.jpg" "$work/in/portrait.jpg"
printf "[MainVeldaDetails]\n" >"$work/velda.ini"
common=(--settings "$work/velda.ini" -q --set "WaterMarkFile=$corpus/watermark.png"
        --set MixValue=200 --set tfont=DejaVu\ Sans --set Textclr=FFFFFF)
n=0
example() {  # caption, file, options...
    local caption=$1 file=$2
    shift 2
    n=$((n + 1))
    mkdir -p "$work/$n"
    "$bin" "${common[@]}" "$@" "$work/in" "$work/$n" "$file.jpg"
    convert "$work/$n/$file.jpg" -resize 360x360 "$work/$n.png"
    labels+=(-label "$caption" "$work/$n.png")
}
labels=()
example "WatermarkSize=20 short, Anchor=BR" landscape --set WatermarkSize=20 \
    --set WatermarkSizeOf=short --set Anchor=BR --set MarginX=3% --set MarginY=3%
example "the same on a portrait photo" portrait --set WatermarkSize=20 \
    --set WatermarkSizeOf=short --set Anchor=BR --set MarginX=3% --set MarginY=3%
example "Tile, TileGap=50, TileAngle=30" portrait --set WatermarkSize=12 --set Tile=True \
    --set TileAngle=30 --set MixValue=90
example "TextSize=8, TextAnchor=B, TextOutline=3" landscape --set Text="(c) 2026 Velda Studio" \
    --set TextSize=8 --set TextAnchor=B --set TextMarginY=4% --set TextOutline=3 --set WaterMarkFile=
example "TextShadow, TextAutoTone (black on sand)" landscape --set Text="(c) 2026 Velda Studio" \
    --set TextSize=8 --set TextAnchor=BL --set TextMarginX=3% --set TextMarginY=3% \
    --set TextShadow=True --set TextAutoTone=True --set WaterMarkFile=
example "Text={name}, {year}" portrait --set Text="{name}, {year}" \
    --set TextSize=6 --set TextAnchor=TL --set TextMarginX=3% --set TextMarginY=2% \
    --set TextAutoTone=True --set TextShadow=True --set WaterMarkFile=
montage "${labels[@]}" -tile 3x -geometry +6+6 -font DejaVu-Sans -pointsize 14 -background '#eeeeee' \
    -quality 82 "$(dirname "$0")/marks-examples.jpg"
