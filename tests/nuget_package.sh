#!/usr/bin/env bash
# Makes the NuGet package with scripts/nuget.sh, checks its entries against
# the list below and its libraries against the built ones, then unpacks it
# and runs a small C# program, compiled against the package's assembly, with
# Mono and the package's Linux library beside it (as a restore puts it), no
# loader variables set. Needs the Linux release build too; without it the test
# is skipped (77).
#   nuget_package.sh SOURCE_DIR WINDOWS_BUILD RELEASE_BUILD MCS MONO SCRATCH
set -euo pipefail
source=$1 windows=$2 release=$3 mcs=$4 mono=$5 scratch=$6
if [ ! -f "$release/src/libtarvinex-velmora.so" ]; then
  echo "skipped: no Linux library in $release (run the release preset first)"; exit 77
fi
rm -rf "$scratch" && mkdir -p "$scratch"
PATH=$(dirname "$mcs"):$PATH bash "$source/scripts/nuget.sh" "$release" "$windows" "$scratch/out" \
  >/dev/null
nupkg=$(ls "$scratch"/out/Tarvinex.Velmora.*.nupkg)
echo "package: $(basename "$nupkg")"

expected='LICENSE.txt
THIRD-PARTY-NOTICES.txt
Tarvinex.Velmora.nuspec
[Content_Types].xml
_rels/.rels
lib/net472/Tarvinex.Velmora.dll
runtimes/linux-x64/native/libtarvinex-velmora.so
runtimes/win-x64/native/tarvinex-velmora.dll'
got=$(unzip -Z1 "$nupkg" | LC_ALL=C sort)
if [ "$got" != "$(echo "$expected" | LC_ALL=C sort)" ]; then
  echo "the package's entries differ from the list:"
  diff <(echo "$expected" | LC_ALL=C sort) <(echo "$got"); exit 1
fi
mkdir "$scratch/unpacked"
unzip -q "$nupkg" -d "$scratch/unpacked"
u=$scratch/unpacked
cmp "$u/runtimes/win-x64/native/tarvinex-velmora.dll" "$windows/bin/tarvinex-velmora.dll"
cmp "$u/runtimes/linux-x64/native/libtarvinex-velmora.so" "$release/src/libtarvinex-velmora.so"
/usr/bin/python3 - "$u/Tarvinex.Velmora.nuspec" "$(basename "$nupkg")" <<'PY'
import sys
import xml.etree.ElementTree as ET
ns = {"n": "http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd"}
meta = ET.parse(sys.argv[1]).getroot().find("n:metadata", ns)
version = meta.findtext("n:version", namespaces=ns)
if meta.findtext("n:id", namespaces=ns) != "Tarvinex.Velmora" or \
        sys.argv[2] != f"Tarvinex.Velmora.{version}.nupkg":
    sys.exit(f"nuspec: id or version wrong for {sys.argv[2]}")
if meta.find("n:license", ns).text != "LICENSE.txt":
    sys.exit("nuspec: the licence file is not named")
PY

# A user's program, built against the package's assembly alone.
mkdir "$scratch/app"
cat > "$scratch/app/App.cs" <<'CS'
using System;
using Tarvinex.Velmora;

static class App
{
    static int Main(string[] args)
    {
        Velmora.Sepia(args[0], "sepia.png");
        try
        {
            Velmora.Gamma(args[0], "gamma.jpg", 9.0f);
            return 1;
        }
        catch (VelmoraException e)
        {
            Console.WriteLine("refused: " + e.Message);
        }
        Console.WriteLine("package works");
        return 0;
    }
}
CS
cp "$u/lib/net472/Tarvinex.Velmora.dll" "$u/runtimes/linux-x64/native/libtarvinex-velmora.so" \
   "$scratch/app/"
cd "$scratch/app"
"$mcs" -nologo -warnaserror -r:Tarvinex.Velmora.dll -out:app.exe App.cs
env -u LD_LIBRARY_PATH "$mono" app.exe "$source/sample/creek.jpg"
head -c 4 sepia.png | od -An -c | grep -q 'P   N   G' || { echo "no PNG written"; exit 1; }
