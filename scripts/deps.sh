#!/usr/bin/env bash
# Installs everything the build, the tests and the tools need, from Debian's archive.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake make g++ binutils pkg-config \
  libstb-dev libcli11-dev googletest libgtest-dev python3 python3-pytest \
  >/dev/null
