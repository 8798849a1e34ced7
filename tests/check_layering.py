#!/usr/bin/python3
"""Checks that no folder of src/ includes a header of a folder above it.

The build already refuses such an include (each folder's include path holds
only the folders it may use); this test also catches a relative path such as
"../codecs/codec.h" that would slip past it. The rules are read from
src/CMakeLists.txt (VELMORA_USES_<folder>), so they are declared once.

    check_layering.py SOURCE_ROOT
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1]) / "src"
cmake = (root / "CMakeLists.txt").read_text()
uses = {m.group(1): m.group(2).split() for m in
        re.finditer(r'set\(VELMORA_USES_(\w+)\s*"?([^")]*)"?\)', cmake)}
if not uses or "top" not in uses:
    sys.exit("no VELMORA_USES_ rules found in src/CMakeLists.txt")


def folder_of(path):
    rel = path.relative_to(root)
    return rel.parts[0] if len(rel.parts) > 1 else "top"


headers = {}
for path in root.rglob("*.h"):
    headers.setdefault(path.name, []).append(path)

problems = []
for path in sorted(list(root.rglob("*.cpp")) + list(root.rglob("*.h"))):
    here = folder_of(path)
    allowed = {here, *uses.get(here, [])}
    for number, line in enumerate(path.read_text().splitlines(), 1):
        m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
        if not m:
            continue
        name = m.group(1)
        if "/" in name:
            problems.append(f"{path.relative_to(root)}:{number}: includes by a path: {name}")
            continue
        found = [folder_of(h) for h in headers.get(name, [])]
        if not found:
            continue  # a header of a dependency, found on the system include path
        if not any(f in allowed for f in found):
            problems.append(f"{path.relative_to(root)}:{number}: {here} may not use "
                            f"{'/'.join(found)} ({name})")

for p in problems:
    print(p)
sys.exit(1 if problems else 0)
