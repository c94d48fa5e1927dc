#!/usr/bin/env bash
# Times `vornax-enm modes FILE --json` as a user runs it (under /usr/bin/time -v) and ProDy's
# ANM.buildHessian on the same structures in one run, alternating, and prints per structure our
# Hessian stage (median, min, max), ProDy's buildHessian, their ratio, our Hessian + eigen
# stages, and the peak memory over 72·N² (one 3N × 3N matrix of doubles), whole and by stage.
# See bench/modes_vs_prody.py for the columns.
#
#   bench/modes-vs-prody.sh BUILD_DIR [FILE.pdb ...]
#
# Without files: 1igy, 3wip, 4jsv and 3j6r from ../shared/data/pdb beside the repository (1294
# to 2868 nodes at Rc = 11 Å) and a 5000-node cut of 1aon made in a temporary folder (with
# BUILD_DIR/bin/enm_memory_probe). Every run solves the whole structure, so the run is long: on
# a shared 2-core machine about 25 minutes a repetition of the four, and 15 to 30 minutes for
# each run of the cut.
#
# Environment:
#   VORNAX_BENCH_REPS        runs of each structure (default 3)
#   VORNAX_BENCH_LARGE_REPS  runs of structures above 4000 nodes (default 1)
#   VORNAX_BENCH_MAX_NODES   leave out structures with more nodes
#   VORNAX_BENCH_BASELINE    another vornax-enm (the build before a change) run alternately
#   VORNAX_BENCH_RESULTS     keep every run's figures in this folder (runs.jsonl); the table of
#                            an interrupted run: bench/modes_vs_prody.py X --results DIR --summarize
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
if [ $# -lt 1 ]; then
  echo "usage: bench/modes-vs-prody.sh BUILD_DIR [FILE.pdb ...]" >&2
  exit 2
fi
build=$1
shift
python=/usr/bin/python3
[ -x "$python" ] || python=python3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ $# -eq 0 ]; then
  data="$root/../shared/data/pdb"
  if [ ! -d "$data" ]; then
    echo "The public structure set ($data) is not present: the PDB files are missing, nothing to benchmark."
    exit 0
  fi
  for name in 1igy 3wip 4jsv 3j6r; do set -- "$@" "$data/$name.pdb"; done
  probe="$build/bin/enm_memory_probe"
  if [ -f "$data/1aon.pdb" ] && [ -x "$probe" ] && "$probe" --write-cut "$data/1aon.pdb" "$tmp/1aon-5000.pdb" 5000 >/dev/null; then
    set -- "$@" "$tmp/1aon-5000.pdb"
  else
    echo "No 5000-node cut of 1aon ($probe or $data/1aon.pdb missing)."
  fi
fi

max_nodes=${VORNAX_BENCH_MAX_NODES:-}
files=()
for f in "$@"; do
  if [ -n "$max_nodes" ] && [ -f "$f" ]; then
    n=$("$python" "$here/prody_enm.py" --count-only "$f" | cut -d' ' -f1)
    if [ "$n" -gt "$max_nodes" ]; then
      echo "$(basename "$f") has $n nodes > VORNAX_BENCH_MAX_NODES=$max_nodes, skipped"
      continue
    fi
  fi
  files+=("$f")
done
if [ ${#files[@]} -eq 0 ]; then
  echo "No PDB files to benchmark."
  exit 0
fi

args=(--reps "${VORNAX_BENCH_REPS:-3}" --large-reps "${VORNAX_BENCH_LARGE_REPS:-1}")
[ -n "${VORNAX_BENCH_BASELINE:-}" ] && args+=(--baseline "$VORNAX_BENCH_BASELINE")
[ -n "${VORNAX_BENCH_RESULTS:-}" ] && args+=(--results "$VORNAX_BENCH_RESULTS")
# Every run's figures go to stderr as they come; the table to stdout at the end.
"$python" "$here/modes_vs_prody.py" "$build" "${args[@]}" "${files[@]}"
