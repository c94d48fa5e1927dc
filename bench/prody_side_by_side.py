#!/usr/bin/python3
"""Our sparse path against ProDy's ANM on one structure, in one run (bench/prody-side-by-side.sh).

Each repetition runs three processes one after the other, each timed on its own:

  ours          BUILD/bin/vornax-enm modes FILE --path sparse --lowest 20 --json OUT: its
                time_to_first_pull (file opened -> first response possible: network, Hessian,
                factorisation, 20 lowest modes, Sigma-inv, calibration), stage timings, peak memory.
                When that program does not take these flags yet, BUILD/bin/sparse_modes_probe
                FILE --json OUT measures the same stages (the "source" column says which).
  prody-sparse  ANM.buildHessian(xyz, cutoff=11, gamma=1, sparse=True); ANM.calcModes(20)
  prody-dense   ANM.buildHessian(xyz, cutoff=11, gamma=1); ANM.calcModes(n_modes=None, zeros=True)
                (what ../shared/tools/enm_reference.py computes: every mode, LAPACK dsyevr)

ProDy is given exactly our nodes (prody_enm.node_coordinates: atom name " CA " or phosphorus, all
altlocs, file order). ProDy's time is file -> modes: reading the node coordinates, buildHessian
and calcModes (the import of ProDy itself is left out). Peak memory is each process's own
maximum resident set size (getrusage in the process). The table gives the median of the repetitions and the ratios
ours/ProDy of the medians.

    /usr/bin/python3 bench/prody_side_by_side.py BUILD_DIR FILE [--reps 3] [--json OUT]
                     [--no-dense] [--ours-args "..."]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CUTOFF = 11.0
LOWEST = 20


def run_measured(command):
    """Runs `command`; returns (exit status, (wall, CPU seconds), stdout, stderr). The children run
    one at a time, so the CPU time is this child's own. Each child reports its own peak memory
    (ProDy's from getrusage, ours in its JSON)."""
    import resource
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    out, err = proc.communicate()
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return proc.returncode, (wall, cpu), out, err


# --------------------------------------------------------------------------- one ProDy run

def prody_once(kind, path):
    import resource
    import warnings
    warnings.filterwarnings("ignore")
    import numpy
    import prody
    prody.LOGGER.verbosity = "none"
    sys.path.insert(0, HERE)
    from prody_enm import node_coordinates

    start = time.perf_counter()
    xyz = numpy.array(node_coordinates(path), dtype=float)
    read = time.perf_counter()
    anm = prody.ANM(os.path.basename(path))
    if kind == "dense":
        anm.buildHessian(xyz, cutoff=CUTOFF, gamma=1.0)
        hessian = time.perf_counter()
        anm.calcModes(n_modes=None, zeros=True)
    else:
        anm.buildHessian(xyz, cutoff=CUTOFF, gamma=1.0, sparse=True)
        hessian = time.perf_counter()
        anm.calcModes(LOWEST)
    done = time.perf_counter()
    evals = anm.getEigvals()
    first = [float(v) for v in evals[:3]] if kind == "sparse" else [float(v) for v in evals[6:9]]
    print(json.dumps({
        "nodes": int(len(xyz)), "modes": int(anm.numModes()), "read_s": read - start,
        "hessian_s": hessian - read, "modes_s": done - hessian, "total_s": done - start,
        "lowest_eigenvalues": first,
        "peak_rss_bytes": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024,
    }))


# --------------------------------------------------------------------------- our run

def ours_once(build, path, extra):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "ours.json")
        cli = os.path.join(build, "bin", "vornax-enm")
        if os.access(cli, os.X_OK):
            status, wall, _, err = run_measured([cli, "modes", path, "--path", "sparse", "--lowest", str(LOWEST),
                                                 "--json", out] + extra)
            if status == 0 and os.path.exists(out):
                with open(out) as f:
                    data = json.load(f)
                if "time_to_first_pull" in data:
                    data.setdefault("source", "vornax-enm")
                    data["wall_s"], data["cpu_s"] = wall
                    return data
        probe = os.path.join(build, "bin", "sparse_modes_probe")
        if not os.access(probe, os.X_OK):
            return {"error": "neither vornax-enm modes --path sparse nor sparse_modes_probe is available"}
        status, wall, _, err = run_measured([probe, path, "--modes", str(LOWEST), "--json", out] + extra)
        if status != 0:
            return {"error": "sparse_modes_probe failed: " + err.strip()}
        with open(out) as f:
            data = json.load(f)
        data["wall_s"], data["cpu_s"] = wall
        return data


def prody_run(kind, path):
    status, wall, out, err = run_measured([sys.executable, os.path.abspath(__file__), "--one", kind, path])
    if status != 0:
        return {"error": "ProDy %s failed: %s" % (kind, err.strip()[-400:])}
    data = json.loads(out.strip().splitlines()[-1])
    data["wall_s"], data["cpu_s"] = wall
    return data


# --------------------------------------------------------------------------- table

def median(runs, key):
    values = [r[key] for r in runs if key in r]
    return statistics.median(values) if values else None


def fmt(v, unit="s"):
    if v is None:
        return "-"
    return "%.3f %s" % (v, unit) if unit else "%.3g" % v


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("build", nargs="?")
    ap.add_argument("file", nargs="?")
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--json", help="write every run's figures and the medians here")
    ap.add_argument("--no-dense", action="store_true", help="leave out ProDy's full solve (~100 s at 2,900 nodes)")
    ap.add_argument("--ours-args", default="", help="more arguments for our program (split on spaces)")
    ap.add_argument("--one", choices=["dense", "sparse"], help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.one:
        prody_once(args.one, args.build)  # the one positional argument is the file
        return 0
    if not args.build or not args.file:
        ap.error("BUILD_DIR and FILE are needed")

    extra = args.ours_args.split()
    load_before = os.getloadavg()
    runs = {"ours": [], "prody_sparse": [], "prody_dense": []}
    for rep in range(args.reps):
        runs["ours"].append(ours_once(args.build, args.file, extra))
        runs["prody_sparse"].append(prody_run("sparse", args.file))
        if not args.no_dense:
            runs["prody_dense"].append(prody_run("dense", args.file))
        for name, rs in runs.items():
            if rs and len(rs) == rep + 1:
                sys.stderr.write("run %d %s: %s\n" % (rep + 1, name, json.dumps(rs[-1], sort_keys=True)))

    ours = [r for r in runs["ours"] if "error" not in r]
    sparse = [r for r in runs["prody_sparse"] if "error" not in r]
    dense = [r for r in runs["prody_dense"] if "error" not in r]
    for name, rs in runs.items():
        for r in rs:
            if "error" in r:
                print("%s: %s" % (name, r["error"]))
    summary = {"file": args.file, "reps": args.reps}
    load_after = os.getloadavg()
    summary["load_average_before_after"] = [load_before[0], load_after[0]]
    print("%s, %d repetitions (medians); 1-minute load average %.2f before, %.2f after, %d cores" % (
        os.path.basename(args.file), args.reps, load_before[0], load_after[0], os.cpu_count()))
    if ours:
        source = ours[0].get("source", "?")
        ttfp = median(ours, "time_to_first_pull")
        stages = {}
        for key in ("read", "network", "hessian", "ordering", "factorisation", "lanczos", "trace",
                    "calibration_and_response"):
            values = [r["timings"][key] for r in ours if key in r.get("timings", {})]
            if values:
                stages[key] = statistics.median(values)
        peak = median(ours, "peak_rss_bytes")
        print("  ours (%s): %d nodes, time to first pull %s, peak %s MB, process CPU %s" % (
            source, ours[0].get("nodes", 0), fmt(ttfp), fmt(peak / 1048576 if peak else None, ""),
            fmt(median(ours, "cpu_s"))))
        print("    stages: " + "  ".join("%s %.3f s" % kv for kv in stages.items()))
        value = ours[0].get("sum_inverse", ours[0].get("sum_inverse_eigenvalues", float("nan")))
        print("    sum of inverse eigenvalues %.10g %s" % (value,
              "exact" if ours[0].get("sum_inverse_exact") else "+- %.3g" % ours[0].get("sum_inverse_bound", 0)))
        summary["ours"] = {"source": source, "time_to_first_pull": ttfp, "timings": stages, "peak_rss_bytes": peak,
                           "runs_time_to_first_pull": [r["time_to_first_pull"] for r in ours]}
    else:
        ttfp = None
        print("  ours: not yet (no run succeeded)")
    for label, rs, key in (("ProDy sparse (buildHessian sparse, calcModes(20))", sparse, "prody_sparse"),
                           ("ProDy dense (buildHessian, calcModes(None))", dense, "prody_dense")):
        if not rs:
            print("  %s: not run" % label)
            continue
        total = median(rs, "total_s")
        peak = median(rs, "peak_rss_bytes")
        print("  %s: file to modes %s (read %s, hessian %s, modes %s), peak %s MB, process CPU %s" % (
            label, fmt(total), fmt(median(rs, "read_s")), fmt(median(rs, "hessian_s")),
            fmt(median(rs, "modes_s")), fmt(peak / 1048576, ""), fmt(median(rs, "cpu_s"))))
        summary[key] = {"total_s": total, "read_s": median(rs, "read_s"), "hessian_s": median(rs, "hessian_s"),
                        "modes_s": median(rs, "modes_s"), "peak_rss_bytes": peak,
                        "runs_total_s": [r["total_s"] for r in rs]}
        if ttfp is not None:
            ratio = ttfp / total
            summary[key]["ours_over_prody"] = ratio
            print("    ours / ProDy: %.4f (%.2f %%)" % (ratio, 100 * ratio))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"summary": summary, "runs": runs}, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
