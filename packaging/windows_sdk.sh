#!/usr/bin/env bash
# The Windows SDK folder from the two mingw builds, and a zip of each
# architecture made by CPack:
#   OUT/vek-sdk-VERSION/{include/vek/vek.h, x86/{bin,lib}, x64/{bin,lib}}
#   packaging/windows_sdk.sh build-w32 build-w64 OUT
set -euo pipefail
w32=${1:?usage: windows_sdk.sh BUILD_W32 BUILD_W64 OUT}
w64=${2:?usage: windows_sdk.sh BUILD_W32 BUILD_W64 OUT}
out=${3:?usage: windows_sdk.sh BUILD_W32 BUILD_W64 OUT}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$w32/CMakeCache.txt")
sdk="$out/vek-sdk-$version"
rm -rf "$sdk"
mkdir -p "$sdk"
for build in "$w32" "$w64"; do
    cmake --install "$build" --prefix "$sdk" >/dev/null
    (cd "$build" && cpack -G ZIP -B "$(cd "$out" && pwd)" >/dev/null)
done
for f in include/vek/vek.h x86/bin/vek.dll x86/lib/vek.dll.a x86/lib/vek.lib x64/bin/vek.dll x64/lib/vek.dll.a x64/lib/vek.lib; do
    [ -f "$sdk/$f" ] || { echo "SDK lacks $f"; exit 1; }
done
ls "$out"/vek-sdk-"$version"-x86.zip "$out"/vek-sdk-"$version"-x64.zip >/dev/null
echo "SDK: $sdk and $(cd "$out" && ls vek-sdk-*.zip | tr '\n' ' ')"
