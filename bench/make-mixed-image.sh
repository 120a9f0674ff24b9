#!/usr/bin/env bash
# Makes an image for the carve benchmarks that looks like a used disk: the files of the given
# folders laid out from sector boundaries, over and over, with pseudo-random data and runs of zeros
# between them, until the image holds SIZE_MIB.
#
#   bench/make-mixed-image.sh OUT.img SIZE_MIB DIR...
#
# The test fixtures make good folders (after a test run, in build/test/fixtures/): raw_pictures/
# pictures, raw_archives/archives, raw_documents/documents, raw_scripts/files. Then:
#   corvale-bench carve-compare OUT.img --scripts SCRIPTDIR --without documents
set -euo pipefail
out=${1:?usage: make-mixed-image.sh OUT.img SIZE_MIB DIR...}
mib=${2:?usage: make-mixed-image.sh OUT.img SIZE_MIB DIR...}
shift 2
python3 - "$out" "$mib" "$@" <<'PY'
import os, random, sys
out, mib, dirs = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
files = []
for d in dirs:
    for name in sorted(os.listdir(d)):
        path = os.path.join(d, name)
        if os.path.isfile(path):
            files.append(open(path, 'rb').read())
if not files:
    sys.exit('no files in ' + ' '.join(dirs))
rng = random.Random(27)
noise = rng.randbytes(8 << 20)
total = mib << 20
with open(out, 'wb') as img:
    at = 0
    while at < total:
        f = files[rng.randrange(len(files))]
        pad = (-len(f)) % 512
        chunk = f + noise[:pad]
        gap = rng.randrange(0, 256) * 512
        start = rng.randrange(0, len(noise) - gap)
        filler = bytes(gap) if rng.random() < 0.3 else noise[start:start + gap]
        piece = (chunk + filler)[:total - at]
        img.write(piece)
        at += len(piece)
PY
