#!/usr/bin/env bash
# Checks a built driver image: a native-subsystem PE whose only imports are
# ntoskrnl.exe and hal.dll, with the checksum the kernel loader verifies.
#   driver/windows/check_image.sh build-w64/zelkoranx64.sys
set -euo pipefail
image=${1:?usage: check_image.sh DRIVER.sys}
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v i686-w64-mingw32-objdump)
fail() {
    echo "check_image: $image: $*" >&2
    exit 1
}
headers=$("$objdump" -p "$image") || fail "not a PE image"
grep -Eq 'Subsystem[[:space:]]+00000001' <<<"$headers" || fail "subsystem is not native"
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
[ "$imports" = "hal.dll ntoskrnl.exe " ] || fail "imports ${imports}(a driver imports hal.dll and ntoskrnl.exe only)"
checksum=$(sed -n 's/^CheckSum[[:space:]]*//p' <<<"$headers")
[ -n "$checksum" ] && [ $((16#$checksum)) -ne 0 ] || fail "no image checksum"
echo "check_image: $image: native, imports ${imports}checksum $checksum"
