#!/usr/bin/env bash
# Builds the ReadImageFile harness with AFL++ instrumentation, AddressSanitizer and
# UndefinedBehaviorSanitizer, and fuzzes it on one core.
#   fuzz/run.sh [seconds]      (default 1800; output in fuzz/out, not committed)
#   fuzz/run.sh resume [seconds]  continues the previous run in fuzz/out
set -euo pipefail
cd "$(dirname "$0")/.."
resume=0
if [ "${1:-}" = resume ]; then resume=1; shift; fi
seconds=${1:-1800}
out=fuzz/out
bin=build-fuzz/rif_fuzz
mkdir -p build-fuzz
# A small LZW window (2^13 bytes) lets small inputs reach the code that starts the window over.
AFL_USE_ASAN=1 AFL_USE_UBSAN=1 AFL_QUIET=1 afl-clang-fast++ -std=c++17 -O2 -g -I. -DVOXWRAP_LZW_WINDOW_BITS=13 \
  tiff/rif.cpp fuzz/rif_fuzz.cpp -o "$bin"
# allocator_may_return_null: a bogus size must come back as a failed allocation, which the reader
# reports, instead of a sanitizer abort; max_allocation_size_mb keeps a bogus header from making
# every run slow; detect_leaks: leaks are findings too.
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=2048
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1
export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1
input=${FUZZ_INPUT:-fuzz/seeds}
if [ "$resume" = 1 ]; then input=-; fi
afl-fuzz -i "$input" -o "$out" -m none -t 2000 -V "$seconds" -x fuzz/tiff.dict -- "$bin" @@
