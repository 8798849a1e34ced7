"""Bundles the built tarvinex-velmora library into the package at build time,
so that `pip install ./bindings/python` gives a package that imports anywhere.

The library is taken from, in order: the file that the environment variable
VELMORA_LIBRARY names; the repository's build tree (build/release/src, or
build/release/bin for a DLL); the bin/ folder of an unpacked Windows archive,
which holds bindings/ beside it; a copy placed in velmora/ by hand. Without any
of them the build stops, unless the system's loader already finds the library.
The metadata is in pyproject.toml.
"""
import os
import shutil
import sys
from ctypes.util import find_library
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
REPO = HERE.parent.parent

if sys.platform == "win32":
    NAMES = ["tarvinex-velmora.dll", "libtarvinex-velmora.dll"]
elif sys.platform == "darwin":
    NAMES = ["libtarvinex-velmora.dylib", "libtarvinex-velmora.1.dylib"]
else:
    NAMES = ["libtarvinex-velmora.so", "libtarvinex-velmora.so.1"]
# The name the package's loader tries first.
BUNDLED = NAMES[0]


def find_built_library():
    env = os.environ.get("VELMORA_LIBRARY")
    if env:
        path = Path(env).expanduser()
        if not path.is_file():
            sys.exit(f"VELMORA_LIBRARY names no file: {env}")
        return path
    places = [REPO / "build" / "release" / sub for sub in ("src", "bin")]
    places += [REPO / "bin", HERE / "velmora"]
    for place in places:
        for name in NAMES:
            if (place / name).is_file():
                return place / name
    return None


class BuildPyWithLibrary(build_py):
    def run(self):
        super().run()
        target = Path(self.build_lib) / "velmora"
        # A copy left by an earlier build must not shadow the one chosen now.
        for name in NAMES:
            (target / name).unlink(missing_ok=True)
        library = find_built_library()
        if library is None:
            if find_library("tarvinex-velmora"):
                print("velmora: no built library found; the package will use the system's")
                return
            sys.exit("velmora: cannot find the tarvinex-velmora library to bundle: build it "
                     "first (build/release/src of the repository) or set VELMORA_LIBRARY "
                     "to the library file")
        # Symbolic links resolved: the package holds the file itself, under
        # the name the package's loader tries first on the library's own
        # platform (a Windows wheel is made on Linux from the DLL).
        bundled = "tarvinex-velmora.dll" if library.suffix.lower() == ".dll" else BUNDLED
        for name in NAMES + ["tarvinex-velmora.dll"]:
            (target / name).unlink(missing_ok=True)
        shutil.copyfile(library.resolve(), target / bundled)
        os.chmod(target / bundled, 0o755)
        print(f"velmora: bundled {library}")


cmdclass = {"build_py": BuildPyWithLibrary}

try:
    from wheel.bdist_wheel import bdist_wheel

    class PlatformWheel(bdist_wheel):
        # The wheel holds a native library: it fits this platform only, but any
        # Python 3 (the binding uses ctypes, no compiled extension).
        def finalize_options(self):
            super().finalize_options()
            self.root_is_pure = False

        def get_tag(self):
            _, _, plat = super().get_tag()
            return "py3", "none", plat

    cmdclass["bdist_wheel"] = PlatformWheel
except ImportError:
    pass

setup(cmdclass=cmdclass)
