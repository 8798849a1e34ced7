#!/usr/bin/env bash
# Builds and runs every test suite: the Linux release build (and, in CI, its
# Debian package installed into the system and removed again), the sanitizer
# build, then the Windows DLL (cross-built with mingw-w64) under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --workflow --preset release
bash scripts/deb_system_check.sh build/release
cmake --workflow --preset sanitize
bash scripts/with-wine.sh cmake --workflow --preset windows
