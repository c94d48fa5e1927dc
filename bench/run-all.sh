#!/usr/bin/env bash
# Runs the reader benchmark and ProDy's parsePDB on the same files in one run and prints
# median load times side by side with the ratio ProDy / ours.
#
#   bench/run-all.sh BUILD_DIR [FILE.pdb ...]
#
# Without files: 1crn, 4hhb, 3wip and 1aon (the largest public entry) from ../shared/data/pdb
# beside the repository; when that folder is absent there is nothing to measure and the
# script exits 0.
#
# The machine is shared, so the two sides alternate in rounds: each round runs our
# benchmark (Google Benchmark repetitions, median) and then ProDy (median of several calls
# after a warm-up). A file's ratio is the median of its per-round ratios, so a burst of load
# from elsewhere tends to hit both sides of the same round. Environment:
#   VORNAX_BENCH_ROUNDS   rounds (default 5)
#   VORNAX_BENCH_REPS     Google Benchmark repetitions per round (default 3)
#   VORNAX_BENCH_MIN_TIME seconds per repetition (default 0.2)
#   VORNAX_PRODY_REPEAT   timed parsePDB calls per file and round (default 3)
#
# Without files it then runs bench/enm-vs-prody.sh (the engine against ProDy's ANM, 150 to
# 5000 nodes, about 90 minutes; see that script for its settings). VORNAX_BENCH_ENM=0 skips
# it; VORNAX_BENCH_MAX_NODES=3000 leaves out the 5000-node solves (~35 minutes).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
if [ $# -lt 1 ]; then
  echo "usage: bench/run-all.sh BUILD_DIR [FILE.pdb ...]" >&2
  exit 2
fi
build=$1
shift
rounds=${VORNAX_BENCH_ROUNDS:-5}
reps=${VORNAX_BENCH_REPS:-3}
prody_repeat=${VORNAX_PRODY_REPEAT:-3}
min_time=${VORNAX_BENCH_MIN_TIME:-0.2}
# Debian's interpreter carries python3-prody; a pyenv python3 earlier on PATH does not.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

run_enm=0
if [ $# -eq 0 ] && [ "${VORNAX_BENCH_ENM:-1}" != 0 ]; then
  run_enm=1
fi
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
  # Results are keyed by file name (the benchmark names carry it), so names must be unique.
  case " ${names:-} " in
    *" $(basename "$f") "*) echo "a file named $(basename "$f") is already in the list, skipped: $f"; continue ;;
  esac
  names="${names:-} $(basename "$f")"
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

have_prody=1
if ! "$python" -c 'import prody' >/dev/null 2>&1; then
  have_prody=0
  echo "ProDy is not importable by $python (package python3-prody); its columns stay empty."
fi

file_list=$(IFS=:; echo "${files[*]}")
echo "Files: ${files[*]}"
for ((r = 1; r <= rounds; r++)); do
  echo "round $r/$rounds: Vornax reader ($reps repetitions), then ProDy parsePDB ($prody_repeat calls per file)"
  if ! VORNAX_BENCH_PDB=$file_list "$bin" \
      --benchmark_repetitions="$reps" --benchmark_min_time="$min_time" \
      --benchmark_report_aggregates_only=true \
      --benchmark_format=json >"$tmp/ours.$r.json" 2>"$tmp/ours.$r.err"; then
    cat "$tmp/ours.$r.err" >&2
    exit 1
  fi
  if [ $have_prody -eq 1 ]; then
    "$python" "$here/prody_read.py" --repeat "$prody_repeat" --json "${files[@]}" >"$tmp/prody.$r.json"
  else
    echo '{"results": []}' >"$tmp/prody.$r.json"
  fi
done

echo
"$python" "$here/summarize.py" "$tmp" "$rounds" "${files[@]}"

if [ $run_enm -eq 1 ]; then
  echo
  echo "Elastic network engine against ProDy's ANM (bench/enm-vs-prody.sh):"
  "$here/enm-vs-prody.sh" "$build"
fi
