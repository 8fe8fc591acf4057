#!/usr/bin/env bash
# Times whole conversions of a large CT-like stack (512 x 512 x 256 16-bit by default),
# uncompressed and LZW, with throughput, peak memory and the share of every stage.
# usage: bench/pipeline.sh [WIDTH HEIGHT SLICES]
set -euo pipefail
cd "$(dirname "$0")/.."
for p in python3-numpy python3-tifffile libtiff-tools time libbenchmark-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p"; }
done
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVOXWRAP_BENCH=ON -DVOXWRAP_TESTS=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
stack=${VOXWRAP_STACK:-/tmp/voxwrap-phantom-${1:-512}x${2:-512}x${3:-256}}
[ -d "$stack/lzw" ] || /usr/bin/python3 bench/make_phantom.py "$stack" "$@"
for kind in raw lzw; do
  bytes=$(du -sb "$stack/$kind" | cut -f1)
  samples=$(/usr/bin/python3 -c "import sys; print(${1:-512}*${2:-512}*${3:-256}*2)")
  cat "$stack/$kind"/* >/dev/null  # warm the page cache
  /usr/bin/time -f "%e %M" -o /tmp/voxwrap-time ./build-bench/voxwrap "$stack/$kind" - 800-65535 /tmp/voxwrap-bench.stl
  read -r secs kb </tmp/voxwrap-time
  echo "$kind: $(( bytes / 1000000 )) MB of files, ${secs} s, $(/usr/bin/python3 -c "print(round($samples/1e6/$secs))") MB/s of samples, peak ${kb} KB, $(stat -c %s /tmp/voxwrap-bench.stl) STL bytes"
  VOXWRAP_BENCH_STACK="$stack/$kind" ./build-bench/voxwrap_bench --benchmark_filter=Pipeline
done
