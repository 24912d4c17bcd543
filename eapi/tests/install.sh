#!/usr/bin/env bash
# Install the tree into a staging prefix, build a C program against the
# installed EApi.h with pkg-config, and run it on a simulated board.
#   eapi/tests/install.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: install.sh BUILD_DIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
stage=$(mktemp -d /tmp/vek-eapi-install.XXXXXX)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/usr" >/dev/null
pc=$(find "$stage/usr" -name EApi.pc -print -quit)
[ -n "$pc" ] || { echo "EApi.pc was not installed" >&2; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir EApi)
[ -f "$libdir/libEApi.so.1" ] || { echo "libEApi.so.1 is not in $libdir" >&2; exit 1; }
cc -std=c99 -Wall -Werror "$here/pkgconfig_consumer.c" $(pkg-config --cflags --libs EApi) \
    -Wl,-rpath,"$libdir" -o "$stage/consumer"
# libEApi finds libvek and libvek-sim beside itself.
VEK_SIM_BOARD=FMQ-345 "$stage/consumer"
