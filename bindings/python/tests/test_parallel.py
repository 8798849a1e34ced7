"""Many files through worker processes: a local pool, and a Dask cluster of
two worker processes on this machine. Every output is written, and every
failure carries its own file's message."""
import shutil
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import pytest

import velmora
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


def test_parameters_reach_every_file_and_misuse_is_refused_before_work(tmp_path, inputs):
    out = tmp_path / "out"
    results = map_files("brightness", inputs[:2], out, executor=None, value=101)
    assert [r.error for r in results] == ["brightness: value 101 out of range -100..+100"] * 2
    with pytest.raises(ValueError, match="unknown adjustment"):
        map_files("posterize", inputs, out)
    with pytest.raises(ValueError, match="both be written"):
        map_files("sepia", [inputs[0], inputs[0]], out)
    assert not list(out.glob("*"))
