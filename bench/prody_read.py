#!/usr/bin/python3
"""Time ProDy's parsePDB on PDB files, as the peer of BM_ReadPdb (bench/ReadBenchmark.cpp).

Per file: one warm-up call, then --repeat timed calls; prints the median wall time in seconds
(the JSON output also has the median process CPU time).

    /usr/bin/python3 bench/prody_read.py [--repeat N] [--json] FILE.pdb [...]

Needs Debian's python3-prody (the interpreter in /usr/bin, not a pyenv one).
"""

import argparse
import json
import os
import statistics
import sys
import time
import warnings


def time_file(parse, path, repeat):
    parse(path)  # warm-up: imports, page cache
    times, cpu = [], []
    for _ in range(repeat):
        start, start_cpu = time.perf_counter(), time.process_time()
        structure = parse(path)
        times.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
    return {
        "file": path,
        "bytes": os.path.getsize(path),
        "atoms": structure.numAtoms() if structure is not None else 0,
        "repeat": repeat,
        "median_s": statistics.median(times),
        "min_s": min(times),
        "max_s": max(times),
        "median_cpu_s": statistics.median(cpu),
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("files", nargs="+")
    ap.add_argument("--repeat", type=int, default=7, help="timed calls per file (default 7)")
    ap.add_argument("--json", action="store_true", help="print a JSON list instead of a table")
    args = ap.parse_args()

    warnings.filterwarnings("ignore")
    try:
        import prody
    except ImportError:
        sys.exit("prody_read.py: ProDy is not importable by %s (use /usr/bin/python3)" % sys.executable)
    # Silence the logger directly; confProDy would also rewrite the user's ProDy settings file.
    prody.LOGGER.verbosity = "none"

    results = []
    for path in args.files:
        if not os.path.isfile(path):
            print("prody_read.py: missing %s" % path, file=sys.stderr)
            continue
        results.append(time_file(prody.parsePDB, path, max(1, args.repeat)))

    if args.json:
        json.dump({"prody_version": prody.__version__, "results": results}, sys.stdout, indent=1)
        print()
    else:
        print("ProDy %s parsePDB, median of %d" % (prody.__version__, args.repeat))
        print("%-12s %10s %8s %10s" % ("file", "bytes", "atoms", "median_s"))
        for r in results:
            print("%-12s %10d %8d %10.4f" % (os.path.basename(r["file"]), r["bytes"], r["atoms"], r["median_s"]))


if __name__ == "__main__":
    main()
