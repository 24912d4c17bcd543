#!/usr/bin/env bash
# The Windows SDK folder from the two mingw builds, a zip of each
# architecture made by CPack, and a zip of the whole folder:
#   OUT/vek-sdk-VERSION/{include/vek/vek.h, x86/{bin,lib}, x64/{bin,lib}}
# A 32-bit application on 64-bit Windows loads the 64-bit driver, so x86/bin
# carries both drivers (the 32-bit build makes both: vek.dll trusts only the
# driver files of its own build). Each zip carries the README, the driver's
# README and the example.
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
(cd "$out" && cmake -E tar cf "vek-sdk-$version.zip" --format=zip "vek-sdk-$version")
for f in README.md DRIVER.md example/vek_sdk_example.c x86/bin/zelkoran.sys x86/bin/zelkoranx64.sys x64/bin/zelkoranx64.sys include/vek/vek.h x86/bin/vek.dll x86/lib/vek.dll.a x86/lib/vek.lib x64/bin/vek.dll x64/lib/vek.dll.a x64/lib/vek.lib; do
    [ -f "$sdk/$f" ] || { echo "SDK lacks $f"; exit 1; }
done
for arch in x86 x64; do
    zip="$out/vek-sdk-$version-$arch.zip"
    listing=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
    want="README.md DRIVER.md example/vek_sdk_example.c include/vek/vek.h $arch/bin/vek.dll $arch/bin/zelkoranx64.sys $arch/lib/vek.lib $arch/lib/vek.dll.a"
    [ $arch = x86 ] && want="$want x86/bin/zelkoran.sys"
    for f in $want; do
        grep -qx "$f" <<<"$listing" || { echo "$(basename "$zip") lacks $f"; exit 1; }
    done
done
ls "$out/vek-sdk-$version.zip" >/dev/null
echo "SDK: $sdk and $(cd "$out" && ls vek-sdk-*.zip | tr '\n' ' ')"
