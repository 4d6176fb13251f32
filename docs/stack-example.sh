#!/usr/bin/env bash
# Makes docs/stack-example.jpg: one photo of the corpus with a stack of
# four marks (a vector logo, a signature, a faint tiled pattern and a
# caption on a box), and docs/stack-example.ini, the settings that made it.
# Usage: bash docs/stack-example.sh CORPUS_DIR
set -euo pipefail
corpus=${1:?corpus folder}
docs=$(cd "$(dirname "$0")" && pwd)
bin=$docs/../build/bin/velda-batch
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out"
cp "$corpus/jpg/01-Bridge.jpg" "$work/in/bridge.jpg"
cat >"$work/logo.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="120" height="120" viewBox="0 0 120 120">
  <circle cx="60" cy="60" r="56" fill="none" stroke="#FFFFFF" stroke-width="8"/>
  <path d="M30 34 L60 92 L90 34" fill="none" stroke="#FFFFFF" stroke-width="12"
        stroke-linejoin="round" stroke-linecap="round"/>
</svg>
SVG
cat >"$work/velda.ini" <<INI
[MainVeldaDetails]
Text=
[Mark2]
File=$corpus/watermark.png
Size=8
Tile=True
TileAngle=30
TileGap=100
Opacity=12
Blend=Screen
[Mark3]
File=logo.svg
Size=7
Anchor=TR
MarginX=3%
MarginY=3%
Opacity=85
[Mark4]
Kind=Text
Text=Ann Author
Font=DejaVu Serif
Size=5
Anchor=BR
MarginX=3%
MarginY=3%
Rotate=8
Shadow=True
[Mark5]
Kind=Text
Text={name}, {year}\nAll rights reserved
Font=DejaVu Sans
Colour=#FFE9A8
Size=2.6
Align=Centre
Anchor=BL
MarginX=3%
MarginY=3%
Box=#000000
BoxOpacity=55
BoxPadding=12
INI
(cd "$work" && "$bin" --settings velda.ini -q --quality 90 in out bridge.jpg)
convert "$work/out/bridge.jpg" -resize 1200x "$docs/stack-example.jpg"
sed -e "s|$corpus|CORPUS|" "$work/velda.ini" >"$docs/stack-example.ini"
