#!/usr/bin/env bash
# Peak memory and time of runs whose cost must follow what is decoded, not what a header claims:
#   lying    10 sound 512 x 512 slices, then a 1.2 KB Zstd slice whose header claims 16384 x 16000
#            1-bit samples and whose data are corrupt ("Zstd data corrupt."), on 2 threads: the
#            common size becomes 16384 x 16000, but no slice may cost a grid of it;
#   genuine  the same slice with its data intact after the sound ones (16384 x 16000, all 0);
#   stack    one stack file of 32 pages of 2048 x 2048 16-bit Deflate, on 1, 2, 8 threads: each
#            worker holds one strip, not one slice.
# Peak resident memory from /usr/bin/time -v.
#   bench/memory.sh [voxwrap-binary]      (default build-bench/voxwrap, built when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
bench_binary "${1:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" <<'PY'
import sys, numpy as np, tifffile
work = sys.argv[1]
import os
for name in ("lying", "genuine"):
    os.makedirs(f"{work}/{name}")
    yy, xx = np.mgrid[0:512, 0:512]
    for k in range(10):
        disc = ((xx - 256) ** 2 + (yy - 256) ** 2 < (100 + 10 * k) ** 2).astype(np.uint16) * 2000
        tifffile.imwrite(f"{work}/{name}/s{k:02d}.tif", disc, photometric="minisblack")
# The large 1-bit slice, uncompressed in one strip: tiffcp compresses it below.
tifffile.imwrite(f"{work}/bits.tif", np.zeros((16000, 16384), dtype=bool),
                 photometric="minisblack", rowsperstrip=16000)
# 32 pages of 2048 x 2048 16-bit samples: a disc that grows page by page over noise below the
# range; tiffcp compresses them below.
rng = np.random.default_rng(1)
yy, xx = np.mgrid[0:2048, 0:2048]
with tifffile.TiffWriter(f"{work}/stack_raw.tif") as tif:
    for k in range(32):
        page = rng.integers(0, 500, (2048, 2048), dtype=np.uint16)
        page[(xx - 1024) ** 2 + (yy - 1024) ** 2 < (400 + 10 * k) ** 2] = 2000
        tif.write(page, photometric="minisblack", rowsperstrip=64)
PY
tiffcp -c zstd -r 16000 "$work/bits.tif" "$work/genuine/s10.tif"
tiffcp -c zip "$work/stack_raw.tif" "$work/stack.tif"
rm "$work/bits.tif" "$work/stack_raw.tif"
# The lying slice: the genuine one with 200 bytes in the middle of its Zstd frame (the strip starts
# at byte 8, the directory follows it) replaced by 0xFF, so decompression fails part way.
/usr/bin/python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
data = bytearray(open(f"{work}/genuine/s10.tif", "rb").read())
data[300:500] = b"\xff" * 200
open(f"{work}/lying/s10.tif", "wb").write(data)
PY

printf '%-8s %-7s %8s %9s  %s\n' case threads secs peak_MB status
run() {  # name threads args...
  local name=$1 t=$2
  shift 2
  local t0 t1 status=0
  t0=$(date +%s.%N)
  /usr/bin/time -v -o "$work/time" "$bin" --threads "$t" "$@" "$work/out.stl" \
    >/dev/null 2>"$work/err" || status=$?
  t1=$(date +%s.%N)
  local kb
  kb=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time")
  printf '%-8s %-7s %8.2f %9.1f  %s %s\n' "$name" "$t" "$(echo "$t1 - $t0" | bc -l)" \
    "$(echo "$kb / 1024" | bc -l)" "$status" "$(grep -v '^Command' "$work/err" | tail -1)"
}
run lying 2 "$work/lying" - 1000-4095
run genuine 2 "$work/genuine" - 1000-4095
for t in 1 2 8; do
  run stack "$t" "$work/stack.tif" - 1000-4095
done
