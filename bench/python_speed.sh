#!/usr/bin/env bash
# The Python module on a 512x512x256 uint16 phantom held in memory (bench/make_phantom.py, kept
# under VOXWRAP_PHANTOM_DIR, default /tmp): voxwrap.hull against the command line on the same
# slices as uncompressed TIFF files, against scipy.spatial.ConvexHull on the voxel corners, and
# the peak memory of the hull of an h5py and a zarr dataset read slice by slice.
#   bench/python_speed.sh [WIDTHxHEIGHTxSLICES]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVOXWRAP_TESTS=OFF -DVOXWRAP_PYTHON=ON >/dev/null
cmake --build build-bench -j2 --target voxwrap _voxwrap >/dev/null
size=${1:-512x512x256}
stack=${VOXWRAP_PHANTOM_DIR:-/tmp}/voxwrap-phantom-$size
[ -d "$stack/raw" ] || /usr/bin/python3 bench/make_phantom.py "$stack" ${size//x/ } >/dev/null
PYTHONPATH=build-bench/python /usr/bin/python3 bench/python_speed.py build-bench/voxwrap "$stack/raw"
