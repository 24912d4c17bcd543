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

passed=0 failed=0 skipped=0
# run NAME DMI_DIR|- ARGS...: one program run, its closing line counted.
run() {
    local name=$1 dmi=$2 log=$tmp/$1.log rc
    shift 2
    echo "== $name"
    if [ "$dmi" = - ]; then
        (cd "$work" && timeout 120 "$wine" wine_eapi_test.exe "$@") >"$log" 2>&1
    else
        (cd "$work" && DMI="$dmi" timeout 120 unshare -m sh -c \
            'mount -t tmpfs none /sys/class && mkdir -p /sys/class/dmi/id && cp "$DMI"/* /sys/class/dmi/id/ && exec "$0" "$@"' \
            "$wine" wine_eapi_test.exe "$@") >"$log" 2>&1
    fi
    rc=$?
    tr -d '\r' <"$log" | sed 's/^/   /'
    local line p=0 f=0
    line=$(tr -d '\r' <"$log" | grep -E '[0-9]+ passed, [0-9]+ failed$' | tail -1)
    if [ -n "$line" ]; then
        p=$(sed -E 's/.* ([0-9]+) passed, ([0-9]+) failed$/\1/' <<<"$line")
        f=$(sed -E 's/.* ([0-9]+) passed, ([0-9]+) failed$/\2/' <<<"$line")
    fi
    if [ $rc -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
    passed=$((passed + p))
    failed=$((failed + f))
}

# A complete fake DMI table: wine builds its SMBIOS tables from these files.
fake_dmi() {
    local dir=$1 board=$2 f
    mkdir -p "$dir"
    printf '%s\n' "$board" >"$dir/board_name"
    for f in board_vendor sys_vendor chassis_vendor; do printf 'Vek Test Boards\n' >"$dir/$f"; done
    for f in board_version product_version chassis_version; do printf '1.0\n' >"$dir/$f"; done
    printf 'SN-EAPI-1\n' >"$dir/board_serial"
    printf 'Asset\n' >"$dir/board_asset_tag"
    printf 'Asset\n' >"$dir/chassis_asset_tag"
    printf 'Fake BIOS Works\n' >"$dir/bios_vendor"
    printf 'R1.07.B\n' >"$dir/bios_version"
    printf '06/26/2026\n' >"$dir/bios_date"
    printf 'Test System\n' >"$dir/product_name"
    printf 'SYS-1\n' >"$dir/product_serial"
    printf '12345678-1234-1234-1234-123456789abc\n' >"$dir/product_uuid"
    printf '3\n' >"$dir/chassis_type"
    printf 'CH-1\n' >"$dir/chassis_serial"
}

if unshare -m true 2>/dev/null; then
    fake_dmi "$tmp/dmi-unlisted" "NoSuchBoard-0000"
    run unlisted "$tmp/dmi-unlisted" unlisted
    first=$(cd "$work" && timeout 60 "$wine" wine_dll_test.exe first-board 2>/dev/null | tr -d '\r' | head -1)
    if [ -n "$first" ]; then
        fake_dmi "$tmp/dmi-listed" "$first"
        # vek.dll installs only the driver of its own build (its digest is
        # compiled in), so the listed board runs with the real driver.
        cp "$tmp/zelkoranx64.sys" "$work/"
        run listed "$tmp/dmi-listed" listed "$first"
        rm -f "$work/zelkoranx64.sys"
    else
        echo "== listed"; echo "   SKIPPED: the platform table has no first row"; skipped=$((skipped + 1))
    fi
else
    run unlisted - unlisted
    echo "== listed"; echo "   SKIPPED: unshare -m is not permitted here (needs root)"; skipped=$((skipped + 1))
fi

echo "wine eapi: $passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
