#!/usr/bin/env bash
# Compiles the C# binding with its example and checks, and runs the checks
# against this build's library.
#   csharp_binding.sh MCS MONO SOURCE_DIR LIBRARY_DIR SCRATCH_DIR
set -euo pipefail
mcs=$1 mono=$2 source=$3 libdir=$4 scratch=$5
rm -rf "$scratch" && mkdir -p "$scratch"
"$mcs" -nologo -warnaserror -out:"$scratch/example.exe" \
  "$source/bindings/csharp/Example.cs" "$source/bindings/csharp/Velmora.cs"
"$mcs" -nologo -warnaserror -out:"$scratch/test.exe" \
  "$source/bindings/csharp/Test.cs" "$source/bindings/csharp/Velmora.cs"
export LD_LIBRARY_PATH=$libdir
"$mono" "$scratch/test.exe" "$source/sample/creek.jpg" "$scratch"
(cd "$scratch" && "$mono" example.exe "$source/sample/creek.jpg")
