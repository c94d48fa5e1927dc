#!/usr/bin/python3
"""Table of bench/run-all.sh: our reader against ProDy's parsePDB, per file.

    summarize.py DIR ROUNDS FILE.pdb [...]

DIR holds ours.<r>.json (Google Benchmark JSON, aggregates only) and prody.<r>.json
(bench/prody_read.py --json) for r = 1..ROUNDS.
"""

import json
import os
import statistics
import sys

SCALE = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def median_or_none(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(value, pattern, width):
    return (pattern % value).rjust(width) if value is not None else "-".rjust(width)


def load_rounds(directory, rounds):
    """Per-round (wall s, cpu s) lists keyed by (benchmark, file name), atom counts, context."""
    ours, prody, atoms, context = {}, {}, {}, None
    for r in range(1, rounds + 1):
        report = json.load(open(os.path.join(directory, "ours.%d.json" % r)))
        context = context or report.get("context", {})
        for b in report["benchmarks"]:
            if b.get("error_occurred") or b.get("aggregate_name") != "median":
                continue
            kind, name = b["run_name"].split("/")[:2]
            unit = SCALE[b["time_unit"]]
            ours.setdefault((kind, name), []).append((b["real_time"] * unit, b["cpu_time"] * unit))
            atoms[name] = int(b.get("atoms", 0))
        peer = json.load(open(os.path.join(directory, "prody.%d.json" % r)))
        for p in peer.get("results", []):
            prody.setdefault(os.path.basename(p["file"]), []).append((p["median_s"], p["median_cpu_s"]))
    return ours, prody, atoms, context or {}


def main():
    directory, rounds, files = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    ours, prody, atoms, context = load_rounds(directory, rounds)

    if context:
        print("Machine: %s CPUs at %s MHz, load average %s; Google Benchmark library build: %s"
              % (context.get("num_cpus"), context.get("mhz_per_cpu"),
                 context.get("load_avg"), context.get("library_build_type")))
    print("Median load time per file over %d rounds (wall clock, ms). ours = whole load including"
          " deleting atoms and network; ours-nocl = the same without that cleanup." % rounds)
    print("ratio = ProDy / ours, median of the per-round ratios (wall clock; cpu = on CPU time).")
    head = "%-10s %8s %7s %9s %10s %9s %8s %8s" % (
        "file", "size MB", "atoms", "ours", "ours-nocl", "ProDy", "ratio", "cpu")
    print(head)
    print("-" * len(head))

    largest = None
    for f in files:
        name = os.path.basename(f)
        mine = ours.get(("BM_ReadPdb", name), [])
        mine_nocl = ours.get(("BM_ReadPdbNoCleanup", name), [])
        peer = prody.get(name, [])
        pairs = list(zip(mine, peer))
        ratio = median_or_none([pw / ow for (ow, _), (pw, _) in pairs if ow > 0])
        cpu_ratio = median_or_none([pc / oc for (_, oc), (_, pc) in pairs if oc > 0])
        ms = [median_or_none([w * 1e3 for w, _ in runs]) for runs in (mine, mine_nocl, peer)]
        print("%-10s %8.2f %7s %s %s %s %s %s" % (
            name, os.path.getsize(f) / 1e6, atoms.get(name, "-"),
            fmt(ms[0], "%.2f", 9), fmt(ms[1], "%.2f", 10), fmt(ms[2], "%.2f", 9),
            fmt(ratio, "%.1fx", 8), fmt(cpu_ratio, "%.1fx", 8)))
        if largest is None or os.path.getsize(f) > os.path.getsize(largest[0]):
            largest = (f, ratio)

    if largest and largest[1] is not None:
        verdict = "meets" if largest[1] >= 5 else "is BELOW"
        print("\nLargest file %s: our reader is %.1fx as fast as ProDy parsePDB (%s the 5x goal)."
              % (os.path.basename(largest[0]), largest[1], verdict))


if __name__ == "__main__":
    main()
