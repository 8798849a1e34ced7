"""The README's Python blocks, run as they stand in a folder holding the
sample photograph as creek.jpg (the install block is run by
tests/python_install.sh)."""
import contextlib
import io
import re
import shutil
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
README = (HERE.parent / "README.md").read_text()
BLOCKS = re.findall(r"```python\n(.*?)```", README, re.S)
SAMPLE = HERE.parents[2] / "sample" / "creek.jpg"


def test_the_readme_has_python_blocks():
    assert len(BLOCKS) >= 2


@pytest.mark.parametrize("block", BLOCKS, ids=[f"block{k}" for k in range(len(BLOCKS))])
def test_readme_block_runs_as_written(tmp_path, monkeypatch, block):
    shutil.copy(SAMPLE, tmp_path / "creek.jpg")
    monkeypatch.chdir(tmp_path)
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(block, "README.md", "exec"), {"__name__": "__readme__"})
    # What the comments say a print shows is what it shows.
    promised = [m.strip() for m in re.findall(r"print\(.*?\)\s*# (.*)", block)]
    assert out.getvalue().splitlines() == promised
    # Every output a call outside a try block names is written, every output
    # a print promises too; the refused call writes nothing.
    written = re.findall(r'^velmora\.\w+\("creek\.jpg", "([^"]+)"', block, re.M)
    written += re.findall(r"'(out/[\w.]+)'", block)
    refused = re.findall(r'^[ \t]+velmora\.\w+\("creek\.jpg", "([^"]+)"', block, re.M)
    assert written
    for name in written:
        assert (tmp_path / name).stat().st_size > 0, name
    for name in refused:
        assert not (tmp_path / name).exists(), name
