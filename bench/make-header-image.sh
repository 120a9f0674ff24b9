#!/usr/bin/env bash
# Makes the images the carve benchmark is measured on when a picture's first sector is everywhere:
# the first sector of an ImageMagick JPEG (or PNG) written into every sector of an image of SIZE_MIB
# (default 64), as a disk pre-filled from a template shows it. Every sector is then a file header;
# the carve must still take about the time of a plain scan and write at most twice the image.
#
#   bench/make-header-image.sh OUT.img [SIZE_MIB] [jpg|png]
#
# Then, with the image in the page cache and into an empty folder:
#   corvale-bench carve OUT.img            (the scan and the tree, nothing written)
#   corvale-bench carve OUT.img DIR        (and every file of the tree written to DIR)
#
# Needs ImageMagick (convert).
set -euo pipefail
out=${1:?usage: make-header-image.sh OUT.img [SIZE_MIB] [jpg|png]}
mib=${2:-64}
kind=${3:-jpg}
convert=$(command -v convert || true)
[ -n "$convert" ] || { echo "ImageMagick missing (package imagemagick)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$convert" -size 320x240 -seed 21 plasma:fractal -depth 8 -quality 90 "$work/picture.$kind"
head -c 512 "$work/picture.$kind" >"$work/sector"
: >"$out"
# A MiB of copies, then the MiB repeated.
for _ in $(seq 2048); do cat "$work/sector"; done >"$work/mib"
for _ in $(seq "$mib"); do cat "$work/mib"; done >>"$out"
