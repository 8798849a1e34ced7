"""Colour and tone adjustments for JPEG, PNG and BMP files.

Every function takes an input path and an output path (``str`` or
``os.PathLike``) plus keyword parameters, writes the output in the format its
extension names (.jpg/.jpeg, .png, .bmp; anything else keeps the input's), and
raises :class:`velmora.Error` with the library's one-line message on failure::

    import velmora
    velmora.sepia("in.jpg", "out.png")
    velmora.levels("in.jpg", "out.png", black=16, white=235, gamma=1.2)
    velmora.curves("in.jpg", "out.jpg", points=[(0, 0), (128, 200), (255, 255)])

The keyword parameters are named as the ``velmora`` command's options, with
"-" as "_" (``--sat-min``: ``sat_min``) and a trailing "_" on a Python keyword
(``--from``: ``from_``); earlier names (``saturation(value=)``,
``replace(source=, target=)``) are still accepted.

Every refused value raises :class:`velmora.Error`, a ``ValueError``, whether
the binding refuses it before the call (out of the library's range, an int
beyond 32 bits, a NUL in a path, a colour without three values) or the library
does (too few curve points); so does a failed call (an unreadable input). The
message starts with the adjustment's name and names the parameter as Python
calls it. An argument of the wrong type raises ``TypeError``.
The output's format is the one its extension names: .jpg/.jpeg
(JPEG at quality 92), .png, .bmp, in any case; any other extension writes the
input's format.

Calls in one process run one at a time: the library keeps one last-error text
per process, so each call and the reading of its message hold one lock.
Threads therefore give no speed-up; for many files use processes, e.g.
:func:`velmora.parallel.map_files`, which also runs on a Dask cluster.

The shared library is found through, in order: the path in the environment
variable ``VELMORA_LIBRARY``; a copy next to this package; a build tree of the
repository (``build/*/src`` or ``build/*/bin``); the system's loader.
"""

# Everything imported under a private name: dir(velmora) shows only the API.
import ctypes as _ctypes
import os as _os
import sys as _sys
import threading as _threading
import typing as _t
from ctypes import util as _ctypes_util
from pathlib import Path as _Path

__version__ = "1.0.0"

__all__ = [
    "Error", "library_path", "init", "cleanup", "last_error", "grayscale", "sepia", "invert",
    "brightness", "contrast", "gamma", "levels", "auto_levels", "curves", "vignette",
    "saturation", "hue", "replace", "colorize", "white_balance", "color_balance", "selective",
]

_PathArg = _t.Union[str, bytes, "_os.PathLike[str]"]
_Point = _t.Tuple[int, int]
_Colour = _t.Tuple[int, int, int]


class Error(ValueError):
    """A refused call; the text names the adjustment and the cause, e.g.
    "sepia: cannot read x.jpg" or "brightness: value 101 out of range -100..+100"."""


# ---- finding and loading the library -----------------------------------------

if _sys.platform == "win32":
    _NAMES = ["tarvinex-velmora.dll"]
elif _sys.platform == "darwin":
    _NAMES = ["libtarvinex-velmora.dylib"]
else:
    _NAMES = ["libtarvinex-velmora.so", "libtarvinex-velmora.so.1"]


def _candidates():
    env = _os.environ.get("VELMORA_LIBRARY")
    if env:
        yield _Path(env)
        return
    here = _Path(__file__).resolve().parent
    for name in _NAMES:
        yield here / name
    repo = here.parent.parent.parent
    for build in sorted((repo / "build").glob("*")):
        for sub in ("src", "bin"):
            for name in _NAMES:
                yield build / sub / name


def _load() -> _t.Tuple[_ctypes.CDLL, str]:
    for path in _candidates():
        if path.is_file():
            return _ctypes.CDLL(str(path)), str(path)
    if _os.environ.get("VELMORA_LIBRARY"):
        raise OSError("VELMORA_LIBRARY names no file: " + _os.environ["VELMORA_LIBRARY"])
    found = _ctypes_util.find_library("tarvinex-velmora")
    for name in ([found] if found else []) + _NAMES:
        try:
            return _ctypes.CDLL(name), name
        except OSError:
            continue
    raise OSError("cannot find the tarvinex-velmora library; set VELMORA_LIBRARY")


_lib, library_path = _load()

_c = _ctypes.c_char_p
_i = _ctypes.c_int
_f = _ctypes.c_float
_ip = _ctypes.POINTER(_ctypes.c_int)

# All twenty exports, with their C signatures.
_SIGNATURES = {
    "velmora_init": ([], _i),
    "velmora_cleanup": ([], None),
    "velmora_last_error": ([], _c),
    "velmora_grayscale": ([_c, _c], _i),
    "velmora_sepia": ([_c, _c], _i),
    "velmora_invert": ([_c, _c], _i),
    "velmora_brightness": ([_c, _c, _i], _i),
    "velmora_contrast": ([_c, _c, _i], _i),
    "velmora_gamma": ([_c, _c, _f], _i),
    "velmora_levels": ([_c, _c, _i, _i, _f], _i),
    "velmora_auto_levels": ([_c, _c], _i),
    "velmora_curves": ([_c, _c, _i, _ip, _ip, _i], _i),
    "velmora_vignette": ([_c, _c, _i, _i], _i),
    "velmora_saturation": ([_c, _c, _i], _i),
    "velmora_hue": ([_c, _c, _i], _i),
    "velmora_replace": ([_c, _c] + [_i] * 7, _i),
    "velmora_colorize": ([_c, _c] + [_i] * 4, _i),
    "velmora_white_balance": ([_c, _c, _i], _i),
    "velmora_color_balance": ([_c, _c] + [_i] * 9, _i),
    "velmora_selective": ([_c, _c] + [_i] * 9, _i),
}

for _name, (_args, _res) in _SIGNATURES.items():
    _fn = getattr(_lib, _name)
    _fn.argtypes = _args
    _fn.restype = _res
del _name, _args, _res, _fn

# The library keeps one last-error text per process: a call and the reading of
# its message happen under one lock, so a message always belongs to its call.
_lock = _threading.Lock()

_INT_MIN, _INT_MAX = -(2 ** 31), 2 ** 31 - 1

# The accepted range of every parameter after the two paths, in the C
# function's order, as the library checks them. Checked here first so that a
# refusal names the parameter as Python calls it; tests/check_list_consumers.py
# compares this table with the library's own list.
_RANGES = {
    "grayscale": (),
    "sepia": (),
    "invert": (),
    "brightness": ((-100, 100),),
    "contrast": ((-100, 100),),
    "gamma": ((0.1, 5.0),),
    "levels": ((0, 255), (0, 255), (0.1, 5.0)),
    "auto_levels": (),
    "curves": ((2, 64), (0, 255), (0, 255), (0, 3)),
    "vignette": ((0, 100), (1, 100)),
    "saturation": ((-100, 100),),
    "hue": ((-2147483648, 2147483647),),
    "replace": ((0, 255),) * 7,
    "colorize": ((0, 255), (0, 255), (0, 255), (0, 100)),
    "white_balance": ((-50, 50),),
    "color_balance": ((-100, 100),) * 9,
    "selective": ((-2147483648, 2147483647), (0, 100), (1, 180)) + ((-100, 100),) * 6,
}


def _path(adj: str, name: str, p: _PathArg) -> bytes:
    if isinstance(p, _os.PathLike):
        p = _os.fspath(p)
    if not isinstance(p, (str, bytes)):
        raise TypeError(f"{adj}: {name} must be a path (str, bytes or os.PathLike), not "
                        f"{type(p).__name__}")
    # C stops at the first NUL: the library would write another file than asked.
    if (b"\0" if isinstance(p, bytes) else "\0") in p:
        raise Error(f"{adj}: {name} contains a NUL character")
    if isinstance(p, bytes):
        return p
    # On Windows the library opens a UTF-8 path that has non-ASCII characters
    # with the wide file calls, so any name works.
    return p.encode("utf-8") if _sys.platform == "win32" else _os.fsencode(p)


def _bounds(low, high) -> str:
    # As the library writes them: "-100..+100", "0..255".
    return f"{low}..{'+' if low < 0 else ''}{high}"


def _int(adj: str, name: str, value: int, low: int = _INT_MIN, high: int = _INT_MAX) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{adj}: {name} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise Error(f"{adj}: {name} {value} out of range {_bounds(low, high)}")
    return value


def _real(adj: str, name: str, value: float, low: float, high: float) -> float:
    """A real number within low..high as the library compares it, in float."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{adj}: {name} must be a real number, not {type(value).__name__}")
    try:
        single = _ctypes.c_float(value).value
    except OverflowError:  # an int beyond any double
        single = float("inf") if value > 0 else float("-inf")
    # NaN fails both comparisons, so it is refused too.
    if not _ctypes.c_float(low).value <= single <= _ctypes.c_float(high).value:
        # The library's own message would round the value to "0.1"; say it whole.
        raise Error(f"{adj}: {name} {value!r} out of range {low}..{high}")
    return float(value)


def _convert(adj: str, named) -> list:
    """The C values of (name, value) pairs given in the C function's order."""
    values = []
    for (name, value), (low, high) in zip(named, _RANGES[adj]):
        if isinstance(low, float):
            values.append(_real(adj, name, value, low, high))
        else:
            values.append(_int(adj, name, value, low, high))
    return values


# Set by _check in its own thread: calls go through every check of their
# arguments but stop before the library.
_checking = _threading.local()


def _invoke(adj: str, input_path: _PathArg, output_path: _PathArg, *args) -> None:
    fn = getattr(_lib, "velmora_" + adj)
    src, dst = _path(adj, "input_path", input_path), _path(adj, "output_path", output_path)
    if getattr(_checking, "on", False):
        return
    with _lock:
        if fn(src, dst, *args):
            return
        message = _lib.velmora_last_error().decode("utf-8", "replace")
    raise Error(message)


def _call(adj: str, input_path: _PathArg, output_path: _PathArg, *named) -> None:
    _invoke(adj, input_path, output_path, *_convert(adj, named))


class _Unset:
    def __repr__(self):
        return "<unset>"


# The default of a parameter that has an older name too: tells "not given" apart
# from any value.
_UNSET = _Unset()


def _renamed(adj: str, name: str, value, old: str, old_value, default=_UNSET):
    """(the name the caller used, the value) of a parameter also accepted under
    an older name."""
    if old_value is not _UNSET:
        if value is not _UNSET:
            raise TypeError(f"{adj}() got both {name} and its older name {old}")
        return old, old_value
    if value is _UNSET:
        if default is _UNSET:
            raise TypeError(f"{adj}() missing required argument: '{name}'")
        return name, default
    return name, value


def _sequence(adj: str, name: str, value, length: int, what: str):
    if isinstance(value, (str, bytes)) or not hasattr(value, "__len__"):
        raise TypeError(f"{adj}: {name} must be {what}, not {type(value).__name__}")
    if len(value) != length:
        raise Error(f"{adj}: {name} must be {what}, got {len(value)} values")
    return value


def _triple(adj: str, name: str, value: _t.Sequence[int]):
    _sequence(adj, name, value, 3, "three values (R, G, B)")
    return [(f"{name}[{k}]", v) for k, v in enumerate(value)]


def _pair(adj: str, name: str, value: _t.Sequence[int]):
    _sequence(adj, name, value, 2, "a pair of adjustments (A, B)")
    return [(f"{name}[{k}]", v) for k, v in enumerate(value)]


# ---- lifecycle -----------------------------------------------------------------

def init() -> None:
    """Empties the library's last-error text. Optional: nothing needs initialising."""
    with _lock:
        _lib.velmora_init()


def cleanup() -> None:
    """Empties the library's last-error text; the library stays usable."""
    with _lock:
        _lib.velmora_cleanup()


def last_error() -> str:
    """The message of this process's last failed call, or "" after a success.

    The failing call has already raised it as :class:`Error`; a failure that the
    binding refused before reaching the library leaves it unchanged.
    """
    with _lock:
        return _lib.velmora_last_error().decode("utf-8", "replace")


# ---- fixed mappings ----------------------------------------------------------

def grayscale(input_path: _PathArg, output_path: _PathArg) -> None:
    """Grey from BT.601 luma in all three channels."""
    _call("grayscale", input_path, output_path)


def sepia(input_path: _PathArg, output_path: _PathArg) -> None:
    """Warm brown tone through a fixed colour matrix."""
    _call("sepia", input_path, output_path)


def invert(input_path: _PathArg, output_path: _PathArg) -> None:
    """Photographic negative: every channel value v becomes 255 - v."""
    _call("invert", input_path, output_path)


# ---- tone ---------------------------------------------------------------------

def brightness(input_path: _PathArg, output_path: _PathArg, value: int = 0) -> None:
    """Adds value * 255 / 100 to every channel; value -100..100."""
    _call("brightness", input_path, output_path, ("value", value))


def contrast(input_path: _PathArg, output_path: _PathArg, value: int = 0) -> None:
    """Scales every channel's distance from 128 by (value + 100) / 100; value -100..100."""
    _call("contrast", input_path, output_path, ("value", value))


def gamma(input_path: _PathArg, output_path: _PathArg, gamma: float = 1.0) -> None:
    """Raises normalised channel values to 1/gamma; gamma 0.1..5.0 (above 1 brightens)."""
    _call("gamma", input_path, output_path, ("gamma", gamma))


def levels(input_path: _PathArg, output_path: _PathArg, black: int = 0, white: int = 255,
           gamma: float = 1.0) -> None:
    """Stretches black..white to 0..255 and bends it by gamma.

    black and white 0..255 with black < white; gamma 0.1..5.0.
    """
    b, w, g = _convert("levels", [("black", black), ("white", white), ("gamma", gamma)])
    if b >= w:
        raise Error(f"levels: white {w} must be above black {b}")
    _invoke("levels", input_path, output_path, b, w, g)


def auto_levels(input_path: _PathArg, output_path: _PathArg) -> None:
    """Stretches each channel so its darkest value becomes 0 and its brightest 255."""
    _call("auto_levels", input_path, output_path)


def curves(input_path: _PathArg, output_path: _PathArg,
           points: _t.Optional[_t.Sequence[_Point]] = None, *,
           red: _t.Optional[_t.Sequence[_Point]] = None,
           green: _t.Optional[_t.Sequence[_Point]] = None,
           blue: _t.Optional[_t.Sequence[_Point]] = None) -> None:
    """Smooth tone curves through 2..64 control points (x, y), each 0..255, x increasing.

    Either ``points`` (one curve for R, G and B) or all of ``red``, ``green`` and
    ``blue`` (one curve each, with the same number of points).
    """
    def checked(name, curve):
        if isinstance(curve, (str, bytes)) or not hasattr(curve, "__iter__"):
            raise TypeError(f"curves: {name} must be a sequence of (x, y) points, not "
                            f"{type(curve).__name__}")
        curve = list(curve)
        for k, p in enumerate(curve):
            _sequence("curves", f"{name}[{k}]", p, 2, "an (x, y) pair")
            _int("curves", f"{name}[{k}] x", p[0], 0, 255)
            _int("curves", f"{name}[{k}] y", p[1], 0, 255)
            if k and p[0] <= curve[k - 1][0]:
                raise Error(f"curves: {name}[{k}] x {p[0]} must be above "
                            f"{name}[{k - 1}] x {curve[k - 1][0]}")
        return curve

    if points is not None:
        points = checked("points", points)
        if red is not None or green is not None or blue is not None:
            raise Error("curves: give either points or red/green/blue, not both")
        curves_, per_channel = [points], 0
    elif red is not None and green is not None and blue is not None:
        curves_ = [checked("red", red), checked("green", green), checked("blue", blue)]
        per_channel = 3
        if not len(curves_[0]) == len(curves_[1]) == len(curves_[2]):
            raise Error("curves: red, green and blue need the same number of points")
    else:
        raise Error("curves: give points, or all of red, green and blue")
    flat = [p for curve in curves_ for p in curve]
    array = _ctypes.c_int * max(len(flat), 1)
    xs, ys = array(*[p[0] for p in flat]), array(*[p[1] for p in flat])
    # The point count is the library's to refuse: its message says the range.
    _invoke("curves", input_path, output_path, len(curves_[0]), xs, ys, per_channel)


def vignette(input_path: _PathArg, output_path: _PathArg, strength: int, radius: int) -> None:
    """Darkens towards the rim: strength 0..100 percent, radius 1..100 percent of the
    shorter side."""
    _call("vignette", input_path, output_path, ("strength", strength), ("radius", radius))


# ---- colour -------------------------------------------------------------------

def saturation(input_path: _PathArg, output_path: _PathArg, amount: int = _UNSET, *,
               value: int = _UNSET) -> None:
    """Scales saturation by 1 + amount/100; amount -100..100 (-100 is grey), default 0.

    ``value`` is the older name of ``amount``.
    """
    _call("saturation", input_path, output_path,
          _renamed("saturation", "amount", amount, "value", value, 0))


def hue(input_path: _PathArg, output_path: _PathArg, degrees: int = 0) -> None:
    """Rotates hue by any number of degrees (+120 turns red into green)."""
    _call("hue", input_path, output_path, ("degrees", degrees))


def replace(input_path: _PathArg, output_path: _PathArg, from_: _Colour = _UNSET,
            to: _Colour = _UNSET, tolerance: int = 0, *, source: _Colour = _UNSET,
            target: _Colour = _UNSET) -> None:
    """Pixels within tolerance (sum of channel differences, 0..255) of ``from_`` become
    ``to``; both (R, G, B), each 0..255, and required.

    ``from_`` is the command's ``--from`` (``from`` is a Python keyword);
    ``source`` and ``target`` are the older names of ``from_`` and ``to``.
    """
    from_name, from_ = _renamed("replace", "from_", from_, "source", source)
    to_name, to = _renamed("replace", "to", to, "target", target)
    _call("replace", input_path, output_path, *_triple("replace", from_name, from_),
          *_triple("replace", to_name, to), ("tolerance", tolerance))


def colorize(input_path: _PathArg, output_path: _PathArg, color: _Colour, intensity: int) -> None:
    """Blends every pixel towards color (each 0..255) by intensity 0..100 percent."""
    _call("colorize", input_path, output_path, *_triple("colorize", "color", color),
          ("intensity", intensity))


def white_balance(input_path: _PathArg, output_path: _PathArg, temperature: int = 0) -> None:
    """Warms (positive) or cools (negative) the picture; temperature -50..50."""
    _call("white_balance", input_path, output_path, ("temperature", temperature))


def color_balance(input_path: _PathArg, output_path: _PathArg,
                  shadows: _Colour = (0, 0, 0), midtones: _Colour = (0, 0, 0),
                  highlights: _Colour = (0, 0, 0)) -> None:
    """Shifts R, G, B separately in shadows, midtones and highlights; each -100..100."""
    _call("color_balance", input_path, output_path,
          *_triple("color_balance", "shadows", shadows),
          *_triple("color_balance", "midtones", midtones),
          *_triple("color_balance", "highlights", highlights))


def selective(input_path: _PathArg, output_path: _PathArg, hue: int = 0, range: int = 30,
              sat_min: int = 0, red: _t.Tuple[int, int] = (0, 0),
              green: _t.Tuple[int, int] = (0, 0), blue: _t.Tuple[int, int] = (0, 0)) -> None:
    """Shifts R, G, B only in pixels near a hue.

    hue: target in degrees (any int); range: 1..180 degrees; sat_min: 0..100
    percent; red, green, blue: pairs of adjustments, each -100..100.
    """
    _call("selective", input_path, output_path, ("hue", hue), ("sat_min", sat_min),
          ("range", range), *_pair("selective", "red", red), *_pair("selective", "green", green),
          *_pair("selective", "blue", blue))


# ---- checking a call without making it -------------------------------------------

def _check(adj, params: dict) -> None:
    """Raises what ``<adj>(input, output, **params)`` would raise before reaching
    the library: an unknown adjustment or keyword (with the nearest name), a
    value of the wrong type (TypeError) or a refused value (Error)."""
    import difflib
    import inspect

    def nearest(word, words):
        close = difflib.get_close_matches(str(word), list(words), n=1, cutoff=0.6)
        return f" (did you mean {close[0]!r}?)" if close else ""

    if not isinstance(adj, str):
        raise TypeError(f"the adjustment must be a name (str), not {type(adj).__name__}")
    if adj not in _RANGES:
        hint = nearest(adj.replace("-", "_"), _RANGES) or f"; one of {', '.join(_RANGES)}"
        raise Error(f"unknown adjustment {adj!r}{hint}")
    fn = globals()[adj]
    names = [n for n in inspect.signature(fn).parameters if n not in ("input_path", "output_path")]
    for key in params:
        if key not in names:
            raise TypeError(f"{adj} has no parameter {key!r}{nearest(key, names)}; its "
                            f"parameters: {', '.join(names) or 'none'}")
    _checking.on = True
    try:
        fn("input", "output", **params)
    finally:
        _checking.on = False
