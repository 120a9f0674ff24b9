#!/usr/bin/env bash
# Makes the image carving is measured on against other carvers: a FAT32 volume of SIZE_MIB (default
# 2048) holding photos, pictures, sound, video, office documents, PDFs and archives written by
# their tools, every file different, with pseudo-random filler files between them up to about nine
# tenths of the volume; then its boot sector, FATs and root folder are zeroed, so that only carving
# finds the files again. A fresh FAT keeps each file in one run of clusters.
#
#   bench/make-carve-image.sh OUT.img [SIZE_MIB]
#
# Beside the image, OUT.img.files/ holds every file put on it. Then, for example:
#   corvale-bench carve OUT.img CARVED
#   bench/carve-recall.sh OUT.img.files CARVED      (files found byte for byte, by type)
#
# Needs ffmpeg, ghostscript, LibreOffice (soffice), zip, mkfs.fat, mtools, python3 and openssl.
set -euo pipefail
out=${1:?usage: make-carve-image.sh OUT.img [SIZE_MIB]}
size=${2:-2048}
soffice=$(command -v soffice || command -v libreoffice || true)
[ -n "$soffice" ] || { echo "soffice is not installed"; exit 77; }
for tool in ffmpeg gs zip mkfs.fat mcopy python3 openssl; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed"; exit 77; }
done

files=$out.files
rm -rf "$files"
mkdir -p "$files"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC

bytes() {  # count seed
  head -c "$1" /dev/zero | openssl enc -aes-128-ctr -nosalt -K "$(printf '%032x' "$2")" -iv 0 2>/dev/null
}
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }

# Photos and pictures: noisy gradients, so that they compress like photographs.
for i in $(seq 1 60); do
  w=$((1024 + (i % 5) * 256)); h=$((768 + (i % 3) * 192))
  ff -f lavfi -i "gradients=size=${w}x${h}:seed=$i" -vf "noise=alls=$((8 + i % 20)):allf=u" \
    -frames:v 1 -q:v $((2 + i % 4)) "$files/photo$i.jpg"
done
for i in $(seq 1 20); do
  ff -f lavfi -i "testsrc2=size=$((320 + i * 16))x$((240 + i * 12))" -vf "noise=alls=6:allf=u" \
    -frames:v 1 "$files/chart$i.png"
done

# Sound: MP3 with and without a closing tag, WAV and Ogg Vorbis, a tone with noise in each.
for i in $(seq 1 30); do
  d=$((10 + i % 40)); tag=$((i % 2))
  ff -f lavfi -i "sine=frequency=$((200 + i * 37)):duration=$d" -f lavfi -i "anoisesrc=a=0.05:d=$d:seed=$i" \
    -filter_complex amix=inputs=2 -c:a libmp3lame -b:a 128k -id3v2_version 3 -write_id3v1 $tag \
    -metadata title="Track $i" "$files/track$i.mp3"
done
for i in $(seq 1 8); do
  ff -f lavfi -i "sine=frequency=$((300 + i * 50)):duration=$((5 + i))" "$files/sound$i.wav"
  ff -f lavfi -i "sine=frequency=$((250 + i * 40)):duration=$((10 + i))" -c:a libvorbis "$files/sound$i.ogg"
done

# Video.
for i in $(seq 1 8); do
  ff -f lavfi -i "testsrc2=size=640x480:rate=25:duration=$((4 + i))" -f lavfi -i "sine=frequency=$((400 + i)):duration=$((4 + i))" \
    -vf "noise=alls=4:allf=t" -c:v mpeg4 -q:v 4 -c:a aac "$files/clip$i.mp4"
done
for i in $(seq 1 4); do
  ff -f lavfi -i "testsrc=size=480x360:rate=25:duration=$((3 + i))" -f lavfi -i "sine=frequency=$((500 + i)):duration=$((3 + i))" \
    -c:v mpeg4 -q:v 5 -c:a pcm_s16le "$files/clip$i.avi"
  ff -f lavfi -i "testsrc=size=480x360:rate=25:duration=$((3 + i))" -c:v mpeg4 -q:v 5 -f mov "$files/clip$i.mov"
done

# Office documents: LibreOffice's flat XML sources, each converted to every format in one run.
para() { for k in $(seq 1 "$1"); do printf '<text:p>Paragraph %d of report %d, with words enough to fill a line or two of the page.</text:p>' "$k" "$2"; done; }
rows() { for k in $(seq 1 "$1"); do printf '<table:table-row><table:table-cell office:value-type="float" office:value="%d"><text:p>%d</text:p></table:table-cell><table:table-cell office:value-type="string"><text:p>row %d of %d</text:p></table:table-cell></table:table-row>' "$((k * $2))" "$((k * $2))" "$k" "$2"; done; }
mkdir -p "$work/text" "$work/sheet" "$work/conv"
for i in $(seq 1 10); do
  cat > "$work/text/report$i.fodt" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>$(para $((100 + i * 40)) "$i")</office:text></office:body></office:document>
EOF
  cat > "$work/sheet/table$i.fods" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:body><office:spreadsheet><table:table table:name="Sheet1">$(rows $((200 + i * 50)) "$i")</table:table></office:spreadsheet></office:body></office:document>
EOF
done
convert_all() {  # folder filter extension
  rm -rf "$work/conv"/*
  HOME=$work timeout 600 "$soffice" -env:UserInstallation="file://$work/profile" --headless --norestore \
    --convert-to "$2" --outdir "$work/conv" "$1"/* >/dev/null 2>&1
  for made in "$work/conv"/*; do mv "$made" "$files/$(basename "${made%.*}").$3"; done
}
convert_all "$work/text" "docx:MS Word 2007 XML" docx
convert_all "$work/text" "doc:MS Word 97" doc
convert_all "$work/text" "pdf:writer_pdf_Export" pdf
convert_all "$work/sheet" "xlsx:Calc MS Excel 2007 XML" xlsx
convert_all "$work/sheet" "xls:MS Excel 97" xls

# PDFs from PostScript.
for i in $(seq 1 10); do
  printf '%%!PS\n/Helvetica findfont 12 scalefont setfont\n1 1 %d { /p exch def 72 720 moveto (Page ) show p 4 string cvs show 72 700 moveto (Document %d) show showpage } for\n' \
    $((1 + i)) "$i" > "$work/doc$i.ps"
  gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile="$files/printed$i.pdf" "$work/doc$i.ps"
done

# Archives of text and pictures.
for i in $(seq 1 8); do
  mkdir -p "$work/zip$i"
  for k in $(seq 1 20); do seq $((k * i)) $((k * i + 3000)) > "$work/zip$i/list$k.txt"; done
  cp "$files/photo$i.jpg" "$work/zip$i/"
  (cd "$work/zip$i" && zip -q -r "$files/bundle$i.zip" .)
done

# The volume: the files in a fixed shuffled order, a filler file after every few of them.
img=$out
rm -f "$img"
truncate -s "${size}M" "$img"
mkfs.fat -F 32 -s 8 -n CARVE "$img" >/dev/null
mapfile -t order < <(cd "$files" && ls | python3 -c 'import random, sys; n = sys.stdin.read().split(); random.Random(5).shuffle(n); print("\n".join(n))')
total=$(du -sb "$files" | cut -f1)
fillers=$(( (${#order[@]} + 4) / 5 ))
filler=$(( (size * 1024 * 1024 * 9 / 10 - total) / fillers ))
[ "$filler" -gt 0 ] || filler=0
n=0
for name in "${order[@]}"; do
  mcopy -i "$img" "$files/$name" "::/$name"
  n=$((n + 1))
  if [ $((n % 5)) = 0 ] && [ "$filler" -gt 0 ]; then
    bytes "$filler" "$n" > "$work/filler.bin"
    mcopy -i "$img" "$work/filler.bin" "::/filler$n.bin"
  fi
done

# Zero the boot sector, the reserved sectors, both FATs and the root folder's first cluster.
python3 - "$img" <<'PY'
import struct, sys
with open(sys.argv[1], 'r+b') as f:
    boot = f.read(512)
    bps, = struct.unpack_from('<H', boot, 11)
    spc = boot[13]
    reserved, = struct.unpack_from('<H', boot, 14)
    fats = boot[16]
    per_fat, = struct.unpack_from('<I', boot, 36)
    root, = struct.unpack_from('<I', boot, 44)
    data = (reserved + fats * per_fat) * bps
    f.seek(0)
    f.write(bytes(data))
    f.seek(data + (root - 2) * spc * bps)
    f.write(bytes(spc * bps))
PY
echo "made $img: ${size} MiB, ${#order[@]} files ($total bytes) in $files"
