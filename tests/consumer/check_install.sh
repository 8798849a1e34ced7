#!/usr/bin/env bash
# Installs the built library into a scratch prefix, then builds and runs a tiny
# consumer against it twice: through find_package and through pkg-config.
#   check_install.sh BUILD_DIR SOURCE_DIR SCRATCH_DIR
set -euo pipefail
build=$1 source=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
# The licence and the notices travel with the library, the command with its
# manual page.
"$prefix/bin/velmora" --version | grep -q '^velmora ' || { echo "velmora is not installed"; exit 1; }
for f in LICENSE THIRD-PARTY-NOTICES velmora.1; do
  [ -n "$(find "$prefix" -name "$f")" ] || { echo "$f is not installed"; exit 1; }
done
libdir=$(dirname "$(find "$prefix" -name 'libtarvinex-velmora.so' | head -n 1)")
export LD_LIBRARY_PATH=$libdir

cmake -S "$source/tests/consumer" -B "$scratch/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake-build" >/dev/null
(cd "$scratch" && "$scratch/cmake-build/consumer")

export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -o "$scratch/consumer-pc" "$source/tests/consumer/consumer.c" \
   $(pkg-config --cflags --libs tarvinex-velmora)
(cd "$scratch" && "$scratch/consumer-pc")
