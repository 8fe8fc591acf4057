#!/usr/bin/env bash
# Every object of a label stack in one pass against one object of the whole, measured in one run:
# the program's run of the range list 1- (the whole conversion, STL written), the program's runs
# of --objects labels and --objects components (26) with --table (every mesh in one STL), the same
# sampling and hull in the benchmark program (BM_OneObject), then every label (BM_Objects/0) and
# every 6- and 26-connected component of 1- (BM_Objects/6, /26), each sampled and hulled; wall
# time, ratio to the program's run, CPU time and peak memory, each in a process of its own.
#   bench/objects.sh
# Environment:
#   VOXWRAP_LABELS     size and objects WxHxN:COUNT (default 1024x1024x1000:10000); the stack is
#                      made once by make_labels.py under VOXWRAP_PHANTOM_DIR (default /tmp) and
#                      kept: the default one takes 2 GB, remove it by hand.
#   VOXWRAP_THREADS    threads of every run (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVOXWRAP_TESTS=OFF -DVOXWRAP_BENCH=ON >/dev/null
cmake --build build-bench -j2 --target voxwrap voxwrap_bench >/dev/null
wanted=${VOXWRAP_LABELS:-1024x1024x1000:10000}
size=${wanted%%:*}
count=${wanted##*:}
threads=${VOXWRAP_THREADS:-2}
stack=${VOXWRAP_PHANTOM_DIR:-/tmp}/voxwrap-labels-$size-$count
[ -d "$stack" ] || /usr/bin/python3 bench/make_labels.py "$stack" ${size//x/ } "$count" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat "$stack"/* >/dev/null  # warm the page cache

# Runs a command under /usr/bin/time; prints wall seconds, CPU seconds and peak MB.
measure() {
  /usr/bin/time -v -o "$work/time" "$@" >"$work/out" 2>&1
  awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = 0; for (i = 1; i <= n; i++) wall = wall * 60 + t[i] }
    /User time|System time/ { cpu += $2 }
    /Maximum resident/ { kb = $2 }
    END { printf "%.2f %.2f %.1f\n", wall, cpu, kb / 1024 }' "$work/time"
}

printf '%-28s %8s %7s %8s %9s  %s\n' run wall_s ratio cpu_s peak_MB counters
read -r base cpu mb < <(measure build-bench/voxwrap --threads "$threads" "$stack" - 1- "$work/one.stl")
printf '%-28s %8.2f %7.2f %8.2f %9.1f\n' "voxwrap 1-" "$base" 1 "$cpu" "$mb"
for objects in labels components; do
  read -r wall cpu mb < <(measure build-bench/voxwrap --threads "$threads" --objects $objects \
    --table "$work/table.csv" "$stack" - 1- "$work/all.stl")
  printf '%-28s %8.2f %7.2f %8.2f %9.1f  %s\n' "voxwrap --objects $objects" "$wall" \
    "$(echo "$wall / $base" | bc -l)" "$cpu" "$mb" "$(($(wc -l <"$work/table.csv") - 1)) objects"
done
for bench in 'BM_OneObject' 'BM_Objects/0' 'BM_Objects/6' 'BM_Objects/26'; do
  read -r wall cpu mb < <(VOXWRAP_BENCH_STACK=$stack VOXWRAP_BENCH_THREADS=$threads \
    measure build-bench/voxwrap_bench --benchmark_filter="^$bench/" --benchmark_format=csv)
  counters=$(awk -F, '/^"BM_/ { print $0 }' "$work/out")
  printf '%-28s %8.2f %7.2f %8.2f %9.1f  %s\n' "$bench" "$wall" "$(echo "$wall / $base" | bc -l)" \
    "$cpu" "$mb" "$counters"
done
