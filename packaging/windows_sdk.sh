#!/usr/bin/env bash
# The Windows SDK folder from the two mingw builds, a zip of each
# architecture made by CPack, and a zip of the whole folder:
#   OUT/vek-sdk-VERSION/{include/vek/vek.h, x86/{bin,lib}, x64/{bin,lib}}
# A 32-bit application on 64-bit Windows loads the 64-bit driver, so x86/bin
# carries both drivers.
#   packaging/windows_sdk.sh build-w32 build-w64 OUT
set -euo pipefail
w32=${1:?usage: windows_sdk.sh BUILD_W32 BUILD_W64 OUT}
w64=${2:?usage: windows_sdk.sh BUILD_W32 BUILD_W64 OUT}
out=${3:?usage: windows_sdk.sh BUILD_W32 BUILD_W64 OUT}
mkdir -p "$out"
out=$(cd "$out" && pwd) # cpack runs from inside each build folder
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$w32/CMakeCache.txt")
sdk="$out/vek-sdk-$version"
rm -rf "$sdk"
mkdir -p "$sdk"
for build in "$w32" "$w64"; do
    cmake --install "$build" --prefix "$sdk" >/dev/null
    (cd "$build" && cpack -G ZIP -B "$out" >/dev/null)
done
cp "$sdk/x64/bin/zelkoranx64.sys" "$sdk/x86/bin/"
(cd "$out" && cmake -E tar cf "vek-sdk-$version.zip" --format=zip "vek-sdk-$version")
for f in x86/bin/zelkoran.sys x86/bin/zelkoranx64.sys x64/bin/zelkoranx64.sys include/vek/vek.h x86/bin/vek.dll x86/lib/vek.dll.a x86/lib/vek.lib x64/bin/vek.dll x64/lib/vek.dll.a x64/lib/vek.lib; do
    [ -f "$sdk/$f" ] || { echo "SDK lacks $f"; exit 1; }
done
ls "$out/vek-sdk-$version-x86.zip" "$out/vek-sdk-$version-x64.zip" "$out/vek-sdk-$version.zip" >/dev/null
echo "SDK: $sdk and $(cd "$out" && ls vek-sdk-*.zip | tr '\n' ' ')"
