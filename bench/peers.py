#!/usr/bin/python3
"""Times the velmora command next to the image tools people would pick
instead, each doing a comparable adjustment (invert, a negative) of the same
24-megapixel photograph, JPEG to JPEG at quality 92 and PNG to PNG, in one
run, and prints one table. Optional: the peers are not part of the build or
of CI. Install them first (Debian):

    apt-get install imagemagick graphicsmagick libvips-tools python3-pil
    /usr/bin/python3 bench/peers.py [--velmora build/release/tools/velmora] [--runs 3]

Wall time is what a user waits for; CPU time shows the work done (the peers
may use several threads; the velmora command and the library use one per
file). Medians over the runs, which interleave the tools.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def peers(velmora, work):
    """name -> (command for JPEG, command for PNG); {i} input, {o} output."""
    py = "/usr/bin/python3"
    pil = ("from PIL import Image, ImageOps; import sys; "
           "im = Image.open(sys.argv[1]); im = ImageOps.invert(im.convert('RGB')); "
           "im.save(sys.argv[2], **({'quality': 92} if sys.argv[2].endswith('.jpg') else {}))")
    tools = {
        "velmora": ([velmora, "invert", "{i}", "{o}"], [velmora, "invert", "{i}", "{o}"]),
        "ImageMagick convert": (["/usr/bin/convert", "{i}", "-negate", "-quality", "92", "{o}"],
                                ["/usr/bin/convert", "{i}", "-negate", "{o}"]),
        "GraphicsMagick gm": (["gm", "convert", "{i}", "-negate", "-quality", "92", "{o}"],
                              ["gm", "convert", "{i}", "-negate", "{o}"]),
        "libvips vips": (["vips", "invert", "{i}", "{o}[Q=92]"], ["vips", "invert", "{i}", "{o}"]),
        "Pillow": ([py, "-c", pil, "{i}", "{o}"], [py, "-c", pil, "{i}", "{o}"]),
    }
    found = {}
    for name, cmds in tools.items():
        exe = cmds[0][0]
        if os.path.isfile(exe) or shutil.which(exe):
            found[name] = cmds
        else:
            print("skipped (not installed): " + name, file=sys.stderr)
    return found


def timed(cmd):
    """Wall and CPU seconds, and the peak resident memory in MiB, of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise subprocess.CalledProcessError(child.returncode, cmd)
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def make_inputs(work):
    """A 6000x4000 photograph from the sample, as JPEG (quality 92) and PNG."""
    jpg, png = os.path.join(work, "photo.jpg"), os.path.join(work, "photo.png")
    subprocess.run(["/usr/bin/python3", "-c",
                    "from PIL import Image; import sys; "
                    "im = Image.open(sys.argv[1]).convert('RGB').resize((6000, 4000), "
                    "Image.BICUBIC); im.save(sys.argv[2], quality=92); im.save(sys.argv[3])",
                    os.path.join(ROOT, "sample", "creek.jpg"), jpg, png], check=True)
    return {"JPEG": jpg, "PNG": png}


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--velmora", default=os.path.join(ROOT, "build", "release", "tools",
                                                          "velmora"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="velmora-peers-")
    try:
        inputs = make_inputs(work)
        tools = peers(args.velmora, work)
        results = {}
        for _ in range(args.runs):
            for fmt, path in inputs.items():
                for name, cmds in tools.items():
                    cmd = cmds[0] if fmt == "JPEG" else cmds[1]
                    out = os.path.join(work, "out." + ("jpg" if fmt == "JPEG" else "png"))
                    cmd = [c.replace("{i}", path).replace("{o}", out) for c in cmd]
                    results.setdefault((fmt, name), []).append(timed(cmd))
                    size = os.path.getsize(out.split("[")[0])
                    results.setdefault((fmt, name, "size"), [size])
        print("| format | tool | wall s | CPU s | wall / velmora | peak resident MiB "
              "| output MiB |")
        print("|---|---|---:|---:|---:|---:|---:|")
        for fmt in inputs:
            base = statistics.median(r[0] for r in results[(fmt, "velmora")])
            for name in tools:
                runs = results[(fmt, name)]
                wall = statistics.median(r[0] for r in runs)
                cpu = statistics.median(r[1] for r in runs)
                peak = statistics.median(r[2] for r in runs)
                size = results[(fmt, name, "size")][0] / 2**20
                print("| %s | %s | %.2f | %.2f | %.2f | %.0f | %.1f |" % (
                    fmt, name, wall, cpu, wall / base, peak, size))
        print()
        print("Invert of a 6000x4000 photograph, JPEG at quality 92 or PNG at each tool's "
              "default compression; medians of %d runs; %d CPU(s)." % (args.runs,
                                                                      os.cpu_count()))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
