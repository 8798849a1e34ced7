#!/usr/bin/env bash
# The README's C example, compiled as it stands against the built library and
# run on the sample: it must write its output and return 0.
#   readme_c_snippet.sh SOURCE_DIR LIBRARY SCRATCH_DIR
set -euo pipefail
source=$1 library=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
/usr/bin/python3 - "$source/README.md" "$scratch/example.c" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
block = re.search(r"```c\n(.*?)```", text, re.S)
if not block:
    sys.exit("README.md has no C example")
open(sys.argv[2], "w").write(block.group(1))
PY
cc -Wall -Werror -I "$source/src" "$scratch/example.c" -o "$scratch/example" \
   -L "$(dirname "$library")" -l:"$(basename "$library")" -Wl,-rpath,"$(dirname "$library")"
cp "$source/sample/creek.jpg" "$scratch/"
cd "$scratch"
./example
test -s creek-levels.png
echo "the README's C example works"
