#!/usr/bin/env bash
# Makes the image Format Recovery's scan is measured on: a whole NTFS volume of SIZE_MIB (default
# 2048, sparse where nothing was written) filled through ntfs-3g with FOLDERS folders (default 100)
# of files of every size class (notes kept in their records, a few clusters, a few hundred KiB,
# pictures made by ffmpeg), then quick-formatted again with mkntfs -Q, as a volume formatted by
# mistake is.
#
#   bench/make-format-image.sh OUT.img [SIZE_MIB] [FOLDERS]
#
# Then, side by side:
#   corvale-bench scan OUT.img
#   corvale-bench scan-wizard OUT.img
#
# Needs root (FUSE mount), mkntfs, ntfs-3g, ffmpeg and openssl.
set -euo pipefail
out=${1:?usage: make-format-image.sh OUT.img [SIZE_MIB] [FOLDERS]}
size=${2:-2048}
folders=${3:-100}
for tool in mkntfs ntfs-3g ffmpeg openssl mountpoint; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "needs root to mount the image through FUSE"; exit 77; }

mnt=$(mktemp -d)
work=$(mktemp -d)
cleanup() {
  if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt" || true; fi
  rmdir "$mnt" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

bytes() {  # count seed
  head -c "$1" /dev/zero | openssl enc -aes-128-ctr -nosalt -K "$(printf '%032x' "$2")" -iv 0 2>/dev/null
}
ffmpeg -loglevel error -y -f lavfi -i "mandelbrot=size=1024x768" -frames:v 1 -q:v 2 "$work/a.jpg"
ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=800x600" -frames:v 1 "$work/b.png"
ffmpeg -loglevel error -y -f lavfi -i "smptebars=size=640x480" -frames:v 1 -pix_fmt bgr24 "$work/c.bmp"

rm -f "$out"
truncate -s "${size}M" "$out"
mkntfs -F -Q -q -s 512 -c 4096 -L Measured "$out" >/dev/null 2>&1
ntfs-3g -o no_def_opts "$out" "$mnt" || { echo "ntfs-3g could not mount the image (FUSE)"; exit 77; }
for f in $(seq 1 "$folders"); do
  d=$mnt/folder$f
  mkdir "$d" "$d/notes"
  for i in $(seq 1 100); do printf 'folder %s note %s\n' "$f" "$i" >"$d/notes/note$i.txt"; done
  for i in $(seq 1 20); do bytes $((5000 + i * 1000)) $((f * 1000 + i)) >"$d/small$i.bin"; done
  for i in 1 2 3 4; do bytes $((200000 * i)) $((f * 1000 + 100 + i)) >"$d/large$i.bin"; done
  cp "$work/a.jpg" "$d/picture.jpg"
  cp "$work/b.png" "$d/chart.png"
  cp "$work/c.bmp" "$d/bars.bmp"
done
sync
umount "$mnt"
mkntfs -F -Q -q -s 512 -c 4096 -L Again "$out" >/dev/null 2>&1
echo "made $out: ${size} MiB, $folders folders, formatted again"
