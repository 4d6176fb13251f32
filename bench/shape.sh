#!/usr/bin/env bash
# The code's shape in numbers, for a tree given as the first argument
# (default: this one): source files over 600 lines; the lines that name a
# picture format (an identifier, a format code or an ending) outside the
# format table's rows, per file, and how many of them lie outside the
# codecs and the table.
set -euo pipefail
tree=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$tree/src"
echo "files over 600 lines:"
find . -name '*.cpp' -o -name '*.h' | xargs wc -l | awk '$2 != "total" && $1 > 600 {print "  " $2 " " $1}'
names='(FileKind|FormatId|OutputOption)::(Jpeg|Jpg|Bmp|Pcx|Png|Tiff?|Targa|Tga|Gif|PhotoCd|Fif|Webp)\b|kFormat(Jpeg|Bmp|Pcx|Png|Tiff|Targa|Gif|Webp)\b|kLeadFormatGif|Is(Gif|PhotoCd)Name|"[*]?[.]?(jpe?g|jpe|jfif|tiff?|png|webp|bmp|pcx|tga|vda|icb|vst|gif|pcd|fif)"|u"[.]?(jpe?g|tiff?|png|webp|bmp|pcx|tga|gif|pcd|fif)"|"(PCX|GIF|PCD|TGA|TIFF)"'
# A row of the table is a FormatInfo definition; its own lines do not count.
rows() { grep -lE '^const FormatInfo k[A-Za-z]+Format = ' -r . 2>/dev/null || true; }
count=0 outside=0
echo "lines naming a format, outside the table's rows:"
while IFS= read -r f; do
  n=$(awk -v re="$names" '
      /^const FormatInfo k[A-Za-z]+Format = / {inrow = 1}
      inrow && /^};/ {inrow = 0; next}
      !inrow && $0 ~ re && $0 !~ /^[[:space:]]*\/\// {c++}
      END {print c + 0}' IGNORECASE=1 "$f")
  if [ "$n" -gt 0 ]; then
    echo "  $f $n"
    count=$((count + n))
    # A codec naming its own format, and the table's own files (the old
    # sniffing and header switches among them), are where formats belong.
    [[ $f =~ imaging/([a-z]+_codec\.cpp|formats\.|format_rows\.h|header_probe\.cpp) ]] ||
      outside=$((outside + n))
  fi
done < <(find . -name '*.cpp' -o -name '*.h' | sort)
echo "  total $count; outside the codecs and the table: $outside"
