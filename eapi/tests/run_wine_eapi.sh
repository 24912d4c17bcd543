#!/usr/bin/env bash
# EApi.dll under wine64, beside the vek.dll it loads.
#
#   eapi/tests/run_wine_eapi.sh BUILD_DIR     (the 64-bit mingw build)
#
# "unlisted": wine's own DMI table names no board of vek's. "listed": a private
# mount namespace (unshare -m) shows wine a fake DMI table naming the first
# board of the table, and the stand-in I/O driver (tests/windows) takes the
# real driver's file name. Ends with "wine eapi: N passed, N failed".
set -uo pipefail

build=${1:?usage: run_wine_eapi.sh BUILD_DIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wine=$(command -v wine64 || true)
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
if [ -z "$wine" ]; then
    echo "SKIPPED: wine64 not found"
    exit 0
fi
wineserver=$(command -v wineserver || true)
[ -z "$wineserver" ] && [ -x /usr/lib/wine/wineserver64 ] && wineserver=/usr/lib/wine/wineserver64

tmp=$(mktemp -d /tmp/vek-eapi-wine.XXXXXX)
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    [ -n "$wineserver" ] && "$wineserver" -k >/dev/null 2>&1
    rm -rf "$tmp"
}
trap cleanup EXIT

work=$tmp/work
mkdir -p "$work"
for f in EApi.dll vek.dll wine_eapi_test.exe wine_dll_test.exe zelkoranx64.sys; do
    found=$(find "$build" -name "$f" -type f -print -quit 2>/dev/null)
    if [ -z "$found" ]; then
        echo "run_wine_eapi: $f not found under $build (build the 64-bit tree first)" >&2
        exit 1
    fi
    cp "$found" "$work/"
done
cp "$here/../exports.txt" "$work/eapi_exports.txt"
mv "$work/zelkoranx64.sys" "$tmp/" # beside vek.dll only for the listed board

if ! timeout 120 "$wine" wineboot -i >"$tmp/wineboot.log" 2>&1; then
    echo "run_wine_eapi: wineboot failed:" >&2
    cat "$tmp/wineboot.log" >&2
    exit 1
fi
[ -n "$wineserver" ] && { "$wineserver" -k >/dev/null 2>&1; "$wineserver" -w; "$wineserver" -p; }

source "$here/../../tests/windows/wine_runs.sh"

if unshare -m true 2>/dev/null; then
    fake_dmi "$tmp/dmi-unlisted" "NoSuchBoard-0000"
    run unlisted "$tmp/dmi-unlisted" wine_eapi_test.exe unlisted
    first=$(cd "$work" && timeout 60 "$wine" wine_dll_test.exe first-board 2>/dev/null | tr -d '\r' | head -1)
    if [ -n "$first" ]; then
        fake_dmi "$tmp/dmi-listed" "$first"
        # vek.dll installs only the driver of its own build (its digest is
        # compiled in), so the listed board runs with the real driver.
        cp "$tmp/zelkoranx64.sys" "$work/"
        run listed "$tmp/dmi-listed" wine_eapi_test.exe listed "$first"
        rm -f "$work/zelkoranx64.sys"
    else
        skip listed "the platform table has no first row"
    fi
else
    run unlisted - wine_eapi_test.exe unlisted
    skip listed "unshare -m is not permitted here (needs root)"
fi

echo "wine eapi: $passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
