"""The README's command-line transcript and C# lines, run as they stand:

- the transcript (the sh block of "$ velmora ..." lines): each command runs in
  a scratch folder with the sample and a photos/ folder of twelve pictures,
  and prints exactly the lines that follow it;
- the C# example (the csharp block) is compiled with the binding, inside a
  Main that names the sample `photo`, and run with the library beside it;
- the C# section's sh block (build, put the library beside, run) runs in a
  scratch copy of the repository's layout, with no loader variables.

The C example has its own test (readme_c_snippet.sh), the Python lines theirs
(bindings/python/tests, python_install.sh), the archive and package commands
theirs (windows_archive.sh, linux_package.sh); the set-up and CI lines are
what CI itself runs.

    readme_snippets.py SOURCE_DIR VELMORA LIBRARY MCS MONO SCRATCH
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

source, velmora, library, mcs, mono, scratch = [Path(a).absolute() for a in sys.argv[1:7]]
readme = (source / "README.md").read_text()
shutil.rmtree(scratch, ignore_errors=True)
scratch.mkdir(parents=True)
env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
problems = []


def section(title):
    match = re.search(rf"^## {re.escape(title)}\n(.*?)(?=^## |\Z)", readme, re.M | re.S)
    if not match:
        sys.exit(f"README.md has no section {title}")
    return match.group(1)


def blocks(text, language):
    return re.findall(rf"^```{language}\n(.*?)^```", text, re.M | re.S)


# The transcript.
transcript = next((b for b in blocks(readme, "sh") if b.startswith("$ velmora")), None)
if transcript is None:
    sys.exit("README.md has no transcript of velmora commands")
cli = scratch / "cli"
(cli / "photos").mkdir(parents=True)
(cli / "sample").symlink_to(source / "sample")
for k in range(12):
    shutil.copy(source / "sample" / "creek.jpg", cli / "photos" / f"{k + 1:02}.jpg")
cli_env = dict(env, PATH=f"{velmora.parent}{os.pathsep}{env['PATH']}")
steps = re.findall(r"^\$ (.*)\n((?:(?!\$ ).*\n)*)", transcript, re.M)
for command, expected in steps:
    run = subprocess.run(["bash", "-c", command], cwd=cli, env=cli_env, text=True,
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT)
    if run.stdout != expected:
        problems.append(f"transcript: `{command}` printed\n{run.stdout}instead of\n{expected}")
print(f"transcript: {len(steps)} commands")

# The C# example inside a Main.
csharp = section("C#")
example = blocks(csharp, "csharp")
if not example:
    sys.exit("README.md: the C# section has no csharp block")
lines = example[0].splitlines()
usings = [l for l in lines if l.startswith("using ")]
body = [l for l in lines if not l.startswith("using ")]
if "using System;" not in usings:
    usings.insert(0, "using System;")
app = scratch / "csharp-snippet"
app.mkdir()
(app / "Snippet.cs").write_text("\n".join(usings) + "\n\nstatic class Snippet\n{\n"
                                "    static int Main(string[] args)\n    {\n"
                                "        string photo = args[0];\n" + "\n".join(body) +
                                "\n        return 0;\n    }\n}\n")
shutil.copy(library, app / "libtarvinex-velmora.so")
subprocess.run([str(mcs), "-nologo", "-out:snippet.exe", "Snippet.cs",
                str(source / "bindings" / "csharp" / "Velmora.cs")], cwd=app, check=True)
run = subprocess.run([str(mono), "snippet.exe", str(source / "sample" / "creek.jpg")], cwd=app,
                     env=env, text=True, capture_output=True)
written = [n for n in re.findall(r'"(photo-[\w-]+\.\w+)"', example[0])]
missing = [n for n in written if not (app / n).is_file()]
if run.returncode != 0 or run.stderr or not written or missing:
    problems.append(f"C# example: exit {run.returncode}, {run.stderr.strip()!r}, "
                    f"missing {missing or written}")
print(f"C# example: {len(written)} files written")

# The C# build-and-run lines, in the repository's layout.
shell = blocks(csharp, "sh")
if not shell:
    sys.exit("README.md: the C# section has no sh block")
repo = scratch / "repo"
(repo / "build" / "release" / "src").mkdir(parents=True)
for name in ("bindings", "sample"):
    (repo / name).symlink_to(source / name)
(repo / "build" / "release" / "src" / "libtarvinex-velmora.so").symlink_to(library)
run = subprocess.run(["bash", "-euo", "pipefail", "-c", shell[0]], cwd=repo, env=dict(env, PATH=f"{mcs.parent}{os.pathsep}{mono.parent}{os.pathsep}{env['PATH']}"),
                     text=True, capture_output=True)
if run.returncode != 0 or "written:" not in run.stdout:
    problems.append(f"C# lines: exit {run.returncode}\n{run.stdout}{run.stderr}")
else:
    print("C# lines: " + run.stdout.splitlines()[0])

for p in problems:
    print(p)
sys.exit(1 if problems else 0)
