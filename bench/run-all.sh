#!/usr/bin/env bash
# Runs the reader benchmark and ProDy's parsePDB on the same files in one run and prints
# median load times side by side with the ratio ProDy / ours.
#
#   bench/run-all.sh BUILD_DIR [FILE.pdb ...]
#
# Without files: 1crn, 4hhb, 3wip and 1aon (the largest public entry) from ../shared/data/pdb
# beside the repository; when that folder is absent there is nothing to measure and the
# script exits 0. Environment: VORNAX_BENCH_REPS (Google Benchmark repetitions, default 5),
# VORNAX_PRODY_REPEAT (timed parsePDB calls per file, default 7).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
if [ $# -lt 1 ]; then
  echo "usage: bench/run-all.sh BUILD_DIR [FILE.pdb ...]" >&2
  exit 2
fi
build=$1
shift
reps=${VORNAX_BENCH_REPS:-5}
prody_repeat=${VORNAX_PRODY_REPEAT:-7}
# Debian's interpreter carries python3-prody; a pyenv python3 earlier on PATH does not.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

if [ $# -eq 0 ]; then
  data="$root/../shared/data/pdb"
  if [ ! -d "$data" ]; then
    echo "The public structure set ($data) is not present: the large PDB files are missing, nothing to benchmark."
    exit 0
  fi
  set -- "$data/1crn.pdb" "$data/4hhb.pdb" "$data/3wip.pdb" "$data/1aon.pdb"
fi

files=()
for f in "$@"; do
  if [ ! -f "$f" ]; then
    echo "missing file, skipped: $f"
    continue
  fi
  f=$(realpath "$f")
  case $f in
    *:*) echo "path contains ':', skipped: $f"; continue ;;
  esac
  files+=("$f")
done
if [ ${#files[@]} -eq 0 ]; then
  echo "No PDB files to benchmark."
  exit 0
fi

bin="$build/bin/read_benchmark"
if [ ! -x "$bin" ]; then
  echo "$bin not found: build with -DVORNAX_BUILD_BENCH=ON first (./dev bench does)." >&2
  exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "== Vornax reader (Google Benchmark, $reps repetitions)"
VORNAX_BENCH_PDB=$(IFS=:; echo "${files[*]}") "$bin" \
  --benchmark_repetitions="$reps" \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$tmp/ours.json" --benchmark_out_format=json

echo
echo "== ProDy parsePDB ($prody_repeat calls per file after one warm-up)"
if "$python" -c 'import prody' >/dev/null 2>&1; then
  "$python" "$here/prody_read.py" --repeat "$prody_repeat" --json "${files[@]}" >"$tmp/prody.json"
  echo "done"
else
  echo "ProDy is not importable by $python (package python3-prody); its column stays empty."
  echo '{"results": []}' >"$tmp/prody.json"
fi

echo
"$python" - "$tmp/ours.json" "$tmp/prody.json" "${files[@]}" <<'EOF'
import json, os, sys

ours_path, prody_path, files = sys.argv[1], sys.argv[2], sys.argv[3:]
ours = json.load(open(ours_path))
prody = {r["file"]: r for r in json.load(open(prody_path)).get("results", [])}

scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
medians, atoms = {}, {}
for b in ours["benchmarks"]:
    if b.get("error_occurred"):
        continue
    name = b.get("run_name", b["name"])
    if b.get("aggregate_name") == "median":
        medians[name] = b["real_time"] * scale[b["time_unit"]]
        atoms[name] = b.get("atoms")

def med(kind, f):
    return medians.get("%s/%s/real_time" % (kind, os.path.basename(f)))

def fmt_ms(s):
    return "%10.2f" % (s * 1e3) if s is not None else "%10s" % "-"

print("Median load time per file (wall clock, ms); ratio = ProDy / ours (whole load incl. cleanup)")
head = "%-10s %9s %8s %10s %10s %10s %8s" % ("file", "size MB", "atoms", "ours", "ours-nocl", "ProDy", "ratio")
print(head)
print("-" * len(head))
largest = None
for f in files:
    name = os.path.basename(f)
    o, onc = med("BM_ReadPdb", f), med("BM_ReadPdbNoCleanup", f)
    p = prody.get(f, {}).get("median_s")
    ratio = p / o if (p and o) else None
    n = atoms.get("BM_ReadPdb/%s/real_time" % name)
    print("%-10s %9.2f %8s %s %s %s %8s" % (
        name, os.path.getsize(f) / 1e6, "%d" % n if n is not None else "-",
        fmt_ms(o), fmt_ms(onc), fmt_ms(p), "%.1fx" % ratio if ratio else "-"))
    if largest is None or os.path.getsize(f) > os.path.getsize(largest[0]):
        largest = (f, ratio)
if largest and largest[1]:
    verdict = "meets" if largest[1] >= 5 else "BELOW"
    print("\nLargest file %s: ours is %.1fx faster than ProDy parsePDB (%s the 5x goal)"
          % (os.path.basename(largest[0]), largest[1], verdict))
EOF
