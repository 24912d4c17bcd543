#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. Linux library, simulator, vekctl and the test suite
#   2. the same test suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#      the threading tests under ThreadSanitizer, and a short fuzzing run
#   3. the 32-bit product vek.dll (mingw-w64) and a check of its export table
#   4. the 64-bit vek.dll and the Windows tests under wine64; the same tests of
#      the 32-bit vek.dll under wine32 (WoW64 prefix and pure 32-bit prefix)
#   (3 and 4 also build EApi.dll, the EAPI library, check its export table and
#    run its Windows test under wine64)
#   (3 and 4 also build the kernel I/O driver beside vek.dll and check its image,
#    link MSVC-toolchain consumers of both import libraries, and make the SDK folder and zips)
#   5. the Linux libvek.so inside a QEMU q35 guest (QEMU's ICH9 SMBus, speaker, MSRs)
# (the Linux tests include the staged install, vekctl, the Python package and a
#  real Prometheus scraping vekctl)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh all
jobs=2
step() { printf '\n=== %s (%ss)\n' "$1" "$SECONDS"; }

step "Linux build"
# Explicit: scripts/run.sh configures the same tree without tests.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEK_BUILD_TESTS=ON -DVEK_BUILD_BENCH=ON >/dev/null
cmake --build build -j$jobs
step "Linux tests"
(cd build && ctest -j$jobs --output-on-failure)

step "Sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEK_SANITIZE=ON -DVEK_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j$jobs
step "Sanitizer tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest -j$jobs --output-on-failure)

step "ThreadSanitizer build of the threading tests"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEK_TSAN=ON -DVEK_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j$jobs --target vek_concurrency_tests
step "Threading tests under ThreadSanitizer"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build-tsan/tests/vek_concurrency_tests

step "Export fuzzer, fixed short budget"
bash scripts/fuzz.sh 45

step "Windows 32-bit build"
cmake -S . -B build-w32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=ON >/dev/null
cmake --build build-w32 -j$jobs
step "Export table of the 32-bit vek.dll"
bash tools/check_exports.sh build-w32/vek.dll
bash tools/check_exports.sh build-w32/eapi/EApi.dll eapi/exports.txt
bash driver/windows/check_image.sh build-w32/zelkoran.sys
bash driver/windows/check_image.sh build-w32/zelkoranx64.sys # the x64 driver the 32-bit SDK ships
step "MSVC consumer of the 32-bit SDK (clang-cl, lld-link)"
bash tests/sdk/msvc_link.sh build-w32 x86

step "Windows 64-bit build"
cmake -S . -B build-w64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-w64 -j$jobs
bash tools/check_exports.sh build-w64/vek.dll
bash tools/check_exports.sh build-w64/eapi/EApi.dll eapi/exports.txt
bash driver/windows/check_image.sh build-w64/zelkoranx64.sys
step "Windows tests under wine64"
bash tests/windows/run_wine_tests.sh build-w64
step "EApi.dll under wine64"
bash eapi/tests/run_wine_eapi.sh build-w64
step "Windows tests of the 32-bit vek.dll under wine32"
bash tests/windows/run_wine32_tests.sh build-w32 build-w64
step "MSVC consumer of the 64-bit SDK, run under wine64"
bash tests/sdk/msvc_link.sh build-w64 x64
step "Windows SDK folder and zips"
bash packaging/windows_sdk.sh build-w32 build-w64 build-sdk
step "Each SDK zip unpacked, its example built and run under wine"
bash tests/sdk/run_zip_examples.sh build-sdk

step "QEMU q35 guest test of libvek.so"
bash tests/qemu/run.sh build

step "done"
