#!/usr/bin/env bash
# Makes docs/invisible-flat.jpg: a flat sky of a 2048-pixel web result with
# and without the invisible mark at 100 %, and the difference between them
# amplified sixteen times, there and over the whole photo.
set -euo pipefail
cd "$(dirname "$0")/.."
BATCH=${BATCH:-build/bin/velda-batch}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"
cp /usr/share/backgrounds/sunset_by_Aitzol_Berasategi.jpg "$work/in/sunset.jpg"
printf '[MainVeldaDetails]\n' >"$work/velda.ini"
job=(-q --settings "$work/velda.ini" --resize long:2048 --format png)
"$BATCH" "${job[@]}" "$work/in" "$work/plain"
"$BATCH" "${job[@]}" --invisible 0xC0FFEE42 "$work/in" "$work/marked"
/usr/bin/python3 - "$work/plain/sunset.png" "$work/marked/sunset.png" docs/invisible-flat.jpg <<'PY'
import sys
from PIL import Image, ImageDraw
plain, marked = (Image.open(p).convert('RGB') for p in sys.argv[1:3])
def amplified(m, p):
    """(marked - unmarked) x 16 + 128, in luminance."""
    ml, pl = m.convert('L').load(), p.convert('L').load()
    out = Image.new('L', m.size)
    po = out.load()
    for y in range(m.height):
        for x in range(m.width):
            po[x, y] = max(0, min(255, 128 + 16 * (ml[x, y] - pl[x, y])))
    return out.convert('RGB')
box = (120, 60, 632, 444)
sky_m, sky_p = marked.crop(box), plain.crop(box)
quarter = (marked.width // 4, marked.height // 4)
whole = amplified(marked.resize(quarter, Image.BOX), plain.resize(quarter, Image.BOX))
sheet = Image.new('RGB', (1034, 818), (255, 255, 255))
sheet.paste(sky_m, (0, 20))
sheet.paste(sky_p, (522, 20))
sheet.paste(amplified(sky_m, sky_p), (0, 434))
sheet.paste(whole, (522, 434))
d = ImageDraw.Draw(sheet)
d.text((4, 4), 'marked, 100 % (flat sky)', fill=(0, 0, 0))
d.text((526, 4), 'unmarked, 100 %', fill=(0, 0, 0))
d.text((4, 414), '(marked - unmarked) x 16, the same sky', fill=(0, 0, 0))
d.text((526, 414), '(marked - unmarked) x 16, the whole photo at 1/4', fill=(0, 0, 0))
sheet.save(sys.argv[3], quality=90)
PY
