#!/usr/bin/env bash
# The float32 path against the 16-bit one, measured in one run: the 512 x 512 x 256 CT-like
# phantom of make_phantom.py (16-bit, uncompressed) and the same samples converted to 32-bit
# floats, each timed as `cat` of every slice to /dev/null (page cache warm) and as the whole run
# of voxwrap (800-65535 on the 16-bit stack, 800: on the float one), with the ratio of the two.
# The float stack (kept beside the phantom, in its directory's name and -float32) has its own
# files. The float stack's ratio over the 16-bit stack's is the last line; both runs must write the same
# STL bytes.
#   bench/float_throughput.sh [voxwrap-binary]   (default build-bench/voxwrap, built when missing)
# Environment: VOXWRAP_PHANTOM_DIR (default /tmp), VOXWRAP_REPEAT (default 5),
#              VOXWRAP_THREADS (default: voxwrap's own choice)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
bench_binary "${1:-}"
repeat=${VOXWRAP_REPEAT:-5}
stack=${VOXWRAP_PHANTOM_DIR:-/tmp}/voxwrap-phantom-512x512x256
[ -d "$stack/lzw" ] || /usr/bin/python3 bench/make_phantom.py "$stack" 512 512 256 >/dev/null
if [ ! -d "$stack-float32" ]; then
  mkdir -p "$stack-float32"
  /usr/bin/python3 - "$stack/raw" "$stack-float32" <<'PY'
import os, sys
import numpy as np
import tifffile
src, dst = sys.argv[1:3]
for name in sorted(os.listdir(src)):
    a = tifffile.imread(os.path.join(src, name)).astype(np.float32)
    tifffile.imwrite(os.path.join(dst, name), a, photometric="minisblack")
PY
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
opt=()
[ -z "${VOXWRAP_THREADS:-}" ] || opt=(--threads "$VOXWRAP_THREADS")


printf '%-8s %-10s %8s %8s %7s\n' stack range cat_s run_s ratio
declare -A ratio
for kind in raw float32; do
  dir=$stack/raw
  range=800-65535
  [ "$kind" = raw ] || dir=$stack-float32
  [ "$kind" = raw ] || range=800:
  catall "$dir"
  floor=$(fastest catall "$dir")
  secs=$(fastest "$bin" "${opt[@]}" "$dir" - "$range" "$work/$kind.stl")
  ratio[$kind]=$(echo "$secs / $floor" | bc -l)
  printf '%-8s %-10s %8s %8s %7.2f\n' "$kind" "$range" "$floor" "$secs" "${ratio[$kind]}"
done
cmp -s "$work/raw.stl" "$work/float32.stl" || echo "  !! the float stack's STL differs"
printf 'float32 ratio / 16-bit ratio: %.2f (at most 1.3 wanted)\n' \
  "$(echo "${ratio[float32]} / ${ratio[raw]}" | bc -l)"
