#!/usr/bin/env bash
# Builds the in-process ReadImageFile harness with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and fuzzes it on one core from fuzz/seeds.
#   fuzz/run.sh [seconds]          (default 1800; corpus in fuzz/out/corpus, findings in
#                                   fuzz/out/crashes; neither is committed)
#   fuzz/run.sh replay file...     runs the harness once on each file (a finding, a seed)
#   fuzz/run.sh csi [seconds]      the same for the slice list harness (csi_fuzz.cpp, from
#   fuzz/run.sh csi replay file... fuzz/csi_seeds; corpus in fuzz/out/csi_corpus)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = csi ]; then
  shift
  bin=build-fuzz/csi_fuzz
  mkdir -p build-fuzz
  clang++ -std=c++17 -O1 -g -I. -Iinclude -DCSI_FUZZ_SLICES="\"$PWD/fuzz/slices\"" \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer \
    slices/csi.cpp tiff/rif.cpp tiff/codecs.cpp common/numbers.cpp fuzz/csi_fuzz.cpp -ldeflate -lzstd \
    -o "$bin"
  export ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=1024:detect_leaks=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  if [ "${1:-}" = replay ]; then
    shift
    exec "$bin" -rss_limit_mb=1536 "$@"
  fi
  seconds=${1:-1800}
  mkdir -p fuzz/out/csi_corpus fuzz/out/crashes
  exec "$bin" fuzz/out/csi_corpus fuzz/csi_seeds -dict=fuzz/csi.dict -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=1536 -malloc_limit_mb=1536 -max_len=4096 \
    -artifact_prefix=fuzz/out/crashes/csi- -print_final_stats=1
fi
bin=build-fuzz/rif_fuzz
mkdir -p build-fuzz
# A small LZW window (2^13 bytes) lets small inputs reach the code that starts the window over.
clang++ -std=c++17 -O1 -g -I. -Iinclude -DVOXWRAP_LZW_WINDOW_BITS=13 \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer \
  tiff/rif.cpp tiff/codecs.cpp slices/spacing.cpp mesh/units.cpp common/numbers.cpp fuzz/rif_fuzz.cpp \
  -ldeflate -lzstd -o "$bin"
# allocator_may_return_null with max_allocation_size_mb: a huge size taken from a header comes
# back as a failed allocation, which the reader reports as its "no allocatable memory" message,
# instead of a sanitizer report; libFuzzer's own limits lie above it, so they catch only real
# growth.
export ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=2048:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
if [ "${1:-}" = replay ]; then
  shift
  exec "$bin" -rss_limit_mb=4096 -malloc_limit_mb=4096 "$@"
fi
seconds=${1:-1800}
mkdir -p fuzz/out/corpus fuzz/out/crashes
"$bin" fuzz/out/corpus fuzz/seeds -dict=fuzz/tiff.dict -max_total_time="$seconds" \
  -timeout=10 -rss_limit_mb=4096 -malloc_limit_mb=4096 -max_len=65536 \
  -artifact_prefix=fuzz/out/crashes/ -print_final_stats=1
