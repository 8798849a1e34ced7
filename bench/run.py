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

# The adjustments in the order of bench/bench_support.cpp.
ORDER = ["grayscale", "sepia", "invert", "brightness", "contrast", "gamma", "levels",
         "auto_levels", "curves", "vignette", "saturation", "hue", "replace", "colorize",
         "white_balance", "color_balance", "selective"]
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build(build_dir, jobs):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DVELMORA_BUILD_BENCH=ON", "-DVELMORA_BUILD_TESTS=OFF",
                    "-DVELMORA_BUILD_TOOLS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j", str(jobs), "--target",
                    "velmora_bench_kernels", "velmora_bench_files"], check=True,
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


def kernel_rate(found, adjustment, impl, size):
    name = "kernel/%s/%s/%s" % (adjustment, impl, size)
    return found[name]["Mpx"] if name in found else None


def ms(b):
    # CPU time of the process: on a machine shared with other work it counts
    # what the call itself spent, not the time it waited for a core.
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b["cpu_time"] * scale


def fmt(value, spec):
    return "-" if value is None else format(value, spec)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--repetitions", type=int, default=3)
    parser.add_argument("--quick", action="store_true",
                        help="one repetition, and JPEG only for the file runs")
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("-j", "--jobs", type=int, default=2)
    args = parser.parse_args()
    reps = 1 if args.quick else args.repetitions

    if not args.no_build:
        build(args.build_dir, args.jobs)
    kernels = medians(run(args.build_dir, "velmora_bench_kernels", reps, ".", "kernels.json"))
    files = medians(run(args.build_dir, "velmora_bench_files", reps,
                        "file/jpeg/" if args.quick else ".", "files.json"))

    names = [n for n in ORDER if any(k.split("/")[1] == n for k in kernels)]
    impls = sorted({n.split("/")[2] for n in kernels if n.count("/") == 3},
                   key=lambda i: i != "scalar")
    sizes = ["1237x811", "6000x4000"]

    header = ["adjustment"]
    for size in sizes:
        for impl in impls:
            header.append("%s %s Mpx/s" % (impl, size))
    if len(impls) == 2:
        header.append("speed-up 24 MP")
    formats = [f for f in ("jpeg", "png") if "file/%s/floor" % f in files]
    for f in formats:
        header += ["%s ms" % f.upper(), "x floor"]
    rows = []
    floor = {f: ms(files["file/%s/floor" % f]) for f in formats}
    row = ["(codec floor)"] + [""] * (len(header) - 1 - 2 * len(formats))
    for f in formats:
        row += ["%.0f" % floor[f], "1.000"]
    rows.append(row)
    for adjustment in names:
        row = [adjustment]
        for size in sizes:
            for impl in impls:
                row.append(fmt(kernel_rate(kernels, adjustment, impl, size), ".0f"))
        if len(impls) == 2:
            slow = kernel_rate(kernels, adjustment, impls[0], sizes[1])
            fast = kernel_rate(kernels, adjustment, impls[1], sizes[1])
            row.append(fmt(fast / slow if slow and fast else None, ".1f"))
        for f in formats:
            b = files.get("file/%s/%s" % (f, adjustment))
            row += [fmt(ms(b) if b else None, ".0f"),
                    fmt(ms(b) / floor[f] if b else None, ".3f")]
        rows.append(row)

    widths = [max(len(r[i]) for r in [header] + rows) for i in range(len(header))]
    line = lambda r: "| " + " | ".join(c.ljust(w) if i == 0 else c.rjust(w)
                                       for i, (c, w) in enumerate(zip(r, widths))) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))

    # Peak heap of one call against what it must hold: the file bytes, one
    # pixel buffer and one encoded output.
    print()
    print("| format | file MiB | pixels MiB | output MiB | sum | peak heap, floor | "
          "peak heap, largest adjustment |")
    print("|---|---|---|---|---|---|---|")
    for f in formats:
        fl = files["file/%s/floor" % f]
        adj = [files[n] for n in files if n.startswith("file/%s/" % f) and not n.endswith("floor")]
        largest = max(adj, key=lambda b: b["heap_MiB"]) if adj else fl
        total = fl["file_MiB"] + fl["pixels_MiB"] + fl["out_MiB"]
        print("| %s | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f (%s) |" % (
            f.upper(), fl["file_MiB"], fl["pixels_MiB"], fl["out_MiB"], total, fl["heap_MiB"],
            largest["heap_MiB"], largest["run_name"].split("/")[2]))
    print()
    print("Medians of %d repetition(s); 24 MP = 6000x4000; machine: %d CPU(s), load at start %s."
          % (reps, os.cpu_count(), ", ".join("%.2f" % l for l in os.getloadavg())))


if __name__ == "__main__":
    main()
