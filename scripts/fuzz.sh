#!/usr/bin/env bash
# Builds the export fuzzer (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs it against the simulator. New inputs go to build-fuzz/corpus; the
# seeds and every regression input live in tests/fuzz/corpus.
#   scripts/fuzz.sh                  60-second run (CI passes 45)
#   scripts/fuzz.sh 1800             30 minutes
#   scripts/fuzz.sh 0 -runs=40000    a fixed number of inputs (48 calls at most each)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEK_FUZZ=ON \
  -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 --target vek_fuzz_exports
mkdir -p build-fuzz/corpus
limit=()
[ "$seconds" != 0 ] && limit=(-max_total_time="$seconds")
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build-fuzz/tests/fuzz/vek_fuzz_exports -dict=tests/fuzz/exports.dict -close_fd_mask=1 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/ "${limit[@]}" "$@" build-fuzz/corpus tests/fuzz/corpus
