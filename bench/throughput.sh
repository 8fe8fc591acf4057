#!/usr/bin/env bash
# Whole conversions of the CT-like phantoms against the floor of reading their files, measured in
# one run: for each phantom and each encoding, `cat` of every slice to /dev/null (page cache warm)
# and the whole run of voxwrap, with the ratio of the two, the CPU time and the peak memory. Every
# run of one stack must write the same STL bytes, whatever the thread count.
#   bench/throughput.sh [voxwrap-binary]      (default build-bench/voxwrap, built when missing)
# Environment:
#   VOXWRAP_PHANTOMS  sizes WxHxN to measure (default "512x512x256 1024x1024x1000"); each stack is
#                     made once by make_phantom.py under VOXWRAP_PHANTOM_DIR (default /tmp) and
#                     kept: the large one takes 2 GB, remove it by hand.
#   VOXWRAP_KINDS     encodings (default "raw lzw")
#   VOXWRAP_THREADS   thread counts (default "1 2"); used when the binary has --threads,
#                     otherwise one run with its own choice
#   VOXWRAP_REPEAT    runs of each measurement, the fastest counts (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
bench_binary "${1:-}"
phantoms=${VOXWRAP_PHANTOMS:-512x512x256 1024x1024x1000}
kinds=${VOXWRAP_KINDS:-raw lzw}
repeat=${VOXWRAP_REPEAT:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A binary without the option fails on the extra arguments.
threads=("")
if "$bin" --threads 1 examples/mug/slices - 1000-4095 "$work/probe.stl" >/dev/null 2>&1; then
  read -r -a threads <<<"${VOXWRAP_THREADS:-1 2}"
fi


# cpu_s (user + system time of one run) shows the work done whatever else the machine is doing.
printf '%-16s %-4s %-7s %8s %8s %7s %8s %9s\n' stack kind threads cat_s run_s ratio cpu_s peak_MB
for size in $phantoms; do
  stack=${VOXWRAP_PHANTOM_DIR:-/tmp}/voxwrap-phantom-$size
  [ -d "$stack/lzw" ] || /usr/bin/python3 bench/make_phantom.py "$stack" ${size//x/ } >/dev/null
  for kind in $kinds; do
    dir=$stack/$kind
    catall "$dir"  # warm the page cache
    floor=$(fastest catall "$dir")
    for t in "${threads[@]}"; do
      opt=()
      [ -z "$t" ] || opt=(--threads "$t")
      out=$work/$size-$kind-${t:-default}.stl
      secs=$(fastest "$bin" "${opt[@]}" "$dir" - 800-65535 "$out")
      /usr/bin/time -v -o "$work/time" "$bin" "${opt[@]}" "$dir" - 800-65535 "$out" >/dev/null
      kb=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time")
      cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$work/time")
      printf '%-16s %-4s %-7s %8s %8s %7.2f %8.2f %9.1f\n' "$size" "$kind" "${t:-default}" \
        "$floor" "$secs" "$(echo "$secs / $floor" | bc -l)" "$cpu" "$(echo "$kb / 1024" | bc -l)"
      first=$(ls "$work"/"$size"-*.stl | head -1)
      cmp -s "$first" "$out" || echo "  !! $out differs from $first"
    done
  done
done
