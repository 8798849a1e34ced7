"""Many files through worker processes: a local pool, and a Dask cluster of
two worker processes on this machine. Every output is written, and every
failure carries its own file's message."""
import shutil
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import pytest

import velmora
from conftest import read_bmp
from velmora.parallel import map_files

SAMPLE = Path(__file__).resolve().parents[3] / "sample" / "creek.jpg"


@pytest.fixture
def inputs(tmp_path):
    names = []
    for k in range(6):
        p = tmp_path / f"photo{k}.jpg"
        shutil.copy(SAMPLE, p)
        names.append(p)
    (tmp_path / "broken.jpg").write_bytes(b"\xff\xd8 not a picture")
    return names + [tmp_path / "missing.jpg", tmp_path / "broken.jpg"]


def check(results, inputs, out):
    assert [r.input for r in results] == [str(p) for p in inputs]
    good = [r for r in results if r.ok]
    assert len(good) == 6
    for r in good:
        assert Path(r.output).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
        assert Path(r.output).parent == out
    bad = {Path(r.input).name: r.error for r in results if not r.ok}
    assert bad["missing.jpg"] == f"sepia: cannot read {inputs[6]}"
    assert bad["broken.jpg"].startswith(f"sepia: cannot decode {inputs[7]} (")


def test_local_process_pool(tmp_path, inputs):
    out = tmp_path / "out"
    with ProcessPoolExecutor(max_workers=2) as pool:
        check(map_files("sepia", inputs, out, executor=pool, format="PNG"), inputs, out)


def test_dask_cluster_of_two_worker_processes(tmp_path, inputs):
    distributed = pytest.importorskip("distributed")
    out = tmp_path / "out"
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        results = map_files("sepia", inputs, out, executor=client, format="png")
    check(results, inputs, out)


def test_parameters_reach_every_file(tmp_path, inputs):
    out = tmp_path / "out"
    # Brightness -100 takes every channel to 0: each output shows the value arrived.
    results = map_files("brightness", inputs[:2], out, format="bmp", value=-100)
    assert [r.ok for r in results] == [True, True]
    for r in results:
        assert {p[:3] for p in read_bmp(r.output)} == {(0, 0, 0)}
    # Keywords by the options' names, as a direct call takes them: the same file.
    params = {"from_": (70, 75, 50), "to": (255, 80, 0), "tolerance": 25}
    results = map_files("replace", inputs[:1], out, format="bmp", **params)
    velmora.replace(inputs[0], tmp_path / "direct.bmp", **params)
    assert Path(results[0].output).read_bytes() == (tmp_path / "direct.bmp").read_bytes()


class Refusing:
    """An executor that fails the test if any work reaches it."""

    def submit(self, *args):
        raise AssertionError("work was sent")


# Misuse is refused once, before any work is sent and before the output folder
# is made; each with the exception and message a direct call would give, plus
# the nearest name for a near miss.
@pytest.mark.parametrize("adjustment, params, exc, message", [
    ("posterize", {}, velmora.Error, "unknown adjustment 'posterize'; one of grayscale, "),
    ("brightnes", {}, velmora.Error, "unknown adjustment 'brightnes' (did you mean 'brightness'?)"),
    ("white-balance", {}, velmora.Error, "(did you mean 'white_balance'?)"),
    ("Error", {}, velmora.Error, "unknown adjustment 'Error'"),
    ("last_error", {}, velmora.Error, "unknown adjustment 'last_error'"),
    ("init", {}, velmora.Error, "unknown adjustment 'init'"),
    (None, {}, TypeError, "the adjustment must be a name"),
    ("brightness", {"vale": 5}, TypeError,
     "brightness has no parameter 'vale' (did you mean 'value'?); its parameters: value"),
    ("replace", {"from": (1, 2, 3), "to": (1, 2, 3)}, TypeError, "(did you mean 'from_'?)"),
    ("sepia", {"value": 5}, TypeError, "sepia has no parameter 'value'; its parameters: none"),
    ("brightness", {"input_path": "x.jpg"}, TypeError, "brightness has no parameter 'input_path'"),
    ("brightness", {"value": 101}, velmora.Error, "brightness: value 101 out of range -100..+100"),
    ("brightness", {"value": "5"}, TypeError, "brightness: value must be an int"),
    ("hue", {"degrees": 2 ** 40}, velmora.Error, "hue: degrees 1099511627776 out of range"),
    ("levels", {"black": 9, "white": 9}, velmora.Error, "levels: white 9 must be above black 9"),
    ("replace", {"to": (1, 2, 3)}, TypeError, "missing required argument: 'from_'"),
    ("saturation", {"amount": 1, "value": 1}, TypeError, "both amount and its older name value"),
    ("colorize", {"color": (1, 2), "intensity": 5}, velmora.Error,
     "colorize: color must be three values"),
])
def test_misuse_is_refused_before_work(tmp_path, inputs, adjustment, params, exc, message):
    out = tmp_path / "out"
    with pytest.raises(exc) as err:
        map_files(adjustment, inputs, out, executor=Refusing(), **params)
    assert str(err.value).startswith(message) or message in str(err.value)
    assert not out.exists()


@pytest.mark.parametrize("inputs_of, format, message", [
    (lambda i: [i[0], i[0]], None, "both be written"),
    (lambda i: i, "gif", "format must be one of"),
])
def test_bad_outputs_are_refused_before_work(tmp_path, inputs, inputs_of, format, message):
    out = tmp_path / "out"
    with pytest.raises(ValueError, match=message):
        map_files("sepia", inputs_of(inputs), out, executor=Refusing(), format=format)
    assert not out.exists()


def test_a_checked_call_leaves_the_binding_usable(tmp_path, inputs):
    # The check runs the binding's own argument checks; real calls afterwards
    # must still reach the library.
    with pytest.raises(velmora.Error):
        map_files("brightness", inputs, tmp_path / "out", value=101)
    velmora.brightness(inputs[0], tmp_path / "one.bmp", value=10)
    assert (tmp_path / "one.bmp").read_bytes()[:2] == b"BM"
