#!/usr/bin/env bash
# Installs the Python package offline from a copy of its folder (the build
# must not write into the source tree), once bundling the built library
# beside it, and imports it from the installed place.
#   python_install.sh PYTHON SOURCE_DIR LIBRARY SCRATCH_DIR
set -euo pipefail
python=$1 source=$2 library=$3 scratch=$4
rm -rf "$scratch" && mkdir -p "$scratch"
cp -r "$source/bindings/python" "$scratch/pkg"
rm -rf "$scratch/pkg/tests"
# Under the name the loader looks for first (the build names it with its version).
cp -L "$library" "$scratch/pkg/velmora/libtarvinex-velmora.so"
"$python" -m pip install --quiet --no-build-isolation --no-index --no-deps \
  --target "$scratch/site" "$scratch/pkg" 2>&1 | grep -v "^WARNING: Running pip as the 'root'" || true
cd "$scratch"
env -u VELMORA_LIBRARY PYTHONPATH="$scratch/site" "$python" -c "
import os, velmora
assert os.path.dirname(velmora.library_path) == os.path.dirname(velmora.__file__), velmora.library_path
print(velmora.__version__)
velmora.sepia('$source/sample/creek.jpg', 'out.png')
assert open('out.png', 'rb').read(4) == b'\x89PNG'
"
