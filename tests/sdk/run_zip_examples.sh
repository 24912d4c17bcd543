#!/usr/bin/env bash
# Unpacks each SDK zip into a fresh folder, builds its example with the mingw
# line of its README (linking the zip's import library), and runs it under wine
# in the matching prefix: the x86 zip in a WoW64 and in a pure 32-bit prefix
# (where the kernel runs 32-bit programs; elsewhere it is only linked), the x64
# zip under wine64. The board wine describes is not in the platform table, so the example must load
# vek.dll through the zip's import library and print Init's answer, 10. (The
# same DLL bringing a listed board up with its driver is run_wine_tests.sh's.)
#   tests/sdk/run_zip_examples.sh SDK_OUT
set -uo pipefail
out=$(cd "${1:?usage: run_zip_examples.sh SDK_OUT}" && pwd)
wine32=/usr/lib/wine/wine
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
tmp=$(mktemp -d /tmp/vek-sdk-zip.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failed=0
# build ZIP ARCH DIR NAME: unpacks the zip into DIR/unpacked and builds the
# example there with the README's own mingw line, linking the zip's import library.
build() {
    local zip=$1 arch=$2 dir=$3 name=$4 line
    rm -rf "$dir" && mkdir -p "$dir/unpacked"
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$dir/unpacked"
    line=$(grep -E "^    [a-z0-9_]+-w64-mingw32-gcc .* $arch/lib/vek.dll.a" "$dir/unpacked/README.md" | head -1)
    if [ -z "$line" ] || ! (cd "$dir/unpacked" && eval "$line"); then
        echo "FAIL $name: the README's mingw line does not build the example"
        failed=$((failed + 1))
        return 1
    fi
}

# run ZIP ARCH LOADER BOOT WINEARCH
run() {
    local zip=$1 arch=$2 wine=$3 boot=$4 winearch=$5 started=$SECONDS
    local name dir log
    name="$(basename "$zip" .zip) in a $winearch prefix run by $(basename "$wine")"
    dir=$tmp/$arch-$winearch
    build "$zip" "$arch" "$dir" "$name" || return
    export WINEPREFIX=$dir/prefix WINEARCH=$winearch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    timeout 120 "$boot" wineboot -i >/dev/null 2>&1
    log=$dir/run.log
    (cd "$dir/unpacked/$arch/bin" && timeout 120 "$wine" vek_sdk_example.exe) >"$log" 2>&1
    rc=$?
    want="VEK_API_Init: result 10"
    "$wineserver" -k >/dev/null 2>&1
    if grep -q "$want" "$log" && [ $rc -eq 10 ]; then
        echo "ok   $name: \"$want\" ($((SECONDS - started)) s)"
    else
        echo "FAIL $name: exit $rc, wanted \"$want\":"
        tr -d '\r' <"$log" | sed 's/^/     /'
        failed=$((failed + 1))
    fi
}

x86=$(ls "$out"/vek-sdk-*-x86.zip | head -1)
x64=$(ls "$out"/vek-sdk-*-x64.zip | head -1)
[ -x "$wine64" ] && run "$x64" x64 "$wine64" "$wine64" win64
if [ ! -x "$wine32" ] || ! "$wine32" --version >/dev/null 2>&1; then
    # Linking still shows whether the import library answers vek.h's names.
    if build "$x86" x86 "$tmp/x86-link" "$(basename "$x86" .zip)"; then
        echo "ok   $(basename "$x86" .zip): the README's mingw line links the example"
    fi
    echo "NOT RUN $(basename "$x86"): no 32-bit wine here, or this kernel does not execute 32-bit programs"
elif [ -x "$wine32" ]; then
    run "$x86" x86 "$wine32" "$wine64" win64
    run "$x86" x86 "$wine32" "$wine32" win32
fi
echo "SDK zips: $failed failed"
[ $failed -eq 0 ]
