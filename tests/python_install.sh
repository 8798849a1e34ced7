#!/usr/bin/env bash
# Installs the Python package as bindings/python/README.md says, running its
# install block as it stands, in a scratch copy of the repository's layout
# (the build must not write into the source tree) with HOME in the scratch
# folder: from the build tree, then again over the first install with the
# library named by VELMORA_LIBRARY; without either the install must stop.
# The installed package must then import with no repository left at all.
#   python_install.sh PYTHON SOURCE_DIR LIBRARY SCRATCH_DIR
set -euo pipefail
python=$1 source=$2 library=$3 scratch=$4
rm -rf "$scratch" && mkdir -p "$scratch/home"
repo=$scratch/repo log=$scratch/log

# The block after the README's marker line.
block=$(awk '/tests\/python_install.sh runs the next block/ {m=1; next}
             m && /^```/ {if (inside) exit; inside=1; next}
             inside {print}' "$source/bindings/python/README.md")
[[ $block == *"pip install"* ]] || { echo "no install block in bindings/python/README.md"; exit 1; }

layout() {
  rm -rf "$repo" && mkdir -p "$repo/bindings" "$repo/sample"
  cp -r "$source/bindings/python" "$repo/bindings/python"
  rm -rf "$repo/bindings/python/tests" "$repo/bindings/python/build" \
         "$repo"/bindings/python/*.egg-info "$repo"/bindings/python/velmora/*.so*
  cp "$source/sample/creek.jpg" "$repo/sample/"
}

run_block() {  # run_block WHAT [env...]
  local what=$1; shift
  if ! (cd "$repo" && env -u VELMORA_LIBRARY HOME="$scratch/home" "$@" bash -euo pipefail -c "$block") \
      >"$log" 2>&1; then
    echo "README install block failed ($what):"; cat "$log"; exit 1
  fi
  [[ $(head -c 4 "$repo/creek-sepia.png" | od -An -c | tr -d ' ') == '211PNG' ]] ||
    { echo "README block wrote no PNG ($what)"; cat "$log"; exit 1; }
}

# 1. From the build tree, as the CMake build leaves it (symbolic links and all).
layout
mkdir -p "$repo/build/release/src"
cp -P "$(dirname "$library")"/libtarvinex-velmora.so* "$repo/build/release/src/"
run_block "library from build/release/src"
installed=$scratch/home/lib/python/velmora
cmp "$library" "$installed/libtarvinex-velmora.so" ||
  { echo "the build tree's library was not the one bundled"; cat "$log"; exit 1; }

# 2. The same line again over the first install, the library from VELMORA_LIBRARY:
#    the new package replaces the old one.
layout
echo "_reinstalled = True" >>"$repo/bindings/python/velmora/__init__.py"
run_block "library from VELMORA_LIBRARY" VELMORA_LIBRARY="$library"
cmp "$library" "$installed/libtarvinex-velmora.so" ||
  { echo "VELMORA_LIBRARY was not bundled"; cat "$log"; exit 1; }
grep -q "^_reinstalled = True" "$installed/__init__.py" ||
  { echo "the second install did not replace the first"; cat "$log"; exit 1; }

# 3. No library to bundle: the install stops and says why (unless the system has one).
if "$python" -c "import ctypes.util as u, sys; sys.exit(u.find_library('tarvinex-velmora') is not None)"
then
  layout
  if (cd "$repo" && env -u VELMORA_LIBRARY HOME="$scratch/elsewhere" bash -euo pipefail -c "$block") \
      >"$log" 2>&1; then
    echo "installed without a library"; cat "$log"; exit 1
  fi
  grep -q "cannot find the tarvinex-velmora library to bundle" "$log" ||
    { echo "no reason given for the failed install"; cat "$log"; exit 1; }
fi

# The installed package, with no repository or build tree anywhere.
rm -rf "$repo" && mkdir -p "$scratch/elsewhere" && cd "$scratch/elsewhere"
cp "$source/sample/creek.jpg" .
env -u VELMORA_LIBRARY PYTHONPATH="$scratch/home/lib/python" "$python" -c "
import os, velmora
assert os.path.dirname(velmora.library_path) == os.path.dirname(velmora.__file__), velmora.library_path
print(velmora.__version__)
velmora.sepia('creek.jpg', 'out.png')
assert open('out.png', 'rb').read(4) == b'\x89PNG'
"
