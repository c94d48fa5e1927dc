#!/usr/bin/env bash
# Runs the engine benchmark (enm_benchmark), ProDy's ANM (bench/prody_enm.py) and the memory
# probe (enm_memory_probe) on the same structures in one run, size by size, and prints the
# table of times, ratios and peak memory with the targets met or missed.
#
#   bench/enm-vs-prody.sh BUILD_DIR [FILE.pdb ...]
#
# Without files: 1d66, 1ake, 4hhb, 1igy, 3wip, 4jsv and 3j6r from ../shared/data/pdb beside the
# repository (150 to 2868 nodes at Rc = 11 Å) and a 5000-node cut of 1aon made in a temporary
# folder. When that folder is absent there is nothing to measure and the script exits 0.
#
# For each size our benchmark runs first, then ProDy, then the memory probe, so a burst of
# load from elsewhere on the (shared, 2-core) machine tends to hit both sides of a ratio.
# The whole default run takes about 90 minutes on a shared 2-core machine, more than half of
# it at 5000 nodes (each full solve there takes 10-16 minutes, and the memory probe solves
# twice more); VORNAX_BENCH_MAX_NODES=3000 leaves that size out (~35 minutes),
# VORNAX_BENCH_MAX_NODES=600 gives a run of about one minute.
#
# Environment:
#   VORNAX_BENCH_MAX_NODES        leave out structures with more nodes
#   VORNAX_PRODY_SOLVE_MAX_NODES  no ProDy full solve above this (default 3000)
#   VORNAX_BENCH_SOLVE_REPS       repetitions of each solve on both sides (default 3 up to
#                                 700 nodes, 1 above)
#   VORNAX_BENCH_REFERENCE_MAX_NODES  largest network for our reference solver (default 700)
#   VORNAX_BENCH_PROBE_SOLVERS    solvers of the memory probe (default "lapack lapack-dc";
#                                 empty for none)
#   VORNAX_BENCH_RESULTS          keep the raw JSON results in this folder
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
if [ $# -lt 1 ]; then
  echo "usage: bench/enm-vs-prody.sh BUILD_DIR [FILE.pdb ...]" >&2
  exit 2
fi
build=$1
shift
max_nodes=${VORNAX_BENCH_MAX_NODES:-}
prody_solve_max=${VORNAX_PRODY_SOLVE_MAX_NODES:-3000}
solve_reps=${VORNAX_BENCH_SOLVE_REPS:-}
probe_solvers=${VORNAX_BENCH_PROBE_SOLVERS-lapack lapack-dc}
# Debian's interpreter carries python3-prody; a pyenv python3 earlier on PATH does not.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

bench_bin="$build/bin/enm_benchmark"
probe_bin="$build/bin/enm_memory_probe"
for b in "$bench_bin" "$probe_bin"; do
  if [ ! -x "$b" ]; then
    echo "$b not found: build with -DVORNAX_BUILD_BENCH=ON first (./dev bench does)." >&2
    exit 1
  fi
done

if [ -n "${VORNAX_BENCH_RESULTS:-}" ]; then
  tmp=$VORNAX_BENCH_RESULTS
  mkdir -p "$tmp"
  cut_dir=$(mktemp -d)
  trap 'rm -rf "$cut_dir"' EXIT
else
  tmp=$(mktemp -d)
  cut_dir=$tmp
  trap 'rm -rf "$tmp"' EXIT
fi

if [ $# -eq 0 ]; then
  data="$root/../shared/data/pdb"
  if [ ! -d "$data" ]; then
    echo "The public structure set ($data) is not present: the PDB files are missing, nothing to benchmark."
    exit 0
  fi
  set --
  for name in 1d66 1ake 4hhb 1igy 3wip 4jsv 3j6r; do set -- "$@" "$data/$name.pdb"; done
  # A ~5000-node structure: the header and the first 5000 C-alpha lines of 1aon.
  if [ -f "$data/1aon.pdb" ] && "$probe_bin" --write-cut "$data/1aon.pdb" "$cut_dir/1aon-5000.pdb" 5000 >/dev/null; then
    set -- "$@" "$cut_dir/1aon-5000.pdb"
  fi
fi

files=() labels=() sizes=()
for f in "$@"; do
  if [ ! -f "$f" ]; then
    echo "missing file, skipped: $f"
    continue
  fi
  f=$(realpath "$f")
  case $f in
    *:*) echo "path contains ':', skipped: $f"; continue ;;
  esac
  label=$(basename "$f" .pdb)
  case " ${labels[*]:-} " in
    *" $label "*) echo "a file named $label is already in the list, skipped: $f"; continue ;;
  esac
  n=$("$python" "$here/prody_enm.py" --count-only "$f" | cut -d' ' -f1)
  if [ "$n" -lt 3 ]; then
    echo "$label has $n nodes, too few for normal modes; skipped"
    continue
  fi
  if [ -n "$max_nodes" ] && [ "$n" -gt "$max_nodes" ]; then
    echo "$label has $n nodes > VORNAX_BENCH_MAX_NODES=$max_nodes, skipped"
    continue
  fi
  files+=("$f") labels+=("$label") sizes+=("$n")
done
if [ ${#files[@]} -eq 0 ]; then
  echo "No PDB files to benchmark."
  exit 0
fi

have_prody=1
if ! "$python" -c 'import prody' >/dev/null 2>&1; then
  have_prody=0
  echo "ProDy is not importable by $python (package python3-prody); its columns stay empty."
fi
prody_args=(--json --solve-max-nodes "$prody_solve_max")
[ -n "$solve_reps" ] && prody_args+=(--solve-repeat "$solve_reps")

elapsed() { echo "$((SECONDS - $1)) s"; }
total_start=$SECONDS
for i in "${!files[@]}"; do
  f=${files[$i]} label=${labels[$i]} n=${sizes[$i]}
  echo "[$label, $n nodes]"
  t=$SECONDS
  if ! VORNAX_BENCH_PDB=$f VORNAX_BENCH_MAX_NODES= "$bench_bin" \
      --benchmark_report_aggregates_only=true \
      --benchmark_out="$tmp/ours.$label.json" --benchmark_out_format=json \
      >"$tmp/ours.$label.log" 2>&1; then
    cat "$tmp/ours.$label.log" >&2
    exit 1
  fi
  echo "  Vornax engine: $(elapsed $t)"
  if [ $have_prody -eq 1 ]; then
    t=$SECONDS
    "$python" "$here/prody_enm.py" "${prody_args[@]}" "$f" >"$tmp/prody.$label.json"
    echo "  ProDy ANM: $(elapsed $t)"
  fi
  for solver in $probe_solvers; do
    t=$SECONDS
    if ! "$probe_bin" "$f" --solver "$solver" >"$tmp/memory.$label.$solver.json"; then
      echo "  memory probe ($solver) failed" >&2
    fi
    echo "  memory probe ($solver): $(elapsed $t)"
  done
done
echo "Total: $(elapsed $total_start)"
echo

"$python" "$here/enm_summarize.py" "$tmp" "${labels[@]}"
