#!/usr/bin/env bash
# Installs a build tree into a staging prefix, checks the layout, and builds
# and runs two consumers against it: one through pkg-config, one through
# find_package(vek).   tests/install/run.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/usr" >/dev/null

libdir=$(cd "$stage/usr" && ls -d lib*/ | head -1)
libdir=${libdir%/}
[ -f "$stage/usr/$libdir/libvek.so.5.0.1" ] || libdir=$(dirname "$(cd "$stage/usr" && find . -name 'libvek.so.5' | head -1)")
for f in include/vek/vek.h include/vek/host.h include/vek/sim.h bin/vekctl \
         share/man/man1/vekctl.1 share/bash-completion/completions/vekctl \
         "$libdir/libvek.so.5" "$libdir/libvek.so" "$libdir/libvek-sim.so.5" \
         "$libdir/pkgconfig/vek.pc" "$libdir/pkgconfig/vek-sim.pc" "$libdir/cmake/vek/vekConfig.cmake" \
         lib/systemd/system/vek-metrics.service lib/systemd/system/vek-watchdog.service; do
    [ -e "$stage/usr/$f" ] || { echo "missing after install: $f"; exit 1; }
done
[ -L "$stage/usr/$libdir/libvek.so" ] && [ -L "$stage/usr/$libdir/libvek.so.5" ] || { echo "libvek.so links missing"; exit 1; }
[ "$(readlink "$stage/usr/$libdir/libvek.so.5")" = libvek.so.5.0.1 ] || { echo "soname link wrong"; exit 1; }

export PKG_CONFIG_PATH="$stage/usr/$libdir/pkgconfig"
work="$stage/work"
mkdir -p "$work"
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/pc_consumer" "$here/pkgconfig_consumer.c" $(pkg-config --cflags --libs vek-sim)
LD_LIBRARY_PATH="$stage/usr/$libdir" "$work/pc_consumer"

cmake -S "$here/cmake_consumer" -B "$work/cm" -G Ninja -DCMAKE_PREFIX_PATH="$stage/usr" >/dev/null
cmake --build "$work/cm" >/dev/null
"$work/cm/consumer"
"$work/cm/consumer_sim_only"
# The units start the installed vekctl with arguments it takes.
for unit in vek-metrics vek-watchdog; do
    exec_line=$(sed -n 's/^ExecStart=//p' "$stage/usr/lib/systemd/system/$unit.service")
    case $exec_line in "$stage/usr/bin/vekctl "*) ;; *) echo "$unit: ExecStart is not the installed vekctl: $exec_line"; exit 1;; esac
    # shellcheck disable=SC2086
    "$stage/usr/bin/vekctl" ${exec_line#* } --help >/dev/null || { echo "$unit: vekctl rejects: $exec_line"; exit 1; }
done

# The installed vekctl finds its libraries by itself and says the board is simulated.
"$stage/usr/bin/vekctl" --sim info | grep -q "simulated board"
echo "install test passed"
