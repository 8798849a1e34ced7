#!/usr/bin/python3
"""Builds the benchmarks, runs them and prints one table.

    /usr/bin/python3 bench/run.py              # everything, 3 repetitions (about 15 minutes)
    /usr/bin/python3 bench/run.py --quick      # 1 repetition, JPEG only for the file runs

Figures are medians over the repetitions of the process CPU time, and the
repetitions run in random interleaved order, so that a slow spell on a shared
machine does not fall on one row alone.
"""
import argparse
import json
import os
import re
import subprocess
import sys

LOAD_AT_START = os.getloadavg()
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build(build_dir, jobs, scalar_exports):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DVELMORA_BUILD_BENCH=ON", "-DVELMORA_BUILD_TESTS=OFF",
                    "-DVELMORA_BUILD_TOOLS=OFF",
                    "-DVELMORA_SCALAR_KERNELS=%s" % ("ON" if scalar_exports else "OFF")],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j", str(jobs), "--target",
                    "velmora_bench_kernels", "velmora_bench_files", "velmora_bench_jpeg_writer",
                    "velmora_bench_png_writer"], check=True,
                   stdout=subprocess.DEVNULL)


def run(build_dir, program, repetitions, name_filter, out_name):
    out = os.path.join(build_dir, out_name)
    cmd = [os.path.join(build_dir, "bench", program),
           "--benchmark_repetitions=%d" % repetitions,
           "--benchmark_enable_random_interleaving=true",
           "--benchmark_filter=" + name_filter,
           "--benchmark_out_format=json", "--benchmark_out=" + out]
    print("running", " ".join(cmd[1:]), file=sys.stderr)
    subprocess.run(cmd, check=True, cwd=build_dir, stdout=subprocess.DEVNULL)
    with open(out) as f:
        return json.load(f)


def medians(report):
    """run name -> the median aggregate (or the only run, with one repetition)."""
    found = {}
    for b in report["benchmarks"]:
        name = re.sub(r"/iterations:\d+$", "", b["run_name"])
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                found[name] = b
        elif name not in found:
            found[name] = b
    return found


def kernel_rate(found, adjustment, isa, size):
    name = "kernel/%s/%s/%s" % (adjustment, isa, size)
    return found[name]["Mpx"] if name in found else None


def ms(b):
    # CPU time of the process: on a machine shared with other work it counts
    # what the call itself spent, not the time it waited for a core.
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b["cpu_time"] * scale


def fmt(value, pattern):
    return "-" if value is None else format(value, pattern)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--repetitions", type=int, default=3)
    parser.add_argument("--quick", action="store_true",
                        help="one repetition, and JPEG only for the file runs")
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--scalar-exports", action="store_true",
                        help="file runs with the scalar reference kernels (the figures before "
                             "the fast passes)")
    parser.add_argument("-j", "--jobs", type=int, default=2)
    args = parser.parse_args()
    reps = 1 if args.quick else args.repetitions

    if not args.no_build:
        build(args.build_dir, args.jobs, args.scalar_exports)
    kernels = medians(run(args.build_dir, "velmora_bench_kernels", reps, ".", "kernels.json"))
    files = medians(run(args.build_dir, "velmora_bench_files", reps,
                        "(file|file-stb|decode)/jpeg" if args.quick else ".", "files.json"))
    writers = medians(run(args.build_dir, "velmora_bench_jpeg_writer", reps, ".", "jpeg.json"))
    if not args.quick:
        writers.update(medians(run(args.build_dir, "velmora_bench_png_writer", reps, ".",
                                   "png.json")))

    # The adjustments in the order the benchmarks registered them (the list's);
    # the report's own order is shuffled by the interleaving.
    listed = subprocess.run([os.path.join(args.build_dir, "bench", "velmora_bench_kernels"),
                             "--benchmark_list_tests=true"], check=True, capture_output=True,
                            text=True, cwd=args.build_dir).stdout.split()
    names = []
    for k in listed:
        if k.count("/") >= 2 and k.split("/")[1] not in names:
            names.append(k.split("/")[1])
    # scalar, then the fast passes from the baseline up (avx2 only where the processor has it).
    isas = sorted({n.split("/")[2] for n in kernels if n.count("/") == 3},
                   key=lambda i: ("scalar", "sse2", "avx2").index(i))
    sizes = ["1237x811", "6000x4000"]

    settings = {}
    for name, b in kernels.items():
        settings.setdefault(name.split("/")[1], b.get("label", ""))

    header = ["adjustment", "settings"]
    for size in sizes:
        for isa in isas:
            header.append("%s %s Mpx/s" % (isa, "24 MP" if size == "6000x4000" else size))
    if len(isas) >= 2:
        header.append("speed-up")
    formats = [f for f in ("jpeg", "png", "photo-jpeg", "photo-jpeg-bmp", "photo-png")
               if "file/%s/floor" % f in files]
    for f in formats:
        header += ["%s ms" % f.upper(), "x floor", "x pass-through"]
    rows = []
    floor = {f: ms(files["file/%s/floor" % f]) for f in formats}
    row = ["(codec floor: no adjustment)", ""] + [""] * (len(header) - 2 - 3 * len(formats))
    for f in formats:
        row += ["%.0f" % floor[f], "", "1.000"]
    rows.append(row)
    for adjustment in names:
        row = [adjustment, settings.get(adjustment, "")]
        for size in sizes:
            for isa in isas:
                row.append(fmt(kernel_rate(kernels, adjustment, isa, size), ".0f"))
        if len(isas) >= 2:
            slow = kernel_rate(kernels, adjustment, isas[0], sizes[1])
            fast = kernel_rate(kernels, adjustment, isas[-1], sizes[1])
            row.append(fmt(fast / slow if slow and fast else None, ".1f"))
        for f in formats:
            b = files.get("file/%s/%s" % (f, adjustment))
            row += [fmt(ms(b) if b else None, ".0f"), fmt(b["x_floor"] if b else None, ".3f"),
                    fmt(ms(b) / floor[f] if b else None, ".3f")]
        rows.append(row)

    widths = [max(len(r[i]) for r in [header] + rows) for i in range(len(header))]
    line = lambda r: "| " + " | ".join(c.ljust(w) if i < 2 else c.rjust(w)
                                       for i, (c, w) in enumerate(zip(r, widths))) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))

    # Peak memory of one call against the sizes it streams through.
    print()
    print("| format | file | pixels | output | peak heap of any call | peak resident growth of any call |")
    print("|---|---|---|---|---|---|")
    for f in formats:
        runs = [files[n] for n in files if n.startswith("file/%s/" % f)]
        fl = files["file/%s/floor" % f]
        top = lambda key: max(b.get(key, 0) for b in runs)
        print("| %s | %.1f | %.1f | %.1f | %.1f | %.1f |" % (
            f.upper(), fl["file_MiB"], fl["pixels_MiB"], fl["out_MiB"], top("heap_MiB"),
            top("rss_MiB")))
    print()
    print("MiB held at once during one call (largest over all adjustments and repetitions): "
          "the library's heap, and the process's resident memory over what it held before.")
    print("x floor: the call's time over the same call without the adjustment's own time "
          "(the same decode, encode and write of the same pixels).")
    print("x pass-through: the call's time over the codec floor row (no adjustment, "
          "so the encoder sees the original picture).")
    codec_tables(files, writers, formats + [f for f in ("png-z6",) if "file/%s/floor" % f in files])
    print()
    print("Medians of %d repetition(s) of process CPU time; 24 MP = 6000x4000; %d CPU(s), "
          "load at start %s." % (reps, os.cpu_count(),
                                 ", ".join("%.2f" % l for l in LOAD_AT_START)))


def codec_tables(files, writers, formats):
    """The codecs alone, then whole calls with the reference writer
    (stb_image_write) and with ours, in the same run."""
    mpx = 6000 * 4000 / 1e6
    rate = lambda b: mpx / (ms(b) / 1e3)
    print()
    print("| codec, 24 MP in memory | ms | Mpx/s | x reference |")
    print("|---|---|---|---|")
    for f in formats:
        stb = files.get("decode-stb/%s" % f)
        if stb:
            print("| %s decode, reference (stb_image) | %.0f | %.0f | 1.0 |" % (
                f.upper(), ms(stb), rate(stb)))
        for name, label in (("decode-alone", "ours"), ("decode", "ours, checksums tested")):
            d = files.get("%s/%s" % (name, f))
            if d:
                print("| %s decode, %s | %.0f | %.0f | %s |" % (
                    f.upper(), label, ms(d), rate(d), fmt(ms(stb) / ms(d) if stb else None, ".1f")))
        ref = [b for n, b in writers.items() if n.startswith("%s_encode/stb" % f)]
        ours = sorted(((n, b) for n, b in writers.items() if n.startswith("%s_encode/ours" % f)),
                      key=lambda nb: ms(nb[1]), reverse=True)
        if ref:
            print("| %s encode, reference (stb_image_write) | %.0f | %.0f | 1.0 |" % (
                f.upper(), ms(ref[0]), rate(ref[0])))
        for n, b in ours:
            path = re.sub(r"^.*ours[-/]([a-z0-9]+).*$", r"\1", n)
            print("| %s encode, ours (%s) | %.0f | %.0f | %s |" % (
                f.upper(), path, ms(b), rate(b),
                fmt(ms(ref[0]) / ms(b) if ref else None, ".1f")))
    print()
    print("| whole call, 24 MP file to file | reference codecs, ms | our codecs, ms | "
          "ours / reference floor | peak heap, reference -> ours (MiB) |")
    print("|---|---|---|---|---|")
    for f in formats:
        old_floor = files.get("file-stb/%s/floor" % f)
        for what in ("floor", "invert"):
            old, new = files.get("file-stb/%s/%s" % (f, what)), files.get("file/%s/%s" % (f, what))
            if not (old and new and old_floor):
                continue
            print("| %s -> %s, %s | %.0f | %.0f | %.2f | %.0f -> %.0f |" % (
                f.upper(), f.upper(), "codec floor" if what == "floor" else what, ms(old),
                ms(new), ms(new) / ms(old_floor), old["heap_MiB"], new["heap_MiB"]))


if __name__ == "__main__":
    main()
