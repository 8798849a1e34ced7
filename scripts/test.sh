#!/usr/bin/env bash
# Builds and runs every test suite: the release build, then the sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --workflow --preset release
cmake --workflow --preset sanitize
