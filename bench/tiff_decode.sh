#!/usr/bin/env bash
# Decode throughput of the TIFF reader on 2048 x 2048 16-bit slices: uncompressed, LZW with
# Predictor 2 and PackBits (tiffcp), beside `cat` of the same files to /dev/null as the floor.
#   bench/tiff_decode.sh [build-dir]   (default build-bench; slices in $VOXWRAP_BENCH_DATA,
#                                       default /tmp/voxwrap-bench)
# Throughput is MB (10^6 bytes) of decoded 16-bit samples per second: 8.39 MB per slice.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
export VOXWRAP_BENCH_DATA=${VOXWRAP_BENCH_DATA:-/tmp/voxwrap-bench}
mkdir -p "$VOXWRAP_BENCH_DATA"

if [ ! -f "$VOXWRAP_BENCH_DATA/slice_packbits.tif" ]; then
  # A CT-like slice: a disc of smooth 12-bit tissue values with noise on a dark background.
  /usr/bin/python3 - "$VOXWRAP_BENCH_DATA/slice_src.tif" <<'PY'
import sys
import numpy as np
import tifffile
n = 2048
rng = np.random.default_rng(7)
y, x = np.mgrid[0:n, 0:n].astype(np.float32)
r = np.hypot(x - n / 2, y - n / 2)
v = np.where(r < n * 0.45, 1000 + 600 * np.sin(x / 97) * np.cos(y / 131), 20)
v = v + rng.normal(0, 12, (n, n))
tifffile.imwrite(sys.argv[1], np.clip(v, 0, 4095).astype(np.uint16), photometric='minisblack')
PY
  tiffcp -c none -r 16 "$VOXWRAP_BENCH_DATA/slice_src.tif" "$VOXWRAP_BENCH_DATA/slice_none.tif"
  tiffcp -c lzw:2 -r 16 "$VOXWRAP_BENCH_DATA/slice_src.tif" "$VOXWRAP_BENCH_DATA/slice_lzw2.tif"
  tiffcp -c packbits -r 16 "$VOXWRAP_BENCH_DATA/slice_src.tif" "$VOXWRAP_BENCH_DATA/slice_packbits.tif"
fi
ls -l "$VOXWRAP_BENCH_DATA"/slice_{none,lzw2,packbits}.tif

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVOXWRAP_BENCH=ON -DVOXWRAP_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target voxwrap_bench >/dev/null
"$build/voxwrap_bench" --benchmark_filter='Decode|Header' --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_out="$VOXWRAP_BENCH_DATA/decode.json" \
  --benchmark_out_format=json >/dev/null
/usr/bin/python3 - "$VOXWRAP_BENCH_DATA/decode.json" <<'PY'
import json, sys
for b in json.load(open(sys.argv[1]))['benchmarks']:
    if b.get('aggregate_name') != 'median':
        continue
    unit = {'ms': 1e-3, 'us': 1e-6, 'ns': 1e-9}[b['time_unit']]
    real = b['real_time'] * unit
    name = b['run_name']
    if 'Header' in name:
        print(f'{name}: {real * 1e6:.1f} us per header-only call')
    else:
        # bytes_per_second sums the threads of a multi-threaded run.
        print(f'{name}: {real * 1e3:.2f} ms wall, {b["bytes_per_second"] / 1e6:.0f} MB of '
              f'samples/s')
PY

# The floor: reading the same bytes from the page cache with cat.
for f in none lzw2 packbits; do
  hyperfine -N --warmup 3 --runs 20 --export-json "$VOXWRAP_BENCH_DATA/cat_$f.json" \
    "cat $VOXWRAP_BENCH_DATA/slice_$f.tif" >/dev/null 2>&1 ||
    hyperfine --warmup 3 --runs 20 --export-json "$VOXWRAP_BENCH_DATA/cat_$f.json" \
      "cat $VOXWRAP_BENCH_DATA/slice_$f.tif > /dev/null" >/dev/null
  /usr/bin/python3 - "$VOXWRAP_BENCH_DATA/cat_$f.json" "$f" <<'PY'
import json, sys
t = json.load(open(sys.argv[1]))['results'][0]['median']
print(f'cat slice_{sys.argv[2]}.tif: {t * 1e3:.2f} ms, {2048 * 2048 * 2 / t / 1e6:.0f} MB of samples/s')
PY
done
