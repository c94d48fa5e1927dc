#!/usr/bin/python3
"""Tables of bench/enm-vs-prody.sh: the engine against ProDy's ANM, per structure size.

    enm_summarize.py DIR LABEL [...]

DIR holds, per LABEL (a structure's file name without extension):
  ours.LABEL.json          Google Benchmark JSON of enm_benchmark
  prody.LABEL.json         bench/prody_enm.py --json
  memory.LABEL.SOLVER.json enm_memory_probe output (one per solver)
Missing files leave their columns empty.
"""

import glob
import json
import os
import statistics
import sys

SCALE = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}

# Targets the engine is held to.
SOLVE_RATIO_MAX = 0.8        # our default solve / ProDy's full solve, from SOLVE_FROM_NODES on
SOLVE_FROM_NODES = 1000
HESSIAN_RATIO_MIN = 3.0      # ProDy buildHessian / our Hessian build
STEP_MAX_US = 100.0          # one response step through Y, at about 5000 nodes
LARGE_NODES = 4500
MEMORY_FACTOR_MAX = 3.0      # peak RSS / 72·N² at about 5000 nodes


def load_json(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def our_times(report, field=None):
    """Per benchmark kind, the median over repetitions (or the single run) of the wall
    seconds, or of the counter `field` when given."""
    runs = {}
    medians = {}
    for b in (report or {}).get("benchmarks", []):
        if b.get("error_occurred"):
            continue
        kind = b["run_name"].split("/")[0]
        if field is None:
            value = b["real_time"] * SCALE[b["time_unit"]]
        elif field in b:
            value = b[field]
        else:
            continue
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[kind] = value
        else:
            runs.setdefault(kind, []).append(value)
    out = {k: statistics.median(v) for k, v in runs.items()}
    out.update(medians)
    return out


def our_nodes(report):
    for b in (report or {}).get("benchmarks", []):
        if "nodes" in b and b.get("run_type") != "aggregate":
            return int(b["nodes"])
    return None


def fmt(value, pattern, width):
    return (pattern % value).rjust(width) if value is not None else "-".rjust(width)


def ratio(a, b):
    return a / b if a is not None and b else None


def main():
    directory, labels = sys.argv[1], sys.argv[2:]
    rows = []
    context = None
    prody_version = None
    for label in labels:
        ours_report = load_json(os.path.join(directory, "ours.%s.json" % label))
        if ours_report and not context:
            context = ours_report.get("context")
        ours = our_times(ours_report)
        ours_cpu = our_times(ours_report, "solve_cpu_s")
        peer_report = load_json(os.path.join(directory, "prody.%s.json" % label)) or {}
        prody_version = prody_version or peer_report.get("prody_version")
        peer = (peer_report.get("results") or [{}])[0]
        memory = {}
        for path in sorted(glob.glob(os.path.join(directory, "memory.%s.*.json" % label))):
            m = load_json(path)
            if m:
                memory[m["solver"]] = m
        nodes = our_nodes(ours_report) or peer.get("nodes") or next((m["nodes"] for m in memory.values()), None)
        rows.append(dict(label=label, nodes=nodes, ours=ours, ours_cpu=ours_cpu, peer=peer, memory=memory,
                         peer_nodes=peer.get("nodes")))

    if context:
        print("Machine: %s CPUs at %s MHz; load average %s at the start of the first size" % (
            context.get("num_cpus"), context.get("mhz_per_cpu"),
            ", ".join("%.2f" % x for x in context.get("load_avg", [])) or "?"))
    if prody_version:
        print("ProDy %s (scipy eigh, LAPACK dsyevr) through /usr/bin/python3; Rc = 11 Å, γ = 1" % prody_version)
    print()

    head = ("%6s %-10s | %9s %9s %7s | %8s %8s %8s %8s %7s %7s | %7s %9s %9s" % (
        "nodes", "structure", "hess ms", "ProDy ms", "P/ours", "lapack s", "lapack-dc s", "ref s", "ProDy s",
        "evr/P", "evd/P", "Y s", "stepY us", "step100us"))
    print(head)
    print("-" * len(head))
    for r in rows:
        o, p = r["ours"], r["peer"]
        hess = o.get("BM_Hessian")
        p_hess = p.get("hessian_median_s")
        evr, evd, ref = o.get("BM_EigenLapack"), o.get("BM_EigenLapackDC"), o.get("BM_EigenReference")
        p_solve = p.get("solve_median_s")
        step_y, step_m = o.get("BM_ResponseY"), o.get("BM_ResponseModes100")
        print("%6s %-10s | %s %s %s | %s %s %s %s %s %s | %s %s %s" % (
            r["nodes"] if r["nodes"] is not None else "-", r["label"][:10],
            fmt(hess and hess * 1e3, "%.2f", 9), fmt(p_hess and p_hess * 1e3, "%.1f", 9),
            fmt(ratio(p_hess, hess), "%.1f", 7),
            fmt(evr, "%.3f", 8), fmt(evd, "%.3f", 8), fmt(ref, "%.2f", 8), fmt(p_solve, "%.3f", 8),
            fmt(ratio(evr, p_solve), "%.2f", 7), fmt(ratio(evd, p_solve), "%.2f", 7),
            fmt(o.get("BM_Y"), "%.3f", 7), fmt(step_y and step_y * 1e6, "%.2f", 9),
            fmt(step_m and step_m * 1e6, "%.2f", 9)))
        if r["peer_nodes"] is not None and r["nodes"] is not None and r["peer_nodes"] != r["nodes"]:
            print("       note: ProDy was given %d nodes, the engine built %d" % (r["peer_nodes"], r["nodes"]))
    print("P/ours = ProDy buildHessian / our Hessian build; evr/P and evd/P = our solve / ProDy calcModes(None).")
    cpu_rows = [r for r in rows if r["ours_cpu"].get("BM_EigenLapack") and r["peer"].get("solve_median_cpu_s")]
    if cpu_rows:
        print("Solve CPU time (all threads) on both sides, against the noise of the shared machine:")
        for r in cpu_rows:
            evr, evd = r["ours_cpu"].get("BM_EigenLapack"), r["ours_cpu"].get("BM_EigenLapackDC")
            mrrr = r["ours_cpu"].get("BM_EigenLapackMRRR")
            p_cpu = r["peer"]["solve_median_cpu_s"]
            print("  %6d %-10s lapack %8.2f s  lapack-dc %s  dsyevr %s  ProDy %8.2f s  lapack/P %5.2f  evd/P %s"
                  "  lapack/dsyevr %s" % (
                      r["nodes"], r["label"][:10], evr, fmt(evd, "%8.2f s", 10), fmt(mrrr, "%8.2f s", 10), p_cpu,
                      evr / p_cpu, fmt(ratio(evd, p_cpu), "%5.2f", 5), fmt(ratio(evr, mrrr), "%5.2f", 5)))
    print("Times are medians over repetitions (one run for the largest solves); step = one simulate() of a")
    print("node in press state 1, through Y (stepY) or through the first 100 modes (step100).")

    if any(r["memory"] for r in rows):
        print()
        head = "%6s %-10s | %9s | %-9s %9s %6s %-11s" % (
            "nodes", "structure", "72N² MB", "solver", "peak MB", "×72N²", "peak phase")
        print(head)
        print("-" * len(head))
        for r in rows:
            for solver, m in sorted(r["memory"].items()):
                phases = m.get("phases", [])
                peak_phase = next((ph["name"] for ph in phases if ph["peak_rss_bytes"] >= m["peak_rss_bytes"]), "-")
                print("%6d %-10s | %9.1f | %-9s %9.1f %6.2f %-11s%s" % (
                    m["nodes"], r["label"][:10], m["matrix_bytes"] / 1e6, solver, m["peak_rss_bytes"] / 1e6,
                    m["peak_over_matrix"], peak_phase, "" if m.get("ok") else "  (run failed)"))
        print("Peak = ru_maxrss of one process doing read → network → Hessian → eigen → calibration → Y →")
        print("one response step; 72N² = one 3N × 3N matrix of doubles; peak phase = first phase that")
        print("reached the peak.")

    print()
    print("Targets:")
    checks = []
    solve_rows = [r for r in rows if r["nodes"] and r["nodes"] >= SOLVE_FROM_NODES]
    for r in solve_rows:
        value = ratio(r["ours"].get("BM_EigenLapack"), r["peer"].get("solve_median_s"))
        checks.append(("default solve ≤ %.1f × ProDy's full solve, %d nodes" % (SOLVE_RATIO_MAX, r["nodes"]),
                       value, value is not None and value <= SOLVE_RATIO_MAX, "%.2f ×"))
    for r in rows:
        value = ratio(r["peer"].get("hessian_median_s"), r["ours"].get("BM_Hessian"))
        checks.append(("Hessian build ≥ %.0f × faster than ProDy's, %s nodes" % (HESSIAN_RATIO_MIN, r["nodes"]),
                       value, value is not None and value >= HESSIAN_RATIO_MIN, "%.1f ×"))
    for r in rows:
        if not r["nodes"] or r["nodes"] < LARGE_NODES:
            continue
        step = r["ours"].get("BM_ResponseY")
        value = step * 1e6 if step is not None else None
        checks.append(("response step through Y < %.0f µs, %d nodes" % (STEP_MAX_US, r["nodes"]),
                       value, value is not None and value < STEP_MAX_US, "%.1f µs"))
        for solver, m in sorted(r["memory"].items()):
            value = m["peak_over_matrix"] if m.get("ok") else None
            checks.append(("peak memory ≤ %.0f × 72N² (%s), %d nodes" % (MEMORY_FACTOR_MAX, solver, r["nodes"]),
                           value, value is not None and value <= MEMORY_FACTOR_MAX, "%.2f ×"))
    if not any(r["nodes"] and r["nodes"] >= LARGE_NODES for r in rows):
        print("  (no structure of %d nodes or more in this run: the step and memory targets are not checked)"
              % LARGE_NODES)
    for text, value, ok, pattern in checks:
        status = "met" if ok else ("NOT MEASURED" if value is None else "MISSED")
        print("  %-66s %12s  %s" % (text, (pattern % value) if value is not None else "-", status))


if __name__ == "__main__":
    main()
