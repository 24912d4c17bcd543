#!/usr/bin/env bash
# The 32-bit product vek.dll under wine32, in both places a 32-bit
# application meets it: a WoW64 prefix (64-bit Windows, the x64 driver) and a
# pure 32-bit prefix (32-bit Windows, the x86 driver).
#
#   tests/windows/run_wine32_tests.sh BUILD_W32 BUILD_W64
#
# Ends with "wine32: N passed, N failed" summed over both prefixes.
set -uo pipefail
w32=${1:?usage: run_wine32_tests.sh BUILD_W32 BUILD_W64}
w64=${2:?usage: run_wine32_tests.sh BUILD_W32 BUILD_W64}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ ! -x /usr/lib/wine/wine ]; then
    echo "SKIPPED: wine32 not installed (dpkg --add-architecture i386; apt-get install wine32:i386)"
    exit 0
fi
# wine32 is a 32-bit Linux program: a kernel without IA-32 emulation (some
# virtual machines turn it off) refuses to execute it.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "wine32: NOT RUN: this kernel does not execute 32-bit programs (IA-32 emulation off:"
    echo "        $(dmesg 2>/dev/null | grep -i -m1 'ia-32\|32-bit emulation' || echo 'exec format error')); the 32-bit vek.dll was not tested here"
    exit 0
fi
passed=0 failed=0
for mode in wow64 win32; do
    started=$SECONDS
    log=$(mktemp)
    bash "$here/run_wine_tests.sh" "$w32" $mode "$w64" | tee "$log"
    rc=${PIPESTATUS[0]}
    line=$(grep -E '^wine32 .*: [0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
    rm -f "$log"
    p=$(sed -nE 's/.*: ([0-9]+) passed, ([0-9]+) failed.*/\1/p' <<<"$line")
    f=$(sed -nE 's/.*: ([0-9]+) passed, ([0-9]+) failed.*/\2/p' <<<"$line")
    [ -z "$p" ] && { p=0; f=1; }
    [ "$rc" -ne 0 ] && [ "$f" -eq 0 ] && f=1
    passed=$((passed + p)) failed=$((failed + f))
    echo "($mode prefix: $((SECONDS - started)) s)"
done
echo "wine32: $passed passed, $failed failed"
[ $failed -eq 0 ]
