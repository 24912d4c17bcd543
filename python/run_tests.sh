#!/usr/bin/env bash
# Installs the package with pip (offline) into a scratch directory and runs its
# tests against the build's libvek.so and libvek-sim.so.   python/run_tests.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: run_tests.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
[ -x "$py" ] || py=python3
target=$(mktemp -d)
copy=$(mktemp -d)
trap 'rm -rf "$target" "$copy"' EXIT
# Built from a copy so the source tree gets no build/ or egg-info droppings.
cp -r "$here/pyproject.toml" "$here/README.md" "$here/vek" "$copy/"
"$py" -m pip install --quiet --no-build-isolation --no-index --no-deps --target "$target" "$copy" 2>&1 \
    | grep -v "Running pip as the 'root' user" || true
[ -f "$target/vek/__init__.py" ] || { echo "pip did not install the package"; exit 1; }
cd "$target"
VEK_LIBRARY_PATH="$build" PYTHONPATH="$target" "$py" -m pytest -q -p no:cacheprovider "$here/tests"
