#!/usr/bin/env bash
# Run the Windows layer's test programs under wine.
#
#   tests/windows/run_wine_tests.sh BUILD_DIR [win64|wow64|win32] [SYS_DIR]
#
#   win64 (default)  the 64-bit mingw build under wine64, with zelkoranx64.sys
#   wow64            the 32-bit build in a 64-bit prefix: the product's path on
#                    64-bit Windows, with the x64 driver the 32-bit build ships
#                    and the 64-bit stand-in drivers of SYS_DIR (the 64-bit build)
#   win32            the 32-bit build in a pure 32-bit prefix, with zelkoran.sys
#
# Board identity comes from wine's WMI, which reads the Linux DMI table in
# /sys/class/dmi/id. Each identity run gets its own fake table in a private
# mount namespace (unshare -m), so the host's own is never touched; without
# unshare those runs are skipped. The driver paths run against stand-in kernel
# drivers (fake_drivers.c) that wine loads into its device host. Everything
# happens in a throw-away WINEPREFIX. Ends with "LABEL: N passed, N failed".
set -uo pipefail

build=${1:?usage: run_wine_tests.sh BUILD_DIR [win64|wow64|win32] [SYS_DIR]}
mode=${2:-win64}
sys_dir=${3:-$build}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

wine64=$(command -v wine64 || true)
[ -z "$wine64" ] && [ -x /usr/lib/wine/wine64 ] && wine64=/usr/lib/wine/wine64
wine32=
[ -x /usr/lib/wine/wine ] && wine32=/usr/lib/wine/wine
case $mode in
    win64) wine=$wine64 boot=$wine64 arch=win64 driver=zelkoranx64.sys label=wine ;;
    wow64) wine=$wine32 boot=$wine64 arch=win64 driver=zelkoranx64.sys label="wine32 (WoW64 prefix)" ;;
    win32) wine=$wine32 boot=$wine32 arch=win32 driver=zelkoran.sys label="wine32 (32-bit prefix)" ;;
    *) echo "run_wine_tests: mode is win64, wow64 or win32" >&2; exit 2 ;;
esac
if [ -z "$wine" ] || [ -z "$boot" ]; then
    echo "SKIPPED: no wine loader for $mode"
    exit 0
fi
wineserver=$(command -v wineserver || true)
[ -z "$wineserver" ] && [ -x /usr/lib/wine/wineserver64 ] && wineserver=/usr/lib/wine/wineserver64

programs="vek.dll vek_example.exe wine_os_test.exe wine_dll_test.exe wine_driver_test.exe $driver"
drivers="fake_iodriver.sys fake_iodriver_fails.sys fake_zkec.sys"
find_in() { find "$1" -name "$2" -type f -print -quit 2>/dev/null; }
for f in $programs; do
    if [ -z "$(find_in "$build" "$f")" ]; then
        echo "run_wine_tests: $f not found under $build (build the tree first)" >&2
        exit 1
    fi
done
for f in $drivers; do
    if [ -z "$(find_in "$sys_dir" "$f")" ]; then
        echo "run_wine_tests: $f not found under $sys_dir" >&2
        exit 1
    fi
done

tmp=$(mktemp -d /tmp/vek-wine.XXXXXX)
export WINEPREFIX=$tmp/prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    [ -n "$wineserver" ] && "$wineserver" -k >/dev/null 2>&1
    rm -rf "$tmp"
}
trap cleanup EXIT

work=$tmp/work
mkdir -p "$work" "$tmp/netshare"
for f in $programs; do cp "$(find_in "$build" "$f")" "$work/"; done
for f in $drivers; do cp "$(find_in "$sys_dir" "$f")" "$work/"; done
cp "$source_dir/tests/data/exports.txt" "$work/"
# The real driver waits in its own folder: the other runs put stand-ins in its place.
mkdir -p "$tmp/driver"
cp "$work/$driver" "$work/built_driver.sys" # under another name, for wine_dll_test
mv "$work/$driver" "$tmp/driver/"
cp "$work"/wine_os_test.exe "$work"/fake_iodriver*.sys "$tmp/netshare/"

if ! timeout 120 "$boot" wineboot -i >"$tmp/wineboot.log" 2>&1; then
    echo "run_wine_tests: wineboot failed:" >&2
    cat "$tmp/wineboot.log" >&2
    exit 1
fi
# Drive N: is a network drive to wine (its type is read when the server starts).
ln -s "$tmp/netshare" "$WINEPREFIX/dosdevices/n:"
timeout 60 "$wine" reg add 'HKLM\Software\Wine\Drives' /v 'n:' /t REG_SZ /d network /f >/dev/null 2>&1
if [ -n "$wineserver" ]; then
    "$wineserver" -k >/dev/null 2>&1
    "$wineserver" -w
    # One server for every run (and for runs inside other mount namespaces).
    "$wineserver" -p
fi

source "$here/wine_runs.sh"

have_unshare=no
if unshare -m true 2>/dev/null; then have_unshare=yes; fi

run choice - wine_os_test.exe choice
run lock - wine_os_test.exe lock
run zkec - wine_os_test.exe zkec
run brightness - wine_os_test.exe brightness
run i2c - wine_os_test.exe i2c
run driver - wine_os_test.exe driver

run network - 'n:\wine_os_test.exe' network

if [ $have_unshare = yes ]; then
    long_name="VEK-IDENTITY-$(printf 'x%.0s' $(seq 1 87))" # 100 characters: cut to 79
    fake_dmi "$tmp/dmi-identity" "$long_name"
    run identity "$tmp/dmi-identity" wine_os_test.exe identity \
        "$long_name" "Fake BIOS Works" "R1.07.B" "SN-0042-X" "1.02"

    fake_dmi "$tmp/dmi-unlisted" "NoSuchBoard-0000"
    run dll-unlisted "$tmp/dmi-unlisted" wine_dll_test.exe unlisted

    first=$(cd "$work" && timeout 60 "$wine" wine_dll_test.exe first-board 2>/dev/null | tr -d '\r' | head -1)
    if [ -n "$first" ]; then
        fake_dmi "$tmp/dmi-listed" "$first"
        run dll-listed "$tmp/dmi-listed" wine_dll_test.exe listed "Fake BIOS Works" "R1.07.B" "SN-0042-X"
        # The C example against the same board, with the driver installed.
        cp "$tmp/driver/$driver" "$work/"
        expect="board  *$first" run example "$tmp/dmi-listed" vek_example.exe
        rm -f "$work/$driver"
        # The real driver: installed, asked, refused, removed by vek.dll.
        cp "$tmp/driver/$driver" "$work/"
        expect= run driver-real "$tmp/dmi-listed" wine_driver_test.exe
        rm -f "$work/$driver"
    else
        skip dll-listed "the platform table has no first row"
    fi
    fake_dmi "$tmp/dmi-platform-i2c" "FMQ-345"
    run dll-platform-i2c "$tmp/dmi-platform-i2c" wine_dll_test.exe platform-i2c
else
    skip identity "unshare -m is not permitted here (needs root)"
    skip dll-listed "unshare -m is not permitted here (needs root)"
    skip dll-platform-i2c "unshare -m is not permitted here (needs root)"
    skip driver-real "unshare -m is not permitted here (needs root)"
    run dll-unlisted - wine_dll_test.exe unlisted
fi

echo "$label: $passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
