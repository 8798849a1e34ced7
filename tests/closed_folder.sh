#!/usr/bin/env bash
# Runs a test program's closed-folder case against a folder that takes no new
# file but holds a writable one. The folder is closed here, outside the
# program, with the immutable flag, which binds root too (tests often run as
# root, and Wine has no way to close a folder from inside).
#   closed_folder.sh <folder> <command...>
# Exits 77 (skipped) where the flag cannot be set.
set -u
dir="$1"
shift
chattr -i "$dir" 2>/dev/null
rm -rf "$dir"
mkdir -p "$dir"
printf 'old content' >"$dir/out.png"
if ! chattr +i "$dir" 2>/dev/null; then
  echo "the immutable flag cannot be set here (not root, or not supported)"
  rm -rf "$dir"
  exit 77
fi
VELMORA_CLOSED_FOLDER="$dir" "$@"
status=$?
chattr -i "$dir"
rm -rf "$dir"
exit $status
