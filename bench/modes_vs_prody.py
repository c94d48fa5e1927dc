#!/usr/bin/python3
"""`vornax-enm modes` as a user runs it, side by side with ProDy's ANM.buildHessian.

For every repetition, structure by structure (ours, then ProDy, then the baseline build when
one is named, so that a burst of load from elsewhere tends to hit every side of a ratio):

  ours      /usr/bin/time -v vornax-enm modes FILE --json OUT --verbose
            the JSON's timings (hessian, eigen) and peak_rss_bytes, time's maximum resident
            size, user and system seconds and minor faults; the resident size is sampled every
            20 ms and split at the engine's progress lines, which gives the peak of each stage
  ProDy     bench/prody_enm.py --json --solve-max-nodes 0: buildHessian's first call (which
            pays the first touch of the matrix) and the median of three more

    /usr/bin/python3 bench/modes_vs_prody.py BUILD_DIR [--reps 3] [--large-reps 1]
        [--baseline OTHER/vornax-enm] [--results DIR] FILE.pdb [...]
    /usr/bin/python3 bench/modes_vs_prody.py BUILD_DIR --results DIR --summarize

Prints one table row per structure: our Hessian stage (median, min, max over the
repetitions), ProDy's buildHessian (median of the repeated calls; first call), their ratio, our
Hessian + eigen stages, the maximum resident size over 72·N² (one 3N × 3N matrix of doubles),
and the peak of each stage over 72·N². With --baseline, the same for that build.
The load average is recorded with every run (the machine may be shared).
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# The engine's console lines that end one stage of `modes` and begin the next.
STAGE_LINES = [
    ("Constructing Hessian matrix from", "hessian+eigen"),
    ("Time for calculating eigen vectors and values", "calibration+y"),
    ("Time for calculating Y", "files"),
    ("detected memory", "budget"),
    ("Mode checking is complete", "report"),
]


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def child_pid(parent):
    """The first child of `parent` (time's child, the program), or None."""
    try:
        with open("/proc/%d/task/%d/children" % (parent, parent)) as f:
            pids = f.read().split()
        return int(pids[0]) if pids else None
    except (OSError, ValueError):
        return None


def resident_bytes(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return None


def time_v_fields(text):
    fields = {}
    for line in text.splitlines():
        line = line.strip()
        key, _, value = line.rpartition(": ")
        if key == "Maximum resident set size (kbytes)":
            fields["max_rss_bytes"] = int(value) * 1024
        elif key == "User time (seconds)":
            fields["user_s"] = float(value)
        elif key == "System time (seconds)":
            fields["sys_s"] = float(value)
        elif key == "Minor (reclaiming a frame) page faults":
            fields["minor_faults"] = int(value)
        elif key == "Exit status":
            fields["exit_status"] = int(value)
    return fields


def run_ours(binary, path, tmp):
    """One `vornax-enm modes` run: its JSON, time -v's figures and the peak of each stage."""
    out = os.path.join(tmp, "modes.json")
    timefile = os.path.join(tmp, "time.txt")
    load = load_average()
    proc = subprocess.Popen(["/usr/bin/time", "-v", "-o", timefile, binary, "modes", path, "--json", out,
                             "--verbose"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            errors="replace")
    stage = ["start"]
    peaks = {}

    def follow():
        for line in proc.stderr:
            for prefix, name in STAGE_LINES:
                if line.startswith(prefix):
                    stage[0] = name

    reader = threading.Thread(target=follow, daemon=True)
    reader.start()
    pid = None
    while proc.poll() is None:
        if pid is None:
            pid = child_pid(proc.pid)
        if pid is not None:
            rss = resident_bytes(pid)
            if rss is not None:
                peaks[stage[0]] = max(peaks.get(stage[0], 0), rss)
        time.sleep(0.02)
    reader.join(timeout=5)
    with open(timefile) as f:
        result = time_v_fields(f.read())
    result["load_average"] = load
    result["stage_peak_bytes"] = peaks
    if proc.returncode != 0:
        result["error"] = "exit status %d" % proc.returncode
        return result
    with open(out) as f:
        report = json.load(f)
    result.update(nodes=report["nodes"], hessian_s=report["timings"]["hessian"],
                  eigen_s=report["timings"]["eigen"], peak_rss_bytes=report["peak_rss_bytes"])
    return result


def run_prody(path):
    load = load_average()
    text = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "prody_enm.py"), "--json", "--solve-max-nodes", "0",
                           "--hessian-repeat", "3", path], check=True, capture_output=True, text=True).stdout
    result = json.loads(text)["results"][0]
    result["load_average"] = load
    return result


def spread(values):
    return (statistics.median(values), min(values), max(values)) if values else (float("nan"),) * 3


def summarize(label, nodes, runs, prody):
    matrix = 72.0 * nodes * nodes
    ok = [r for r in runs if "error" not in r]
    h = spread([r["hessian_s"] for r in ok])
    total = spread([r["hessian_s"] + r["eigen_s"] for r in ok])
    cpu = spread([r["user_s"] + r["sys_s"] for r in ok])
    rss = max((r["max_rss_bytes"] for r in ok), default=0) / matrix
    json_peak = max((r["peak_rss_bytes"] for r in ok), default=0) / matrix
    stages = {}
    for r in ok:
        for name, v in r["stage_peak_bytes"].items():
            stages[name] = max(stages.get(name, 0), v / matrix)
    p = statistics.median([r["hessian_median_s"] for r in prody]) if prody else float("nan")
    first = statistics.median([r["hessian_first_s"] for r in prody]) if prody else float("nan")
    return {"label": label, "nodes": nodes, "runs": len(ok), "hessian": h, "prody": p, "prody_first": first,
            "ratio": h[0] / p if p == p and p > 0 else float("nan"), "hessian_eigen": total, "cpu": cpu, "max_rss": rss,
            "json_peak": json_peak, "stages": stages,
            "loads": [r["load_average"] for r in runs]}


def print_table(title, rows):
    print(title)
    print("%-12s %5s %4s %22s %14s %6s %24s %8s %6s %6s  %s" % (
        "structure", "nodes", "runs", "hessian s med [min,max]", "prody s (1st)", "ratio",
        "hessian+eigen s med [min,max]", "cpu s", "maxrss", "json", "stage peaks / 72N^2"))
    for r in rows:
        h, t = r["hessian"], r["hessian_eigen"]
        stages = " ".join("%s=%.2f" % (k, v) for k, v in r["stages"].items())
        print("%-12s %5d %4d %7.3f [%.3f,%.3f] %6.3f (%5.3f) %6.3f %8.1f [%.1f,%.1f] %8.1f %6.2f %6.2f  %s" % (
            r["label"], r["nodes"], r["runs"], h[0], h[1], h[2], r["prody"], r["prody_first"], r["ratio"],
            t[0], t[1], t[2], r["cpu"][0], r["max_rss"], r["json_peak"], stages))
    print("load averages: " + "; ".join("%s %s" % (r["label"], ",".join("%.1f" % x for x in r["loads"]))
                                        for r in rows))
    print()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build")
    ap.add_argument("files", nargs="*")
    ap.add_argument("--reps", type=int, default=3, help="runs of each structure (default 3)")
    ap.add_argument("--large-reps", type=int, default=1, help="runs above 4000 nodes (default 1)")
    ap.add_argument("--baseline", help="another vornax-enm to run alternately (the build before a change)")
    ap.add_argument("--baseline-reps", type=int, default=None, help="runs of the baseline (default --reps)")
    ap.add_argument("--baseline-max-nodes", type=int, default=4000,
                    help="no baseline runs above this many nodes (default 4000)")
    ap.add_argument("--results", help="keep every run's figures in this folder (runs.jsonl)")
    ap.add_argument("--summarize", action="store_true",
                    help="print the table from the runs kept in --results (of an interrupted run, say)")
    args = ap.parse_intermixed_args()

    if args.summarize:
        runs, files = {}, []
        with open(os.path.join(args.results, "runs.jsonl")) as f:
            for line in f:
                r = json.loads(line)
                if r["label"] not in runs:
                    runs[r["label"]] = {"ours": [], "prody": [], "baseline": []}
                    files.append([r["label"], None, 0])
                runs[r["label"]][r["side"]].append(r)
        for entry in files:
            entry[2] = next((r["nodes"] for side in runs[entry[0]].values() for r in side if "nodes" in r), 0)
        report(files, runs, args.baseline or ("kept runs" if any(runs[label]["baseline"] for label, _, _ in files) else None))
        return

    if not args.files:
        sys.exit("no PDB files given")
    binary = os.path.join(args.build, "bin", "vornax-enm")
    if not os.access(binary, os.X_OK):
        sys.exit("%s not found: build the target vornax-enm first" % binary)
    have_prody = subprocess.run(["/usr/bin/python3", "-c", "import prody"], capture_output=True).returncode == 0
    if not have_prody:
        print("ProDy is not importable by /usr/bin/python3 (package python3-prody); its columns stay empty.")

    files = []
    for path in args.files:
        if not os.path.isfile(path):
            print("missing file, skipped: %s" % path)
            continue
        count = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "prody_enm.py"), "--count-only", path],
                               check=True, capture_output=True, text=True).stdout.split()[0]
        files.append((os.path.basename(path)[:-4] if path.endswith(".pdb") else os.path.basename(path), path,
                      int(count)))
    log = None
    if args.results:
        os.makedirs(args.results, exist_ok=True)
        log = open(os.path.join(args.results, "runs.jsonl"), "a")

    runs = {label: {"ours": [], "prody": [], "baseline": []} for label, _, _ in files}
    with tempfile.TemporaryDirectory() as tmp:
        for rep in range(max(args.reps, args.large_reps)):
            for label, path, nodes in files:
                if rep >= (args.large_reps if nodes > 4000 else args.reps):
                    continue
                sides = [("ours", lambda: run_ours(binary, path, tmp))]
                if have_prody:
                    sides.append(("prody", lambda: run_prody(path)))
                baseline_reps = args.reps if args.baseline_reps is None else args.baseline_reps
                if args.baseline and rep < baseline_reps and nodes <= args.baseline_max_nodes:
                    sides.append(("baseline", lambda: run_ours(args.baseline, path, tmp)))
                for side, run in sides:
                    r = run()
                    runs[label][side].append(r)
                    line = {"label": label, "rep": rep, "side": side, **r}
                    print(json.dumps(line), file=sys.stderr, flush=True)
                    if log:
                        print(json.dumps(line), file=log, flush=True)

    report(files, runs, args.baseline)


def report(files, runs, baseline):
    print_table("vornax-enm modes (this build) against ProDy buildHessian, Rc 11 A",
                [summarize(label, nodes, runs[label]["ours"], runs[label]["prody"]) for label, _, nodes in files])
    if baseline:
        print_table("baseline build (%s)" % baseline,
                    [summarize(label, nodes, runs[label]["baseline"], runs[label]["prody"])
                     for label, _, nodes in files])


if __name__ == "__main__":
    main()
