#!/usr/bin/env bash
# Compare a built vek.dll's export table with tests/data/exports.txt: the same
# names at the same ordinals, nothing more (no decorated, ordinal-only or stray
# exports). Also refuse a DLL that needs mingw runtime DLLs next to it.
#
#   tools/check_exports.sh build-w32/vek.dll [expected-list]
set -euo pipefail

dll=${1:?usage: check_exports.sh DLL [EXPECTED]}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
expected=${2:-$here/../tests/data/exports.txt}

[ -f "$dll" ] || { echo "check_exports: no such file: $dll" >&2; exit 2; }
[ -f "$expected" ] || { echo "check_exports: no such file: $expected" >&2; exit 2; }

# The first objdump that reads the file: i686 for the 32-bit DLL, x86_64 for the 64-bit one.
dump=
for tool in i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump objdump; do
    command -v "$tool" >/dev/null 2>&1 || continue
    if dump=$("$tool" -p "$dll" 2>/dev/null); then break; fi
    dump=
done
[ -n "$dump" ] || { echo "check_exports: no objdump reads $dll" >&2; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# objdump lists names as "[index] name" where ordinal = index + ordinal base,
# and the address table as "[index] +base[ordinal] rva ...".
awk '
    /^Ordinal Base/                   { base = $3 }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^[ \t]*\[/ {
        line = $0; sub(/^[ \t]*\[ */, "", line)
        idx = line; sub(/\].*/, "", idx)
        name = line; sub(/^[0-9]+\] /, "", name)
        print idx + base, name
        next
    }
    names && !/^[ \t]*\[/             { names = 0 }
' <<<"$dump" | sort -n > "$tmp/actual"

awk '
    /^Export Address Table -- Ordinal Base/ { eat = 1; next }
    eat && /\+base\[/ { s = $0; sub(/.*\+base\[ */, "", s); sub(/\].*/, "", s); print s; next }
    eat && !/^[ \t]*\[/ { eat = 0 }
' <<<"$dump" | sort -n > "$tmp/slots"

sort -n "$expected" | sed '/^[[:space:]]*$/d' > "$tmp/expected"

status=0
if ! diff -u "$tmp/expected" "$tmp/actual" > "$tmp/diff"; then
    echo "check_exports: $dll: export table differs from $expected" >&2
    sed 's/^/  /' "$tmp/diff" >&2
    status=1
fi
if ! diff -q <(cut -d' ' -f1 "$tmp/actual") "$tmp/slots" >/dev/null; then
    echo "check_exports: $dll: exports by ordinal only:" >&2
    comm -13 <(cut -d' ' -f1 "$tmp/actual") "$tmp/slots" | sed 's/^/  ordinal /' >&2
    status=1
fi

runtime=$(grep -i 'DLL Name:' <<<"$dump" | grep -i -E 'libgcc|libstdc\+\+|libwinpthread' || true)
if [ -n "$runtime" ]; then
    echo "check_exports: $dll: depends on mingw runtime DLLs:" >&2
    echo "$runtime" >&2
    status=1
fi

if [ $status -eq 0 ]; then
    echo "check_exports: $dll: $(wc -l < "$tmp/actual") exports match $(basename "$expected")"
fi
exit $status
