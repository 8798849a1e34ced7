#!/usr/bin/env bash
# Installs everything the builds, the tests and the tools need, from Debian's archive:
# the Linux toolchain, and mingw-w64 with Wine for the Windows DLL and its tests.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake make g++ binutils pkg-config patch \
  libstb-dev libcli11-dev googletest libgtest-dev libbenchmark-dev python3 python3-pytest python3-pil man-db \
  libjpeg-turbo-progs \
  python3-setuptools python3-pip python3-wheel python3-dask python3-distributed mono-mcs mono-runtime zip unzip \
  dpkg-dev file \
  acl attr zlib1g-dev \
  g++-mingw-w64-x86-64-posix wine wine64 \
  >/dev/null
