import os
import subprocess
import sys
from pathlib import Path

import pytest

import velmora
from conftest import read_bmp, write_bmp

ALL = ["init", "cleanup", "last_error", "grayscale", "sepia", "invert", "brightness",
       "contrast", "gamma", "levels", "auto_levels", "curves", "vignette", "saturation",
       "hue", "replace", "colorize", "white_balance", "color_balance", "selective"]


def test_every_export_is_declared():
    for name in ALL:
        fn = getattr(velmora._lib, "velmora_" + name)
        assert fn.argtypes is not None, name


@pytest.fixture
def grey(tmp_path):
    src = tmp_path / "in.bmp"
    write_bmp(src, [(128, 128, 128), (0, 0, 0), (255, 255, 255)])
    return src


def test_sepia_values_and_pathlike(grey, tmp_path):
    out = tmp_path / "out.bmp"
    velmora.sepia(grey, out)  # pathlib paths
    assert read_bmp(out)[0][:3] == (173, 154, 120)
    velmora.invert(str(grey), str(out))  # plain strings
    assert [p[:3] for p in read_bmp(out)] == [(127, 127, 127), (255, 255, 255), (0, 0, 0)]


def test_keyword_parameters(tmp_path):
    src, out = tmp_path / "in.bmp", tmp_path / "out.bmp"
    write_bmp(src, [(16, 125, 235)])
    velmora.levels(src, out, black=16, white=235, gamma=1.0)
    assert read_bmp(out)[0][:3] == (0, 127, 255)
    velmora.white_balance(src, out, temperature=10)
    assert read_bmp(out)[0][:3] == (22, 125, 141)


def test_curves_shared_and_per_channel(tmp_path):
    src, out = tmp_path / "in.bmp", tmp_path / "out.bmp"
    write_bmp(src, [(64, 128, 192)])
    velmora.curves(src, out, points=[(0, 255), (255, 0)])
    assert read_bmp(out)[0][:3] == (191, 127, 63)
    line, flipped = [(0, 0), (255, 255)], [(0, 255), (255, 0)]
    velmora.curves(src, out, red=line, green=flipped, blue=line)
    assert read_bmp(out)[0][:3] == (64, 127, 192)
    with pytest.raises(ValueError):
        velmora.curves(src, out, red=line, green=line)
    with pytest.raises(ValueError):
        velmora.curves(src, out, red=line, green=line, blue=[(0, 0), (9, 9), (255, 255)])


def test_failures_raise_the_library_message(grey, tmp_path):
    with pytest.raises(velmora.Error, match=r"^invert: cannot read .*missing\.bmp$"):
        velmora.invert(tmp_path / "missing.bmp", tmp_path / "o.bmp")
    with pytest.raises(velmora.Error) as err:
        velmora.brightness(grey, tmp_path / "o.bmp", value=101)
    assert str(err.value) == "brightness: value 101 out of range -100..+100"
    assert not (tmp_path / "o.bmp").exists()
    with pytest.raises(velmora.Error, match=r"^curves: need 2\.\.64 control points, got 1$"):
        velmora.curves(grey, tmp_path / "o.bmp", points=[(0, 0)])


def test_arguments_that_cannot_reach_c_are_refused(grey, tmp_path):
    with pytest.raises(OverflowError):
        velmora.hue(grey, tmp_path / "o.bmp", degrees=2 ** 40)
    with pytest.raises(TypeError):
        velmora.brightness(grey, tmp_path / "o.bmp", value="10")
    with pytest.raises(ValueError):
        velmora.colorize(grey, tmp_path / "o.bmp", color=(1, 2), intensity=50)


def test_library_path_from_environment(tmp_path):
    env = dict(os.environ, VELMORA_LIBRARY=str(tmp_path / "nothing-here.so"))
    code = "import velmora"
    pkg = Path(velmora.__file__).resolve().parent.parent
    run = subprocess.run([sys.executable, "-c", code], cwd=pkg, env=env,
                         capture_output=True, text=True)
    assert run.returncode != 0
    assert "VELMORA_LIBRARY names no file" in run.stderr
    env["VELMORA_LIBRARY"] = velmora.library_path
    run = subprocess.run([sys.executable, "-c", code], cwd=pkg, env=env)
    assert run.returncode == 0
