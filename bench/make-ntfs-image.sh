#!/usr/bin/env bash
# Makes the NTFS image the ntfs-tree and recover benchmarks are measured on: mkntfs, then through
# ntfs-3g FILES files (default 50,000) in folders of 500, of sizes from a few bytes (kept in the
# record) to 64 KiB, random content; then every fifth file deleted through the mount (10,000 by
# default). Nothing is written after the deletions, so the deleted files' clusters are not reused.
#
#   bench/make-ntfs-image.sh OUT.img [FILES] [SIZE_MIB] [LARGEST]
#
# LARGEST (default 65536) caps the file sizes; a few hundred bytes keeps every file in its record,
# which makes a large MFT quickly (for the build's records per second).
#
# Needs root (FUSE mount), mkntfs, ntfs-3g and python3.
#
# Side by side with The Sleuth Kit, on the image in the page cache and into empty folders of the same
# file system:
#   corvale-bench ntfs-tree OUT.img
#   corvale-bench recover OUT.img DIR1 --deleted-only
#   tsk_recover OUT.img DIR2            (its default: the unallocated, i.e. deleted, files)
set -euo pipefail
out=${1:?usage: make-ntfs-image.sh OUT.img [FILES] [SIZE_MIB]}
files=${2:-50000}
size=${3:-2048}
largest=${4:-65536}
for tool in mkntfs ntfs-3g python3 mountpoint; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "needs root to mount the image through FUSE"; exit 77; }

mnt=$(mktemp -d)
cleanup() {
  if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt" || true; fi
  rmdir "$mnt" 2>/dev/null || true
}
trap cleanup EXIT

rm -f "$out"
truncate -s "${size}M" "$out"
mkntfs -F -Q -s 512 -c 4096 -L CorvaleBench "$out" >/dev/null
ntfs-3g -o no_def_opts,big_writes "$out" "$mnt"

python3 - "$mnt" "$files" "$largest" <<'EOF'
import os, random, sys
root, count, largest = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(20261210)
per_folder = 500
for i in range(count):
    folder = os.path.join(root, "folder_%03d" % (i // per_folder))
    if i % per_folder == 0:
        os.mkdir(folder)
    # A fifth of the files small enough to stay in their records.
    size = rng.randint(1, min(600, largest)) if i % 5 == 1 else rng.randint(min(1024, largest), largest)
    with open(os.path.join(folder, "file_%06d.bin" % i), "wb") as f:
        f.write(rng.randbytes(size))
EOF
sync
umount "$mnt"

ntfs-3g -o no_def_opts "$out" "$mnt"
python3 - "$mnt" "$files" <<'EOF'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(0, count, 5):
    os.remove(os.path.join(root, "folder_%03d" % (i // 500), "file_%06d.bin" % i))
EOF
sync
umount "$mnt"
echo "$out: $files files, $(( (files + 4) / 5 )) of them deleted"
