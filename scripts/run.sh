#!/usr/bin/env bash
# Builds vekctl and shows the board: this machine's when it is a supported
# board, else the default simulated board. Extra arguments go to vekctl.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh linux
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_BENCH=OFF >/dev/null
cmake --build build --target vekctl -j2
./build/vekctl "$@"
