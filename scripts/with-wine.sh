#!/usr/bin/env bash
# Runs one command (normally the Windows test workflow) with a private,
# headless Wine: a fresh prefix in a temporary folder, Wine's own services
# started before the command so that no test waits on them, and everything
# stopped and removed afterwards.
#   bash scripts/with-wine.sh cmake --workflow --preset windows
set -euo pipefail

prefix="$(mktemp -d "${TMPDIR:-/tmp}/velmora-wine.XXXXXX")"
export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No .NET or Gecko installers, no menu entries, no debugger on a crash.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe,winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY  # headless, even on a desktop

finish() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap finish EXIT

# Make the prefix, then let the server that did it shut down.
timeout 300 wineboot -i </dev/null >/dev/null 2>&1
timeout 120 wineserver -w

# A server that stays up, and Wine's services (started by the first program)
# started here with no pipe of ours: a service that inherited CTest's output
# pipe would keep every test waiting for it to close.
wineserver -p </dev/null >/dev/null 2>&1
timeout 120 wine wineboot </dev/null >/dev/null 2>&1

"$@"
