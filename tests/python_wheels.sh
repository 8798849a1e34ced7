#!/usr/bin/env bash
# Makes the two wheels with scripts/wheels.sh and installs each into a fresh
# target folder with pip: the Linux one must import and adjust a picture with
# no loader variables and no repository around; the Windows one (pip told the
# platform) must put the very DLL built here beside the package, under the
# name its loader tries. Needs the Linux release build too; without it the
# test is skipped (77).
#   python_wheels.sh SOURCE_DIR WINDOWS_BUILD RELEASE_BUILD SCRATCH
set -euo pipefail
source=$1 windows=$2 release=$3 scratch=$4
if [ ! -f "$release/src/libtarvinex-velmora.so" ]; then
  echo "skipped: no Linux library in $release (run the release preset first)"; exit 77
fi
rm -rf "$scratch" && mkdir -p "$scratch/run"
bash "$source/scripts/wheels.sh" "$release" "$windows" "$scratch/out" >/dev/null
version=$(sed -n 's/^version = "\(.*\)"$/\1/p' "$source/bindings/python/pyproject.toml")
linux=$scratch/out/velmora-$version-py3-none-linux_x86_64.whl
win=$scratch/out/velmora-$version-py3-none-win_amd64.whl
pip() { env -u VELMORA_LIBRARY /usr/bin/python3 -m pip -q --disable-pip-version-check \
          --no-cache-dir install --no-deps --no-index "$@" 2>&1 | grep -v "as the 'root' user" || true; }

# Linux: installed, imported from the target folder alone, one call made.
pip --target "$scratch/linux" "$linux"
cp "$source/sample/creek.jpg" "$scratch/run/in.jpg"
(cd "$scratch/run" && env -u VELMORA_LIBRARY -u LD_LIBRARY_PATH PYTHONPATH="$scratch/linux" \
   /usr/bin/python3 -c '
import velmora, sys
velmora.sepia("in.jpg", "out.png")
assert velmora.__file__.startswith(sys.argv[1]), velmora.__file__
' "$scratch/linux")
[[ $(head -c 4 "$scratch/run/out.png" | od -An -c | tr -d ' ') == '211PNG' ]] ||
  { echo "the Linux wheel's package wrote no PNG"; exit 1; }
cmp "$scratch/linux/velmora/libtarvinex-velmora.so" "$release/src/libtarvinex-velmora.so" ||
  { echo "the Linux wheel holds another library"; exit 1; }

# Windows: installed for its platform; its DLL is the one built here.
pip --platform win_amd64 --only-binary=:all: --target "$scratch/windows" "$win"
cmp "$scratch/windows/velmora/tarvinex-velmora.dll" "$windows/bin/tarvinex-velmora.dll" ||
  { echo "the Windows wheel does not hold this build's DLL"; exit 1; }
for w in "$linux" "$win"; do
  native=$(unzip -Z1 "$w" | grep -c -E '\.(so|dll)$' || true)
  [ "$native" = 1 ] || { echo "$(basename "$w"): $native native libraries, not 1"; exit 1; }
  unzip -p "$w" "velmora-$version.dist-info/WHEEL" | grep -qx 'Root-Is-Purelib: false' ||
    { echo "$(basename "$w") is marked pure"; exit 1; }
done
echo "wheels: $(basename "$linux"), $(basename "$win") installed and checked"
