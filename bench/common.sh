# What the benchmark scripts share; sourced from the project's root by bench/*.sh.

# bin: the voxwrap binary given as $1, or build-bench/voxwrap, built (Release) when missing.
bench_binary() {
  bin=${1:-build-bench/voxwrap}
  if [ ! -x "$bin" ]; then
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVOXWRAP_TESTS=OFF >/dev/null
    cmake --build build-bench -j2 --target voxwrap >/dev/null
    bin=build-bench/voxwrap
  fi
}

now() { date +%s.%N; }
# The fastest of $repeat runs of a command, in seconds.
fastest() {
  local best="" t0 t1 d
  for _ in $(seq "$repeat"); do
    t0=$(now)
    "$@"
    t1=$(now)
    d=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$d < $best" | bc -l)" = 1 ]; then best=$d; fi
  done
  printf '%.3f' "$best"
}
catall() { cat "$1"/* >/dev/null; }
