#!/usr/bin/env bash
# Installs the Debian packages the builds need. Idempotent: asks apt only for
# what is missing. Usage: scripts/deps.sh [linux|all]
set -euo pipefail
what=${1:-all}
pkgs=(cmake ninja-build g++ pkgconf libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev libfmt-dev libcivetweb-dev
      python3-pytest python3-pip python3-setuptools clang libclang-rt-14-dev)
if [ "$what" = all ]; then
  pkgs+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64 prometheus clang clang-tools lld llvm)
  # The QEMU guest test (tests/qemu/run.sh); its kernel comes from the archive too.
  pkgs+=(qemu-system-x86 busybox-static cpio)
  # 32-bit wine runs the 32-bit product DLL (tests/windows/run_wine32_tests.sh):
  # Debian's i386 packages, through multiarch.
  pkgs+=(wine wine32:i386)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
