#!/usr/bin/env bash
# Makes the Windows release archive with the README's command, checks that it
# holds exactly the files listed below (and every tracked file of the
# bindings), that the MSVC import library names exactly the header's
# functions, and runs the packaged command and a C host from the unpacked
# archive under Wine.
#   windows_archive.sh BUILD_DIR NM WINE HOST_EXE SAMPLE SCRATCH EXPORTS...
set -euo pipefail
build=$1 nm=$2 wine=$3 host=$4 sample=$5 scratch=$6
shift 6
source=$(cd "$(dirname "$0")/.." && pwd)
rm -rf "$scratch" && mkdir -p "$scratch/root/build"

# The README's command, run from a root whose build/windows is this build.
command=$(grep -m1 '^cpack --config build/windows/CPackConfig.cmake' "$source/README.md" || true)
[ -n "$command" ] || { echo "README.md gives no cpack command for the archive"; exit 1; }
ln -s "$build" "$scratch/root/build/windows"
rm -rf "$build/package"
(cd "$scratch/root" && $command >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; exit 1; }
zip=$(ls "$build"/package/tarvinex-velmora-*-win64.zip)
echo "archive: $(basename "$zip")"
unzip -q "$zip" -d "$scratch/unpacked"
top=$(ls -d "$scratch"/unpacked/tarvinex-velmora-*-win64)

# Exactly these files: a stray file of the source tree (a Linux library in the
# Python package, pip's build folder) must not get in.
expected="LICENSE
README.txt
THIRD-PARTY-NOTICES
bin/tarvinex-velmora.dll
bin/velmora.exe
bindings/csharp/Example.cs
bindings/csharp/Test.cs
bindings/csharp/Velmora.cs
bindings/python/README.md
bindings/python/pyproject.toml
bindings/python/setup.py
bindings/python/velmora/__init__.py
bindings/python/velmora/parallel.py
include/velmora.h
lib/cmake/tarvinex-velmora/tarvinex-velmora-config-version.cmake
lib/cmake/tarvinex-velmora/tarvinex-velmora-config.cmake
lib/cmake/tarvinex-velmora/tarvinex-velmora-targets-release.cmake
lib/cmake/tarvinex-velmora/tarvinex-velmora-targets.cmake
lib/libtarvinex-velmora.dll.a
lib/pkgconfig/tarvinex-velmora.pc
lib/tarvinex-velmora.def
lib/tarvinex-velmora.lib"
got=$(cd "$top" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
if [ "$got" != "$(echo "$expected" | LC_ALL=C sort)" ]; then
  echo "the archive's files differ from the list:"
  diff <(echo "$expected" | LC_ALL=C sort) <(echo "$got"); exit 1
fi
# A binding file added to the repository is shipped too (its tests are not).
if tracked=$(git -C "$source" ls-files bindings 2>/dev/null) && [ -n "$tracked" ]; then
  want=$(echo "$tracked" | grep -v '^bindings/python/tests/' | LC_ALL=C sort)
  have=$(echo "$got" | grep '^bindings/' | LC_ALL=C sort)
  [ "$want" = "$have" ] || { echo "the archive's bindings differ from the tracked files:"
                             diff <(echo "$want") <(echo "$have"); exit 1; }
fi
echo "archive: $(echo "$got" | wc -l) files, as listed"
# The import library's symbols: exactly the header's functions.
lib_names=$("$nm" "$top/lib/tarvinex-velmora.lib" | awk '$2 == "T" {print $3}' | sort -u)
want=$(printf '%s\n' "$@" | sort -u)
if [ "$lib_names" != "$want" ]; then
  echo "the .lib names differ from the header:"; diff <(echo "$want") <(echo "$lib_names"); exit 1
fi
echo "lib: $(echo "$lib_names" | wc -l) functions"
cp "$sample" "$scratch/photo.jpg"
cd "$scratch"
"$wine" "$top/bin/velmora.exe" sepia photo.jpg photo-sepia.png
head -c 4 photo-sepia.png | od -An -c | grep -q 'P   N   G' && echo "packaged velmora.exe works"
cp "$host" "$top/bin/"
(cd "$top/bin" && "$wine" "./$(basename "$host")") && echo "C host works with the packaged DLL"
