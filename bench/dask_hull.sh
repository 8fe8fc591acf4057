#!/usr/bin/env bash
# voxwrap.dask.hull on a LocalCluster of 2 worker processes (127.0.0.1) against voxwrap.hull in
# one process, over the same Zarr volume; the chunk and reduce costs and the bytes moved
# (dask_hull.py says what each line measures).
#   bench/dask_hull.sh
# Environment:
#   VOXWRAP_ZARR   size and chunk WxHxN:C (default 1024x1024x1000:256); the volume is made once
#                  under VOXWRAP_PHANTOM_DIR (default /tmp) and kept: the default one takes about
#                  1.5 GB, remove it by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVOXWRAP_TESTS=OFF -DVOXWRAP_PYTHON=ON >/dev/null
cmake --build build-bench -j2 --target _voxwrap >/dev/null
wanted=${VOXWRAP_ZARR:-1024x1024x1000:256}
size=${wanted%%:*}
chunk=${wanted##*:}
store=${VOXWRAP_PHANTOM_DIR:-/tmp}/voxwrap-zarr-$size-$chunk
# The worker processes inherit the path to the built package.
PYTHONPATH=$PWD/build-bench/python /usr/bin/python3 bench/dask_hull.py "$store" ${size//x/ } "$chunk"
