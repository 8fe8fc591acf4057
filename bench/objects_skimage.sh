#!/usr/bin/env bash
# voxwrap --objects labels --table against scikit-image's regionprops solidity on the same label
# stack (default 256x256x256 with 200 labels, made by make_labels.py and kept under
# VOXWRAP_PHANTOM_DIR, default /tmp): wall time of each, and how their solidities compare.
#   bench/objects_skimage.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVOXWRAP_TESTS=OFF -DVOXWRAP_BENCH=ON >/dev/null
cmake --build build-bench -j2 --target voxwrap >/dev/null
wanted=${VOXWRAP_LABELS:-256x256x256:200}
size=${wanted%%:*}
count=${wanted##*:}
stack=${VOXWRAP_PHANTOM_DIR:-/tmp}/voxwrap-labels-$size-$count
[ -d "$stack" ] || /usr/bin/python3 bench/make_labels.py "$stack" ${size//x/ } "$count" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat "$stack"/* >/dev/null  # warm the page cache
start=$(date +%s.%N)
build-bench/voxwrap --threads "${VOXWRAP_THREADS:-2}" --objects labels --table "$work/t.csv" \
  "$stack" - 1- "$work/all.stl"
end=$(date +%s.%N)
printf 'voxwrap --objects labels --table: %.2f s, %d labels\n' "$(echo "$end - $start" | bc -l)" \
  "$(($(wc -l <"$work/t.csv") - 1))"
/usr/bin/python3 bench/objects_skimage.py "$stack" "$work/t.csv"
