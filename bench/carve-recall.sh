#!/usr/bin/env bash
# Recall of a carving run: how many of the files put on an image (bench/make-carve-image.sh) come
# back byte for byte among the files a carver wrote (any names, any folders below CARVED), by the
# original's extension; and how many files and bytes the carver wrote in all.
#
#   bench/carve-recall.sh ORIGINALS CARVED
set -euo pipefail
originals=${1:?usage: carve-recall.sh ORIGINALS CARVED}
carved=${2:?usage: carve-recall.sh ORIGINALS CARVED}
python3 - "$originals" "$carved" <<'PY'
import collections, hashlib, os, sys
originals, carved = sys.argv[1:]

def digest(path):
    h = hashlib.sha256()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            h.update(block)
    return h.hexdigest()

found = set()
written = 0
written_bytes = 0
for folder, _, names in os.walk(carved):
    for name in names:
        path = os.path.join(folder, name)
        # A carver's own report beside the files it wrote is not a carved file.
        report = name.startswith(('report', 'photorec')) and name.endswith(('.log', '.xml'))
        if not os.path.isfile(path) or report:
            continue
        written += 1
        written_bytes += os.path.getsize(path)
        found.add(digest(path))

total = collections.Counter()
exact = collections.Counter()
for name in sorted(os.listdir(originals)):
    ext = name.rsplit('.', 1)[-1].lower()
    total[ext] += 1
    if digest(os.path.join(originals, name)) in found:
        exact[ext] += 1
for ext in sorted(total):
    print('%-5s %3d of %3d exact' % (ext, exact[ext], total[ext]))
print('all   %3d of %3d exact; %d files written, %d bytes' % (sum(exact.values()), sum(total.values()),
                                                            written, written_bytes))
PY
