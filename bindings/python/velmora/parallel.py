"""Many files at once, in worker processes: on this machine, or on a Dask
cluster of many machines.

    from velmora.parallel import map_files
    results = map_files("sepia", ["a.jpg", "b.jpg"], "out", format="png")
    failed = [r for r in results if not r.ok]

Each file is one call in a worker process (the library's last-error text is
one per process, so a process runs one call at a time). ``executor`` is any
object with a ``submit(fn, *args)`` that returns futures with ``result()``:
a ``concurrent.futures`` executor, or a ``dask.distributed.Client``; without
one, a local process pool with a worker per CPU is used.
"""

# Imported under private names: dir(velmora.parallel) shows only the API.
import os as _os
import typing as _t
from concurrent.futures import ProcessPoolExecutor as _ProcessPoolExecutor
from pathlib import Path as _Path

__all__ = ["Result", "map_files"]

_FORMATS = {"jpg": ".jpg", "jpeg": ".jpg", "png": ".png", "bmp": ".bmp"}


class Result(_t.NamedTuple):
    """One file's outcome: ``error`` is the library's message when ``ok`` is false."""

    input: str
    output: str
    ok: bool
    error: _t.Optional[str]


def _run_one(adjustment: str, input_path: str, output_path: str, params: dict) -> Result:
    # Imported in the worker: the library is loaded once per worker process.
    import velmora

    try:
        getattr(velmora, adjustment)(input_path, output_path, **params)
        return Result(input_path, output_path, True, None)
    except (TypeError, ValueError) as e:  # velmora.Error is a ValueError
        return Result(input_path, output_path, False, str(e))


def _outputs(inputs: _t.List[str], out_dir: _Path, format: _t.Optional[str]) -> _t.List[str]:
    suffix = None
    if format is not None:
        suffix = _FORMATS.get(format.lower())
        if suffix is None:
            raise ValueError(f"format must be one of jpg, jpeg, png, bmp, not {format!r}")
    outputs, seen = [], set()
    for name in inputs:
        p = _Path(name)
        out = str(out_dir / (p.stem + (suffix if suffix else p.suffix)))
        if out in seen:
            raise ValueError(f"two inputs would both be written to {out}")
        seen.add(out)
        outputs.append(out)
    return outputs


def map_files(adjustment: str, inputs: _t.Iterable[_t.Any], out_dir: _t.Any,
              executor: _t.Any = None, format: _t.Optional[str] = None,
              **params) -> _t.List[Result]:
    """Runs ``velmora.<adjustment>(input, out_dir/<input's name>, **params)`` for
    every input, in worker processes, and returns one :class:`Result` per input,
    in the order of ``inputs``. The adjustment's name and ``params`` are checked
    once, before any work is sent: an unknown name or keyword raises at once
    (naming the nearest one), as does a value the call would refuse before the
    library (TypeError, or :class:`velmora.Error`). A failure of one file is
    reported in its own result, never raised. ``format`` (jpg, png or bmp)
    replaces each input's extension.
    The paths must be valid where the workers run (on a cluster: shared storage).
    """
    import velmora

    velmora._check(adjustment, params)
    inputs = [_os.fspath(p) for p in inputs]
    out = _Path(_os.fspath(out_dir))
    outputs = _outputs(inputs, out, format)
    out.mkdir(parents=True, exist_ok=True)
    own = executor is None
    if own:
        executor = _ProcessPoolExecutor(max_workers=_os.cpu_count() or 1)
    try:
        futures = [executor.submit(_run_one, adjustment, i, o, params)
                   for i, o in zip(inputs, outputs)]
        return [f.result() for f in futures]
    finally:
        if own:
            executor.shutdown()
