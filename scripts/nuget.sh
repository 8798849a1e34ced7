#!/usr/bin/env bash
# Makes the NuGet package Tarvinex.Velmora.<version>.nupkg from the C#
# binding (compiled with Mono's mcs), the Windows DLL and the Linux library.
# Needs both builds: `cmake --workflow --preset release` and the Windows one
# (`bash scripts/with-wine.sh cmake --workflow --preset windows`).
#   nuget.sh [RELEASE_BUILD] [WINDOWS_BUILD] [OUTPUT_DIR]
#   (defaults: build/release build/windows build/nuget)
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
release=${1:-$source/build/release} windows=${2:-$source/build/windows}
out=${3:-$source/build/nuget}
version=$(sed -n 's/^#define VELMORA_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' \
          "$source/src/velmora.h" | paste -sd.)
linux=$release/src/libtarvinex-velmora.so
dll=$windows/bin/tarvinex-velmora.dll
for f in "$linux" "$dll"; do
  [ -f "$f" ] || { echo "nuget.sh: $f is missing: build it first" >&2; exit 1; }
done
mkdir -p "$out"
mcs -nologo -warnaserror -optimize -target:library -out:"$out/Tarvinex.Velmora.dll" \
    "$source/bindings/csharp/Velmora.cs"
/usr/bin/python3 "$source/packaging/nuget/make_nupkg.py" "$version" "$out/Tarvinex.Velmora.dll" \
    "$dll" "$linux" "$source" "$out/Tarvinex.Velmora.$version.nupkg"
