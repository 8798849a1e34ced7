#!/usr/bin/env bash
# Makes the Python binding's two platform wheels, each with its library
# inside: velmora-<version>-py3-none-linux_x86_64.whl from the Linux build and
# velmora-<version>-py3-none-win_amd64.whl from the Windows DLL. Needs both
# builds (`cmake --workflow --preset release` and the Windows one). The build
# runs in a scratch copy, so nothing is written into bindings/python.
#   wheels.sh [RELEASE_BUILD] [WINDOWS_BUILD] [OUTPUT_DIR]
#   (defaults: build/release build/windows build/wheels)
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
release=$(cd "${1:-$source/build/release}" && pwd) windows=$(cd "${2:-$source/build/windows}" && pwd)
out=$(mkdir -p "${3:-$source/build/wheels}" && cd "${3:-$source/build/wheels}" && pwd)
linux=$release/src/libtarvinex-velmora.so
dll=$windows/bin/tarvinex-velmora.dll
for f in "$linux" "$dll"; do
  [ -f "$f" ] || { echo "wheels.sh: $f is missing: build it first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wheel() {  # wheel LIBRARY PLATFORM
  rm -rf "$work/python"
  cp -r "$source/bindings/python" "$work/python"
  rm -rf "$work/python/tests" "$work/python/build" "$work"/python/*.egg-info \
         "$work"/python/velmora/*.so* "$work"/python/velmora/*.dll
  (cd "$work/python" && VELMORA_LIBRARY=$1 /usr/bin/python3 setup.py -q bdist_wheel \
     --plat-name "$2" --dist-dir "$out" >"$work/log" 2>&1) ||
    { echo "wheels.sh: the $2 wheel failed:" >&2; cat "$work/log" >&2; exit 1; }
}
wheel "$linux" linux_x86_64
wheel "$dll" win_amd64
ls "$out"/*.whl
