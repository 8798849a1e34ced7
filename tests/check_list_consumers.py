"""Every adjustment of the list is named wherever the project lists them by
hand: the README's tables and gallery, the gallery script and its pictures,
and the Python binding's exports, their keyword names (the options' names:
"--sat-min" is sat_min, "--from" is from_) and the ranges it checks.

    check_list_consumers.py LIST_JSON SOURCE_DIR
"""
import ast
import json
import keyword
import sys
from pathlib import Path

adjustments = json.loads(Path(sys.argv[1]).read_text())
root = Path(sys.argv[2])
readme = (root / "README.md").read_text()
gallery_script = (root / "scripts" / "gallery.sh").read_text()
binding = ast.parse((root / "bindings" / "python" / "velmora" / "__init__.py").read_text())

exported = set()
ranges = None
functions = {node.name: {a.arg for a in node.args.args + node.args.kwonlyargs}
             for node in binding.body if isinstance(node, ast.FunctionDef)}
for node in ast.walk(binding):
    if isinstance(node, ast.Assign) and any(
            isinstance(t, ast.Name) and t.id == "__all__" for t in node.targets):
        exported = {elt.value for elt in node.value.elts}
    if isinstance(node, ast.Assign) and any(
            isinstance(t, ast.Name) and t.id == "_RANGES" for t in node.targets):
        # Literals and tuple repetition only: evaluated with no names at all.
        ranges = eval(compile(ast.Expression(node.value), "_RANGES", "eval"), {"__builtins__": {}})

problems = []
if ranges is None:
    problems.append("bindings/python: no _RANGES table")
    ranges = {}
elif set(ranges) != {adj["name"] for adj in adjustments}:
    problems.append(f"bindings/python: _RANGES names {sorted(ranges)}")
for adj in adjustments:
    name, command = adj["name"], adj["command"]
    if f"velmora_{name}" not in readme:
        problems.append(f"README: the C API table lacks velmora_{name}")
    if f"`{command}`" not in readme:
        problems.append(f"README: the command table lacks `{command}`")
    if f"docs/gallery/{name}.jpg" not in readme:
        problems.append(f"README: the gallery lacks docs/gallery/{name}.jpg")
    if not (root / "docs" / "gallery" / f"{name}.jpg").is_file():
        problems.append(f"docs/gallery/{name}.jpg is missing")
    if f"run {name} " not in gallery_script.replace("  ", " ") and \
            f"\nrun {name}" not in gallery_script:
        problems.append(f"scripts/gallery.sh makes no picture for {name}")
    if name not in exported:
        problems.append(f"bindings/python: __all__ lacks {name}")
    for option in dict.fromkeys(p["option"] for p in adj["params"]):
        word = option.lstrip("-").replace("-", "_")
        word += "_" if keyword.iskeyword(word) else ""
        if word not in functions.get(name, ()):
            problems.append(f"bindings/python: {name}() has no keyword {word} for {option}")
    expected = [(p["min"], p["max"]) for p in adj["params"]]
    got = [tuple(r) for r in ranges.get(name, ())]
    # Compared as the library compares: reals as float, ints exactly.
    if len(got) != len(expected) or any(
            float(a) != float(b) or type(a) is int and a != b
            for pair_g, pair_e in zip(got, expected) for a, b in zip(pair_g, pair_e)):
        problems.append(f"bindings/python: _RANGES[{name!r}] is {got}, the list says {expected}")
    for param in adj["params"]:
        if param["option"] not in readme and param["option"] != "--points":
            problems.append(f"README: {command} lacks its option {param['option']}")

for p in problems:
    print(p)
sys.exit(1 if problems else 0)
