#!/usr/bin/env bash
# Makes the Windows release archive, lists it, checks that the MSVC import
# library names exactly the header's functions, and runs the packaged command
# and a C host from the unpacked archive under Wine.
#   windows_archive.sh BUILD_DIR NM WINE HOST_EXE SAMPLE SCRATCH EXPORTS...
set -euo pipefail
build=$1 nm=$2 wine=$3 host=$4 sample=$5 scratch=$6
shift 6
rm -rf "$scratch" && mkdir -p "$scratch"
(cd "$build" && cpack -G ZIP -B "$scratch/out" >/dev/null)
zip=$(ls "$scratch"/out/tarvinex-velmora-*-win64.zip)
echo "archive: $(basename "$zip")"
unzip -q "$zip" -d "$scratch/unpacked"
top=$(ls -d "$scratch"/unpacked/tarvinex-velmora-*-win64)
for f in bin/tarvinex-velmora.dll bin/velmora.exe include/velmora.h lib/tarvinex-velmora.lib \
         lib/tarvinex-velmora.def lib/libtarvinex-velmora.dll.a bindings/csharp/Velmora.cs \
         bindings/python/velmora/__init__.py LICENSE THIRD-PARTY-NOTICES README.txt; do
  [ -f "$top/$f" ] || { echo "missing from the archive: $f"; exit 1; }
done
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
