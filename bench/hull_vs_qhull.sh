#!/usr/bin/env bash
# Times chull3 (through voxwrap_bench) and Qhull's qconvex on the same point sets and prints both
# CPU times and their ratio. Qhull is only a yardstick: the program never uses it.
#   bench/hull_vs_qhull.sh [build-dir]   (default build-bench, configured with -DVOXWRAP_BENCH=ON)
# Besides the synthetic sets, the sampling points of the CT-like phantom of bench/make_phantom.py
# (the first hull's input) and their hull's corners (the second hull's input), for every size in
# VOXWRAP_PHANTOMS (default "512x512x256", empty for none). A stack is made once, as
# bench/pipeline.sh makes it, under VOXWRAP_PHANTOM_DIR (default /tmp) as voxwrap-phantom-WxHxN.
# VOXWRAP_HULL_SETS chooses among the synthetic sets (default all five: cube-100000 sphere-100000
# cube-1000000 sphere-1000000 ball-300).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-bench}
if ! command -v qconvex >/dev/null; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get install -y -qq qhull-bin
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVOXWRAP_BENCH=ON -DVOXWRAP_TESTS=OFF >/dev/null
cmake --build "$dir" -j2 --target voxwrap_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The point sets, in qhull's input format, from fixed seeds.
/usr/bin/python3 - "$work" <<'PY'
import sys, numpy as np
out = sys.argv[1]
def write(name, p):
    with open(f"{out}/{name}.txt", "w") as f:
        f.write(f"3\n{len(p)}\n")
        np.savetxt(f, p, fmt="%d")
rng = np.random.default_rng(2026)
for n in (100000, 1000000):
    write(f"cube-{n}", rng.integers(-1000000, 1000001, size=(n, 3)))
    g = rng.normal(size=(n, 3))
    g /= np.linalg.norm(g, axis=1)[:, None]
    write(f"sphere-{n}", np.rint(1e7 * g).astype(np.int64))
# Voxel-like: per plane of a digital ball, the corners of its convex polygon at z and z+1.
r = 300
pts = []
for z in range(-r, r + 1):
    row = []
    for y in range(-r, r + 1):
        s = r * r - y * y - z * z
        if s < 0:
            continue
        w = int(np.sqrt(s))
        for yy in (y, y + 1):
            row += [(-w, yy), (w + 1, yy)]
    row = sorted(set(row))
    def cross(o, a, b):
        return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0])
    lo, hi = [], []
    for q in row:
        while len(lo) >= 2 and cross(lo[-2], lo[-1], q) <= 0: lo.pop()
        lo.append(q)
    for q in reversed(row):
        while len(hi) >= 2 and cross(hi[-2], hi[-1], q) <= 0: hi.pop()
        hi.append(q)
    for (x, y) in lo[:-1] + hi[:-1]:
        pts += [(x, y, z), (x, y, z + 1)]
write("ball-300", np.array(pts))
PY

# chull3's median CPU seconds in benchmark $1 of voxwrap_bench, with the environment given after it.
median() {
  local filter=$1
  shift
  env "$@" "$dir/voxwrap_bench" --benchmark_filter="^$filter\$" --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
    awk -F, '/_median/ {print $4 / 1000}'
}

declare -A ours
sets=${VOXWRAP_HULL_SETS-cube-100000 sphere-100000 cube-1000000 sphere-1000000 ball-300}
for f in $sets; do
  ours[$f]=$(median BM_File VOXWRAP_POINTS="$work/$f.txt")
done
for size in ${VOXWRAP_PHANTOMS-512x512x256}; do
  stack=${VOXWRAP_PHANTOM_DIR:-/tmp}/voxwrap-phantom-$size
  [ -d "$stack/raw" ] || /usr/bin/python3 bench/make_phantom.py "$stack" ${size//x/ }
  ours[phantom-$size]=$(median BM_Slices VOXWRAP_SLICES="$stack/raw" \
                          VOXWRAP_SLICES_POINTS="$work/phantom-$size.txt")
  ours[corners-$size]=$(median BM_SliceCorners VOXWRAP_SLICES="$stack/raw" \
                          VOXWRAP_SLICES_POINTS="$work/corners-$size.txt")
  sets="$sets phantom-$size corners-$size"
done

printf '%-22s %9s %12s %12s %7s\n' "points" "n" "chull3 s" "qconvex s" "ratio"
for f in $sets; do
  file="$work/$f.txt"
  n=$(sed -n 2p "$file")
  # qconvex's own figure for the hull after input, best of three.
  theirs=$(for k in 1 2 3; do qconvex s < "$file" 2>&1 |
             sed -n 's/.*CPU seconds to compute hull (after input): *\([0-9.e+-]*\).*/\1/p'; done |
           sort -g | head -1)
  ratio=$(awk -v a="${ours[$f]}" -v b="$theirs" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
  printf '%-22s %9s %12s %12s %7s\n' "$f" "$n" "${ours[$f]}" "$theirs" "$ratio"
done
