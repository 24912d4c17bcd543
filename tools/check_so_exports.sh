#!/usr/bin/env bash
# A Linux shared library exports exactly the names of its list (second column)
# and nothing else. Without a list: libvek.so, whose set is the 88 VEK_
# functions and the three host-seam entry points.
#   tools/check_so_exports.sh build/libvek.so
#   tools/check_so_exports.sh build/eapi/libEApi.so eapi/exports.txt
set -euo pipefail
so=${1:?usage: check_so_exports.sh LIBRARY [LIST]}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ $# -ge 2 ]; then
    expected=$(awk '{print $2}' "$2" | sort)
else
    expected=$( (awk '{print $2}' "$here/../tests/data/exports.txt"; printf 'vek_host_attach\nvek_host_detach\nvek_host_capabilities\n') | sort)
fi
actual=$(nm -D --defined-only "$so" | awk '$2 ~ /^[TtWw]$/ || $2 == "D" || $2 == "B" {print $3}' | sort)
if [ "$expected" != "$actual" ]; then
    echo "export set of $so differs:"
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
echo "$so: $(echo "$actual" | wc -l) exports as expected"
