#!/usr/bin/env bash
# Builds vekctl and shows the board: this machine's when it is a supported
# board, else — saying so — the default simulated board. vekctl loads the
# shared libvek.so applications use. Extra arguments go to vekctl.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh linux >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_BENCH=OFF >/dev/null
cmake --build build --target vekctl -j2 >&2
status=0
./build/vekctl "$@" 2>/tmp/vekctl-run.$$ || status=$?
if [ "$status" -eq 3 ]; then
    # On stderr, so `run.sh --json` still prints one JSON document.
    sed 's/^/  /' /tmp/vekctl-run.$$ >&2
    rm -f /tmp/vekctl-run.$$
    echo "This machine is not a supported board; showing the default simulated board instead (--sim)." >&2
    exec ./build/vekctl --sim "$@"
fi
cat /tmp/vekctl-run.$$ >&2
rm -f /tmp/vekctl-run.$$
exit "$status"
