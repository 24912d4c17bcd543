#!/usr/bin/env bash
# libEApi.so exports the EAPI calls of the list and nothing else.
#   eapi/tests/check_so_exports.sh build/eapi/libEApi.so eapi/exports.txt
set -euo pipefail
so=${1:?usage: check_so_exports.sh LIBRARY LIST}
list=${2:?usage: check_so_exports.sh LIBRARY LIST}
expected=$(awk '{print $2}' "$list" | sort)
actual=$(nm -D --defined-only "$so" | awk '$2 ~ /^[TtWw]$/ || $2 == "D" || $2 == "B" {print $3}' | sort)
if [ "$expected" != "$actual" ]; then
    echo "export set of $so differs:"
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
echo "$so: $(echo "$actual" | wc -l) exports as expected"
