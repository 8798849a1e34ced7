import json
import os
import re
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


def test_every_export_is_wrapped():
    for name in ALL:
        assert name in velmora.__all__ and callable(getattr(velmora, name)), name


@pytest.mark.parametrize("reset", [velmora.init, velmora.cleanup])
def test_last_error_follows_calls_and_resets(grey, tmp_path, reset):
    missing = tmp_path / "missing.bmp"
    with pytest.raises(velmora.Error) as err:
        velmora.sepia(missing, tmp_path / "o.bmp")
    assert velmora.last_error() == str(err.value) == f"sepia: cannot read {missing}"
    assert reset() is None
    assert velmora.last_error() == ""
    with pytest.raises(velmora.Error):
        velmora.invert(missing, tmp_path / "o.bmp")
    velmora.invert(grey, tmp_path / "o.bmp")
    assert velmora.last_error() == ""
    # Still usable after either.
    velmora.sepia(grey, tmp_path / "o.bmp")


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


# Every refused value, whoever refuses it, raises velmora.Error (a ValueError)
# whose message starts with the adjustment and names the parameter as Python
# calls it; nothing is written.
@pytest.mark.parametrize("call, message", [
    # Beyond a C int: ctypes would raise OverflowError or wrap the value.
    (lambda g, o: velmora.hue(g, o, degrees=2 ** 40),
     "hue: degrees 1099511627776 out of range -2147483648..+2147483647"),
    (lambda g, o: velmora.hue(g, o, degrees=-(2 ** 31) - 1),
     "hue: degrees -2147483649 out of range -2147483648..+2147483647"),
    (lambda g, o: velmora.brightness(g, o, value=2 ** 40),
     "brightness: value 1099511627776 out of range -100..+100"),
    (lambda g, o: velmora.selective(g, o, hue=2 ** 31),
     "selective: hue 2147483648 out of range -2147483648..+2147483647"),
    (lambda g, o: velmora.curves(g, o, points=[(0, 0), (2 ** 40, 255)]),
     "curves: points[1] x 1099511627776 out of range 0..255"),
    (lambda g, o: velmora.gamma(g, o, gamma=2 ** 2000), "gamma: gamma " + str(2 ** 2000)),
    (lambda g, o: velmora.gamma(g, o, gamma=float("nan")), "gamma: gamma nan out of range"),
    (lambda g, o: velmora.levels(g, o, gamma=float("inf")), "levels: gamma inf out of range"),
    # Ranges, named as the library's messages cannot (it has no Python names).
    (lambda g, o: velmora.brightness(g, o, value=101),
     "brightness: value 101 out of range -100..+100"),
    (lambda g, o: velmora.contrast(g, o, value=-101),
     "contrast: value -101 out of range -100..+100"),
    (lambda g, o: velmora.levels(g, o, black=-1), "levels: black -1 out of range 0..255"),
    (lambda g, o: velmora.levels(g, o, white=256), "levels: white 256 out of range 0..255"),
    (lambda g, o: velmora.levels(g, o, black=200, white=100),
     "levels: white 100 must be above black 200"),
    (lambda g, o: velmora.levels(g, o, black=9, white=9), "levels: white 9 must be above black 9"),
    (lambda g, o: velmora.vignette(g, o, strength=101, radius=50),
     "vignette: strength 101 out of range 0..100"),
    (lambda g, o: velmora.vignette(g, o, strength=5, radius=0),
     "vignette: radius 0 out of range 1..100"),
    (lambda g, o: velmora.saturation(g, o, 200), "saturation: amount 200 out of range"),
    (lambda g, o: velmora.saturation(g, o, value=-101), "saturation: value -101 out of range"),
    (lambda g, o: velmora.replace(g, o, source=(0, 0, 0), to=(0, 256, 0)),
     "replace: to[1] 256 out of range 0..255"),
    (lambda g, o: velmora.replace(g, o, from_=(-5, 0, 0), to=(0, 0, 0)),
     "replace: from_[0] -5 out of range 0..255"),
    (lambda g, o: velmora.replace(g, o, (0, 0, 0), target=(0, 0, 999)),
     "replace: target[2] 999 out of range 0..255"),
    (lambda g, o: velmora.replace(g, o, (0, 0, 300), (0, 0, 0)),
     "replace: from_[2] 300 out of range 0..255"),
    (lambda g, o: velmora.replace(g, o, (0, 0, 0), (-1, 0, 0)),
     "replace: to[0] -1 out of range 0..255"),
    (lambda g, o: velmora.replace(g, o, (0, 0, 0), (0, 0, 0), tolerance=256),
     "replace: tolerance 256 out of range 0..255"),
    (lambda g, o: velmora.colorize(g, o, color=(0, 256, 0), intensity=5),
     "colorize: color[1] 256 out of range 0..255"),
    (lambda g, o: velmora.colorize(g, o, color=(0, 0, 0), intensity=101),
     "colorize: intensity 101 out of range 0..100"),
    (lambda g, o: velmora.white_balance(g, o, temperature=51),
     "white_balance: temperature 51 out of range -50..+50"),
    (lambda g, o: velmora.color_balance(g, o, highlights=(0, 0, -101)),
     "color_balance: highlights[2] -101 out of range -100..+100"),
    (lambda g, o: velmora.selective(g, o, range=0), "selective: range 0 out of range 1..180"),
    (lambda g, o: velmora.selective(g, o, sat_min=101),
     "selective: sat_min 101 out of range 0..100"),
    (lambda g, o: velmora.selective(g, o, green=(0, 101)),
     "selective: green[1] 101 out of range -100..+100"),
    (lambda g, o: velmora.curves(g, o, points=[(0, 0), (256, 5)]),
     "curves: points[1] x 256 out of range 0..255"),
    (lambda g, o: velmora.curves(g, o, points=[(0, 0), (0, 5)]),
     "curves: points[1] x 0 must be above points[0] x 0"),
    (lambda g, o: velmora.curves(g, o, red=[(0, 0), (255, 255)], green=[(0, 0), (255, 255)],
                                 blue=[(9, 0), (5, 255)]),
     "curves: blue[1] x 5 must be above blue[0] x 9"),
    (lambda g, o: velmora.curves(g, o, points=[(0, 0)]), "curves: need 2..64 control points"),
    # Shapes and paths.
    (lambda g, o: velmora.colorize(g, o, color=(1, 2), intensity=50),
     "colorize: color must be three values"),
    (lambda g, o: velmora.sepia(g, str(o) + "\0"), "sepia: output_path contains a NUL"),
    (lambda g, o: velmora.curves(g, o, points=[(0, 0)], red=[(0, 0)]),
     "curves: give either points or red/green/blue"),
])
def test_refused_values_raise_error_naming_the_parameter(grey, tmp_path, call, message):
    with pytest.raises(velmora.Error) as err:
        call(grey, tmp_path / "o.bmp")
    assert isinstance(err.value, ValueError)
    assert str(err.value).startswith(message)
    assert not any(tmp_path.glob("o*"))


def test_range_ends_are_accepted(grey, tmp_path):
    out = tmp_path / "o.bmp"
    velmora.hue(grey, out, degrees=2 ** 31 - 1)
    velmora.hue(grey, out, degrees=-(2 ** 31))
    velmora.selective(grey, out, hue=-(2 ** 31), range=180, sat_min=100, red=(-100, 100))
    velmora.levels(grey, out, black=254, white=255)
    velmora.vignette(grey, out, strength=100, radius=1)
    velmora.replace(grey, out, (255, 255, 255), (0, 0, 0), tolerance=255)
    velmora.curves(grey, out, points=[(0, 255), (255, 0)])
    assert out.exists()


@pytest.mark.parametrize("call", [
    lambda g, o: velmora.brightness(g, o, value="10"),
    lambda g, o: velmora.brightness(g, o, value=1.5),
    lambda g, o: velmora.brightness(g, o, value=True),
    lambda g, o: velmora.hue(g, o, degrees=None),
    lambda g, o: velmora.colorize(g, o, color=None, intensity=5),
    lambda g, o: velmora.sepia(g, 42),
])
def test_wrong_types_raise_type_error(grey, tmp_path, call):
    with pytest.raises(TypeError) as err:
        call(grey, tmp_path / "o.bmp")
    assert not isinstance(err.value, velmora.Error)


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


@pytest.mark.parametrize("call, exc, words", [
    # A path cut short at a NUL would make the library write another file.
    (lambda g, o: velmora.sepia(g, str(o) + "\0evil"), ValueError, "output_path contains a NUL"),
    (lambda g, o: velmora.sepia(str(g) + "\0x", o), ValueError, "input_path contains a NUL"),
    (lambda g, o: velmora.sepia(g, os.fsencode(o) + b"\0evil"), ValueError,
     "output_path contains a NUL"),
    (lambda g, o: velmora.sepia(g, 42), TypeError, "output_path must be a path"),
    # Real numbers as strict as ints.
    (lambda g, o: velmora.gamma(g, o, gamma="1.5"), TypeError, "gamma must be a real number"),
    (lambda g, o: velmora.gamma(g, o, gamma=True), TypeError, "gamma must be a real number"),
    (lambda g, o: velmora.levels(g, o, 0, 255, gamma=None), TypeError, "gamma must be"),
    # The value as given, not rounded to look like the bound.
    (lambda g, o: velmora.gamma(g, o, gamma=0.09999999), ValueError,
     "gamma 0.09999999 out of range 0.1..5.0"),
    # Points are pairs; every parameter error names the parameter.
    (lambda g, o: velmora.curves(g, o, points=[(0, 0, 0), (255, 255, 255)]), ValueError,
     "points[0] must be an (x, y) pair"),
    (lambda g, o: velmora.curves(g, o, points=5), TypeError, "points must be a sequence"),
    (lambda g, o: velmora.selective(g, o, red=5), TypeError, "red must be a pair"),
    (lambda g, o: velmora.selective(g, o, blue=(1, 2, 3)), ValueError, "blue must be a pair"),
    (lambda g, o: velmora.replace(g, o, (1, 2, 3), "abc"), TypeError, "to must be three"),
    (lambda g, o: velmora.replace(g, o, (1, 2, 3), target="abc"), TypeError,
     "target must be three"),
    (lambda g, o: velmora.color_balance(g, o, midtones=(1, 2)), ValueError, "midtones must be"),
    (lambda g, o: velmora.curves(g, o, points=[(0, 0), (255, 1.5)]), TypeError, "points[1] y"),
])
def test_arguments_are_refused_by_name(grey, tmp_path, call, exc, words):
    with pytest.raises(exc) as err:
        call(grey, tmp_path / "o.bmp")
    assert words in str(err.value)
    assert not any(tmp_path.glob("o*"))


def test_version_is_the_headers():
    header = (Path(__file__).resolve().parents[3] / "src" / "velmora.h").read_text()
    parts = [re.search(rf"#define VELMORA_VERSION_{p} (\d+)", header).group(1)
             for p in ("MAJOR", "MINOR", "PATCH")]
    assert velmora.__version__ == ".".join(parts)


def test_exports_only_its_api():
    public = {n for n in vars(velmora) if not n.startswith("_")}
    assert set(velmora.__all__) <= public
    for name in velmora.__all__:
        assert name in ("Error", "library_path") or callable(getattr(velmora, name))


# In a fresh interpreter: the names outside __all__ that a module shows
# (imports, helpers, typing aliases) are none.
# In a fresh interpreter: a module shows no name outside its __all__ (no
# imports, helpers or typing aliases); a loaded submodule is the only addition.
@pytest.mark.parametrize("module, first, extra", [
    ("velmora", "velmora", set()),
    ("velmora", "velmora.parallel", {"parallel"}),
    ("velmora.parallel", "velmora.parallel", set()),
])
def test_namespace_is_only_the_api(module, first, extra):
    code = (f"import importlib, json; importlib.import_module({first!r}); "
            f"m = importlib.import_module({module!r}); "
            "print(json.dumps([sorted(n for n in dir(m) if not n.startswith('_')), m.__all__]))")
    pkg = Path(velmora.__file__).resolve().parent.parent
    run = subprocess.run([sys.executable, "-c", code], cwd=pkg, capture_output=True, text=True,
                         check=True)
    public, listed = json.loads(run.stdout)
    assert sorted(public) == sorted(set(listed) | extra)


def test_package_version_is_the_headers():
    project = (Path(__file__).resolve().parents[1] / "pyproject.toml").read_text()
    assert f'version = "{velmora.__version__}"' in project


def test_real_ranges_are_the_librarys_float_ranges(grey, tmp_path):
    # 5.0000001 rounds to 5.0f, which the library accepts; a double
    # comparison would refuse it.
    velmora.gamma(grey, tmp_path / "o.bmp", gamma=5.0000001)
    velmora.levels(grey, tmp_path / "o.bmp", 0, 255, gamma=0.1)
    assert (tmp_path / "o.bmp").exists()


# Each adjustment called with the command's option names as keywords (the
# option without "--", "-" as "_", a trailing "_" on a Python keyword), against
# the same call by position: the same file.
@pytest.mark.parametrize("name, by_position, by_option", [
    ("brightness", [25], dict(value=25)),
    ("contrast", [40], dict(value=40)),
    ("gamma", [1.8], dict(gamma=1.8)),
    ("levels", [30, 215, 1.2], dict(black=30, white=215, gamma=1.2)),
    ("curves", [[(0, 0), (64, 40), (255, 255)]], dict(points=[(0, 0), (64, 40), (255, 255)])),
    ("vignette", [80, 60], dict(strength=80, radius=60)),
    ("saturation", [70], dict(amount=70)),
    ("hue", [150], dict(degrees=150)),
    ("replace", [(128, 128, 128), (255, 80, 0), 25], {"from_": (128, 128, 128),
                                                      "to": (255, 80, 0), "tolerance": 25}),
    ("colorize", [(40, 110, 220), 45], dict(color=(40, 110, 220), intensity=45)),
    ("white_balance", [5], dict(temperature=5)),
    ("color_balance", [(0, 0, 10), (0, 5, 0), (8, 4, 0)],
     dict(shadows=(0, 0, 10), midtones=(0, 5, 0), highlights=(8, 4, 0))),
    ("selective", [90, 45, 10, (60, 40), (0, 0), (-50, 0)],
     dict(hue=90, range=45, sat_min=10, red=(60, 40), green=(0, 0), blue=(-50, 0))),
])
def test_keywords_are_the_option_names(tmp_path, name, by_position, by_option):
    src = tmp_path / "in.bmp"
    write_bmp(src, [(128, 128, 128), (200, 40, 30), (20, 180, 60), (10, 20, 250)])
    fn = getattr(velmora, name)
    fn(src, tmp_path / "a.bmp", *by_position)
    fn(src, tmp_path / "b.bmp", **by_option)
    assert (tmp_path / "a.bmp").read_bytes() == (tmp_path / "b.bmp").read_bytes()


# The names before the options' names, still accepted, give the same file.
@pytest.mark.parametrize("name, old, new", [
    ("saturation", dict(value=-60), dict(amount=-60)),
    ("replace", dict(source=(128, 128, 128), target=(9, 9, 9)),
     {"from_": (128, 128, 128), "to": (9, 9, 9)}),
    ("replace", dict(source=(128, 128, 128), to=(9, 9, 9), tolerance=3),
     {"from_": (128, 128, 128), "to": (9, 9, 9), "tolerance": 3}),
])
def test_older_keyword_names_still_work(tmp_path, name, old, new):
    src = tmp_path / "in.bmp"
    write_bmp(src, [(128, 128, 128), (200, 40, 30)])
    getattr(velmora, name)(src, tmp_path / "a.bmp", **old)
    getattr(velmora, name)(src, tmp_path / "b.bmp", **new)
    assert (tmp_path / "a.bmp").read_bytes() == (tmp_path / "b.bmp").read_bytes()
    assert read_bmp(tmp_path / "a.bmp") != read_bmp(src)


@pytest.mark.parametrize("call, words", [
    (lambda g, o: velmora.saturation(g, o, amount=5, value=5), "both amount and"),
    (lambda g, o: velmora.saturation(g, o, 5, value=5), "both amount and"),
    (lambda g, o: velmora.replace(g, o, (1, 2, 3), (1, 2, 3), source=(1, 2, 3)),
     "both from_ and its older name source"),
    (lambda g, o: velmora.replace(g, o, to=(1, 2, 3)), "missing required argument: 'from_'"),
    (lambda g, o: velmora.replace(g, o, (1, 2, 3)), "missing required argument: 'to'"),
])
def test_a_parameter_given_twice_or_not_at_all(grey, tmp_path, call, words):
    with pytest.raises(TypeError, match=re.escape(words)):
        call(grey, tmp_path / "o.bmp")
    assert not any(tmp_path.glob("o*"))


def test_damaged_png_is_refused_with_the_checksum_named(tmp_path):
    sample = Path(__file__).resolve().parents[3] / "sample" / "creek.jpg"
    good = tmp_path / "good.png"
    velmora.invert(sample, good)
    data = bytearray(good.read_bytes())
    data[data.index(b"IDAT") + 4 + 1000] ^= 0x10
    bad = tmp_path / "bad.png"
    bad.write_bytes(bytes(data))
    with pytest.raises(velmora.Error, match=r"^invert: cannot decode .*bad\.png \(bad CRC\)$"):
        velmora.invert(bad, tmp_path / "out.png")
    assert not (tmp_path / "out.png").exists()


def test_png_with_a_wrong_zlib_checksum_is_refused(tmp_path):
    # One byte of the image data changed, every chunk's CRC made to match:
    # the zlib stream's Adler-32 still tells.
    import struct
    import zlib

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + bytes((x * 30 + y) % 256 for x in range(24)) for y in range(8))
    stream = bytearray(zlib.compress(raw, 0))  # stored: any data byte may change
    stream[2 + 5 + 40] ^= 0x10
    bad = tmp_path / "bad.png"
    bad.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 8, 8, 8, 2, 0, 0, 0))
                    + chunk(b"IDAT", bytes(stream)) + chunk(b"IEND", b""))
    with pytest.raises(velmora.Error,
                       match=r"^invert: cannot decode .*bad\.png \(bad zlib checksum\)$"):
        velmora.invert(bad, tmp_path / "out.png")
    assert not (tmp_path / "out.png").exists()
