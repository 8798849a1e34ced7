#!/usr/bin/env bash
# Makes the Debian package and checks it without installing it: its files
# against the list below (nothing more, nothing less), its control fields and
# ldconfig scripts, the library's soname; then unpacks it into a scratch folder
# and builds and runs a consumer against the unpacked files, through pkg-config
# and find_package, and runs the packaged command and shows its manual page.
# (scripts/deb_system_check.sh installs it into the system, in CI.)
#   linux_package.sh BUILD_DIR SOURCE_DIR SCRATCH_DIR
set -euo pipefail
build=$1 source=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || \
  { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/out/tarvinex-velmora_*.deb)
echo "package: $(basename "$deb")"

expected="./usr/bin/velmora
./usr/include/velmora.h
./usr/lib/cmake/tarvinex-velmora/tarvinex-velmora-config-version.cmake
./usr/lib/cmake/tarvinex-velmora/tarvinex-velmora-config.cmake
./usr/lib/cmake/tarvinex-velmora/tarvinex-velmora-targets-release.cmake
./usr/lib/cmake/tarvinex-velmora/tarvinex-velmora-targets.cmake
./usr/lib/libtarvinex-velmora.so
./usr/lib/libtarvinex-velmora.so.1
./usr/lib/libtarvinex-velmora.so.1.0.0
./usr/lib/pkgconfig/tarvinex-velmora.pc
./usr/share/doc/tarvinex-velmora/LICENSE
./usr/share/doc/tarvinex-velmora/THIRD-PARTY-NOTICES
./usr/share/man/man1/velmora.1"
# Files and links only (folders come with them), without link targets.
got=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [ "$got" != "$expected" ]; then
  echo "the package's files differ from the list:"; diff <(echo "$expected") <(echo "$got"); exit 1
fi
[ "$(dpkg-deb -f "$deb" Package)" = tarvinex-velmora ] || { echo "wrong package name"; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6; do
  [[ ",$depends" == *", $lib "* || ",$depends" == *",$lib "* ]] || \
    { echo "Depends lacks $lib: $depends"; exit 1; }
done
dpkg-deb -e "$deb" "$scratch/control"
grep -qE '^\s*ldconfig' "$scratch/control/postinst" && grep -qE '^\s*ldconfig' "$scratch/control/postrm" || \
  { echo "the package runs no ldconfig"; exit 1; }
grep -q '^libtarvinex-velmora 1 tarvinex-velmora' "$scratch/control/shlibs" || \
  { echo "no shlibs entry for the library"; exit 1; }

root=$scratch/root
dpkg-deb -x "$deb" "$root"
soname=$(LC_ALL=C readelf -d "$root/usr/lib/libtarvinex-velmora.so.1.0.0" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = libtarvinex-velmora.so.1 ] || { echo "soname is '$soname'"; exit 1; }
[ "$(readlink "$root/usr/lib/libtarvinex-velmora.so.1")" = libtarvinex-velmora.so.1.0.0 ] || \
  { echo "libtarvinex-velmora.so.1 does not lead to the library"; exit 1; }
# The command finds the library beside it by its rpath, with no variables.
"$root/usr/bin/velmora" --version | grep -q '^velmora ' || { echo "the packaged command fails"; exit 1; }
man -l "$root/usr/share/man/man1/velmora.1" 2>/dev/null | grep -q -- '--gamma' || \
  { echo "the packaged manual page lacks --gamma"; exit 1; }

export LD_LIBRARY_PATH=$root/usr/lib
cc -o "$scratch/consumer-pc" "$source/tests/consumer/consumer.c" \
   $(PKG_CONFIG_PATH=$root/usr/lib/pkgconfig pkg-config --cflags --libs tarvinex-velmora)
(cd "$scratch" && ./consumer-pc)
cmake -S "$source/tests/consumer" -B "$scratch/cmake-build" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$scratch/cmake-build" >/dev/null
(cd "$scratch" && cmake-build/consumer)
echo "the package holds what it should and its files work"
