#!/usr/bin/env bash
# Installs the Debian package into the system with apt-get, as a user would,
# builds the consumer against the installed files with no extra variables
# (plain -l, pkg-config, find_package), runs it and the command, then removes
# the package and checks that nothing is left.
#
# It changes the system, so it runs only as root, in CI (CI=true) or when
# VELMORA_SYSTEM_INSTALL=1 asks for it, and only when neither the package nor
# any file of it is there already (a developer's own install is never touched).
#   deb_system_check.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
repo=$PWD
asked=no
if [ "${CI:-}" = true ] || [ "${VELMORA_SYSTEM_INSTALL:-}" = 1 ]; then asked=yes; fi
if [ "$(id -u)" -ne 0 ] || [ $asked = no ]; then
  echo "deb_system_check: skipped (runs as root, in CI or with VELMORA_SYSTEM_INSTALL=1)"
  exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || \
  { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/out/tarvinex-velmora_*.deb)
if dpkg-query -W -f '${Status}' tarvinex-velmora 2>/dev/null | grep -q installed; then
  echo "deb_system_check: skipped (tarvinex-velmora is installed already)"
  exit 0
fi
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 2)}')
for f in $files; do
  if [ -e "$f" ] || [ -L "$f" ]; then
    echo "deb_system_check: skipped ($f exists already)"
    exit 0
  fi
done

export DEBIAN_FRONTEND=noninteractive
trap 'apt-get remove -y -qq --purge tarvinex-velmora >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
# ldconfig ran: the loader knows the library without any variable.
ldconfig -p | grep -q 'libtarvinex-velmora.so.1 ' || { echo "the loader does not know the library"; exit 1; }
cd "$scratch"
cc -o consumer-plain "$repo/tests/consumer/consumer.c" -ltarvinex-velmora
./consumer-plain
cc -o consumer-pc "$repo/tests/consumer/consumer.c" $(pkg-config --cflags --libs tarvinex-velmora)
./consumer-pc
cmake -S "$repo/tests/consumer" -B cmake-build >/dev/null
cmake --build cmake-build >/dev/null
cmake-build/consumer
velmora --version
cp "$repo/sample/creek.jpg" . && velmora sepia creek.jpg creek-sepia.png && test -s creek-sepia.png
if [ -f /usr/share/man/man1/velmora.1 ]; then man velmora 2>/dev/null | grep -q -- --gamma; fi

apt-get remove -y -qq --purge tarvinex-velmora >/dev/null
for f in $files; do
  if [ -e "$f" ] || [ -L "$f" ]; then echo "left after removal: $f"; exit 1; fi
done
if ldconfig -p | grep -q 'libtarvinex-velmora'; then echo "the loader still lists the library"; exit 1; fi
echo "deb_system_check: installed, consumed and removed cleanly"
