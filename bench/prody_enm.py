#!/usr/bin/python3
"""Time ProDy's ANM on PDB files, as the peer of bench/EnmBenchmark.cpp.

Per file: the network nodes are taken by our own column rule (every ATOM/HETATM record whose
atom name, columns 13-16, is exactly " CA ", or whose columns 14-15, trimmed, are "P"; all
alternate locations, all models, file order), so ProDy gets exactly our nodes. Then

  ANM.buildHessian(coords, cutoff=11.0, gamma=1.0)     one warm-up (timed apart: hessian_first_s),
                                                        median of --hessian-repeat
  ANM.calcModes(n_modes=None, zeros=True)               the full solve (scipy eigh, dsyevr),
                                                        median of --solve-repeat

The full solve is left out above --solve-max-nodes (it takes ~100 s at 2900 nodes).

    /usr/bin/python3 bench/prody_enm.py [--json] [options] FILE.pdb [...]

Needs Debian's python3-prody (the interpreter in /usr/bin, not a pyenv one).
"""

import argparse
import json
import os
import statistics
import sys
import time
import warnings


def node_coordinates(path):
    """Coordinates (Å) of the network nodes of `path`, in file order."""
    coords = []
    with open(path, errors="replace") as f:
        for line in f:
            if not (line.startswith("ATOM  ") or line.startswith("HETATM")):
                continue
            if line[12:16] != " CA " and line[13:15].strip() != "P":
                continue
            try:
                coords.append((float(line[30:38]), float(line[38:46]), float(line[46:54])))
            except ValueError:
                continue  # the reader skips records whose coordinates cannot be read
    return coords


def default_solve_repeat(nodes):
    return 3 if nodes <= 700 else 1


def time_file(prody, numpy, path, cutoff, hessian_repeat, solve_repeat, solve_max_nodes):
    xyz = numpy.array(node_coordinates(path), dtype=float)
    nodes = len(xyz)
    result = {"file": path, "nodes": nodes, "cutoff": cutoff}
    if nodes < 3:
        result["error"] = "fewer than 3 nodes"
        return result

    anm = prody.ANM(os.path.basename(path))
    start = time.perf_counter()
    anm.buildHessian(xyz, cutoff=cutoff, gamma=1.0)  # warm-up: the first call pays the matrix's first touch
    result["hessian_first_s"] = time.perf_counter() - start
    times = []
    for _ in range(hessian_repeat):
        start = time.perf_counter()
        anm.buildHessian(xyz, cutoff=cutoff, gamma=1.0)
        times.append(time.perf_counter() - start)
    result.update(hessian_repeat=hessian_repeat, hessian_median_s=statistics.median(times),
                  hessian_min_s=min(times))

    if nodes > solve_max_nodes:
        result["solve_skipped"] = "more than %d nodes" % solve_max_nodes
        return result
    repeat = solve_repeat if solve_repeat > 0 else default_solve_repeat(nodes)
    times, cpu = [], []
    for _ in range(repeat):
        start, start_cpu = time.perf_counter(), time.process_time()
        anm.calcModes(n_modes=None, zeros=True)
        times.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
    result.update(solve_repeat=repeat, solve_median_s=statistics.median(times), solve_min_s=min(times),
                  solve_median_cpu_s=statistics.median(cpu), modes=int(anm.numModes()))
    return result


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("files", nargs="+")
    ap.add_argument("--cutoff", type=float, default=11.0, help="Å (default 11)")
    ap.add_argument("--hessian-repeat", type=int, default=5, help="timed buildHessian calls (default 5)")
    ap.add_argument("--solve-repeat", type=int, default=0,
                    help="timed calcModes calls (default 3 up to 700 nodes, 1 above)")
    ap.add_argument("--solve-max-nodes", type=int, default=3000,
                    help="no full solve above this many nodes (default 3000)")
    ap.add_argument("--count-only", action="store_true", help="print the node count of each file and stop")
    ap.add_argument("--json", action="store_true", help="print JSON instead of a table")
    args = ap.parse_args()

    if args.count_only:
        for path in args.files:
            print("%d %s" % (len(node_coordinates(path)), path))
        return

    warnings.filterwarnings("ignore")
    try:
        import numpy
        import prody
    except ImportError:
        sys.exit("prody_enm.py: ProDy is not importable by %s (use /usr/bin/python3)" % sys.executable)
    # Silence the logger directly; confProDy would also rewrite the user's ProDy settings file.
    prody.LOGGER.verbosity = "none"

    results = []
    for path in args.files:
        if not os.path.isfile(path):
            print("prody_enm.py: missing %s" % path, file=sys.stderr)
            continue
        results.append(time_file(prody, numpy, path, args.cutoff, max(1, args.hessian_repeat),
                                 args.solve_repeat, args.solve_max_nodes))

    if args.json:
        json.dump({"prody_version": prody.__version__, "results": results}, sys.stdout, indent=1)
        print()
        return
    print("ProDy %s ANM, cutoff %g Å" % (prody.__version__, args.cutoff))
    print("%-16s %6s %12s %10s" % ("file", "nodes", "hessian_ms", "solve_s"))
    for r in results:
        solve = "%10.2f" % r["solve_median_s"] if "solve_median_s" in r else "%10s" % "-"
        hessian = "%12.1f" % (r["hessian_median_s"] * 1e3) if "hessian_median_s" in r else "%12s" % "-"
        print("%-16s %6d %s %s" % (os.path.basename(r["file"]), r["nodes"], hessian, solve))


if __name__ == "__main__":
    main()
