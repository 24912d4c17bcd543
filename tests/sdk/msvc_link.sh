#!/usr/bin/env bash
# Links an MSVC-style consumer against the SDK's vek.lib with clang-cl and
# lld-link and checks that it imports the undecorated names from vek.dll.
# With a 64-bit build and wine64 it also runs the consumer.
#   tests/sdk/msvc_link.sh BUILD_DIR x86|x64
set -euo pipefail
build=$(cd "${1:?usage: msvc_link.sh BUILD_DIR x86|x64}" && pwd)
arch=${2:?usage: msvc_link.sh BUILD_DIR x86|x64}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
tool() { command -v "$1" || command -v "$1-14" || command -v "/usr/lib/llvm-14/bin/$1"; }
cl=$(tool clang-cl)
link=$(tool lld-link)
readobj=$(tool llvm-readobj)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case $arch in
    x86) target=i686-pc-windows-msvc; machine=x86 ;;
    x64) target=x86_64-pc-windows-msvc; machine=x64 ;;
    *) echo "arch must be x86 or x64"; exit 2 ;;
esac

# Dash spellings: on Linux an argument starting with / could be a path.
"$cl" --target=$target -nologo -c -O1 -Zl -GS- -I"$root/include" -Fo"$work/consumer.obj" -- "$here/msvc_consumer.c"
"$link" -nologo -machine:$machine -subsystem:console -entry:start -nodefaultlib \
    "$work/consumer.obj" "$build/msvc/vek.lib" -out:"$work/consumer.exe"

imports=$("$readobj" --coff-imports "$work/consumer.exe")
for name in VEK_GPIO_ReadPin VEK_HWM_PlayNote VEK_I2C_SMBusBlock VEK_Board_GetPlatformName VEK_API_Uninit; do
    grep -q "Symbol: $name (" <<<"$imports" || { echo "consumer does not import $name by its plain name"; echo "$imports"; exit 1; }
done
grep -q "Name: vek.dll" <<<"$imports" || { echo "consumer does not import from vek.dll"; exit 1; }
echo "$arch: clang-cl/lld-link consumer links against vek.lib and imports the undecorated names from vek.dll"

wine=$(command -v wine64 || true)
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
if [ "$arch" = x64 ] && [ -n "$wine" ]; then
    cp "$build/vek.dll" "$work/"
    prefix=$(mktemp -d)
    status=0
    WINEDEBUG=-all WINEPREFIX="$prefix" timeout 120 "$wine" "$work/consumer.exe" || status=$?
    WINEPREFIX="$prefix" "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
    rm -rf "$prefix"
    [ "$status" -eq 0 ] || { echo "x64: the consumer exited $status under wine64"; exit 1; }
    echo "x64: the consumer ran under wine64 and every call answered as expected"
fi
