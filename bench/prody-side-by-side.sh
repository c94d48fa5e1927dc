#!/usr/bin/env bash
# Our sparse path and ProDy's ANM (full solve, and sparse Hessian with 20 modes) on one structure
# in one run, each repetition one process of each; prints the medians and ours/ProDy. See
# bench/prody_side_by_side.py for what is timed.
#
#   bench/prody-side-by-side.sh [BUILD_DIR] [FILE.pdb]
#
# Defaults: BUILD_DIR = build beside this folder, FILE = 3j6r from ../shared/data/pdb (2,868
# nodes; ProDy's full solve takes about 100 s a run there).
# Environment: VORNAX_BENCH_REPS (default 3), VORNAX_BENCH_NO_DENSE=1 leaves the full solve out,
# VORNAX_BENCH_RESULTS=FILE.json keeps every run's figures.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build}
file=${2:-$root/../shared/data/pdb/3j6r.pdb}
if [ ! -f "$file" ]; then
  echo "$file is not present (the public structure set lies beside the repository): nothing to compare."
  exit 0
fi
python=/usr/bin/python3
[ -x "$python" ] || python=python3
# Our program: vornax-enm when it is built here, else the probe.
targets=(sparse_modes_probe)
if cmake --build "$build" --target help 2>/dev/null | grep -q '^vornax-enm:'; then targets+=(vornax-enm); fi
cmake --build "$build" --target "${targets[@]}" >/dev/null
args=(--reps "${VORNAX_BENCH_REPS:-3}")
[ -n "${VORNAX_BENCH_NO_DENSE:-}" ] && args+=(--no-dense)
[ -n "${VORNAX_BENCH_RESULTS:-}" ] && args+=(--json "$VORNAX_BENCH_RESULTS")
"$python" "$here/prody_side_by_side.py" "$build" "$file" "${args[@]}"
