"""The manual page, as `man` shows it, against the command and the list: every
adjustment has its section, every option that its --help shows is there with
the range the list gives, and every example in it runs on the sample.

    check_man_page.py VELMORA MAN_PAGE LIST_JSON SAMPLE SCRATCH
"""
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

velmora, page, list_json, sample, scratch = [os.path.abspath(a) for a in sys.argv[1:6]]
adjustments = json.loads(Path(list_json).read_text())
env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="100", MAN_KEEP_FORMATTING="")
shown = subprocess.run(["man", "-l", page], capture_output=True, text=True, env=env, check=True)
# Bold and underline as man writes them to a pipe: "c\bc", "_\bc".
text = re.sub(r".\x08", "", shown.stdout)

problems = []
for heading in ["NAME", "SYNOPSIS", "ADJUSTMENTS", "BATCH MODE", "FORMATS", "METADATA",
                "EXIT STATUS", "SIGNALS", "ENVIRONMENT", "EXAMPLES"]:
    if not re.search(rf"^{heading}$", text, re.M):
        problems.append(f"no section {heading}")

# The adjustments' sections: "   name" lines between ADJUSTMENTS and the next heading.
part = re.search(r"^ADJUSTMENTS\n(.*?)^[A-Z]", text, re.M | re.S)
sections = {}
if part:
    for chunk in re.split(r"^   (?=\S)", part.group(1), flags=re.M)[1:]:
        name, _, body = chunk.partition("\n")
        sections[name.strip()] = body
commands = {adj["command"] for adj in adjustments}
for extra in sorted(set(sections) - commands):
    problems.append(f"a section for {extra}, which is no adjustment")

# The options every adjustment shows are the command's own (batch, output):
# they belong in BATCH MODE, the rest in each adjustment's section.
def help_options(command):
    helped = subprocess.run([velmora, command, "--help"], capture_output=True, text=True).stdout
    return set(re.findall(r"^\s+(?:-\w,)?(--[a-z][\w-]*)", helped, re.M))


shown_options = {adj["command"]: help_options(adj["command"]) for adj in adjustments}
BATCH = set.intersection(*shown_options.values()) if shown_options else set()
batch_part = re.search(r"^BATCH MODE\n(.*?)^[A-Z]", text, re.M | re.S)
for option in sorted(BATCH - {"--help"}):
    if not batch_part or not re.search(rf"(?<![\w-]){re.escape(option)}(?![\w-])",
                                       batch_part.group(1)):
        problems.append(f"BATCH MODE: {option} is missing")
if not re.search(r"^CHAINS$", text, re.M):
    problems.append("no section CHAINS")
shutil.rmtree(scratch, ignore_errors=True)
os.makedirs(scratch)
shutil.copy(sample, os.path.join(scratch, "in.jpg"))
examples = 0
for adj in adjustments:
    command = adj["command"]
    body = sections.get(command)
    if body is None:
        problems.append(f"no section for {command}")
        continue
    body_flat = " ".join(body.split())
    options = shown_options[command] - BATCH
    if not options and adj["params"]:
        problems.append(f"{command}: --help shows no options")
    for option in sorted(options):
        if not re.search(rf"(?<![\w-]){re.escape(option)}(?![\w-])", body):
            problems.append(f"{command}: {option} is missing")
    # The range of each option, and of the curve's points (its mode parameter
    # is no option of its own).
    seen = set()
    for param in adj["params"]:
        if param["option"] in seen and param["kind"] != "points":
            continue
        seen.add(param["option"])
        if param["min"] <= -2**31:
            want = "any integer"
        else:
            fmt = "{:.1f}" if param["kind"] == "real" else "{:.0f}"
            want = fmt.format(param["min"]) + ".." + fmt.format(param["max"])
        if want not in body_flat:
            problems.append(f"{command}: {param['option']} lacks its range {want}")
    lines = [l.strip() for l in body.splitlines() if l.strip().startswith(f"velmora {command} ")]
    if not lines:
        problems.append(f"{command}: no example")
    for line in lines:
        args = line.split()[1:]
        out = os.path.join(scratch, "out.jpg")
        if os.path.exists(out):
            os.remove(out)
        run = subprocess.run([velmora] + args, cwd=scratch, capture_output=True, text=True)
        if run.returncode != 0 or not os.path.getsize(out):
            problems.append(f"example fails ({run.returncode}): {line}: {run.stderr.strip()}")
        examples += 1

for p in problems:
    print(p)
if problems:
    sys.exit(1)
print(f"manual page: {len(sections)} adjustments, every option, {examples} examples run; "
      f"--gamma shown {text.count('--gamma')} times")
