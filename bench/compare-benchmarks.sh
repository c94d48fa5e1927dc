#!/usr/bin/env bash
# Is the new build as fast as the old one? Runs both builds' engine benchmark (enm_benchmark on
# tests/data/pdb/4hhb.pdb, 576 nodes: Hessian, default eigen solve, Y and one response step,
# about 10 s a run) and frame-rate benchmark (render_benchmark at 1000 nodes, every drawing and
# the view's whole frame, under Xvfb), in rounds that alternate the builds (old first in odd
# rounds, new first in even ones), and prints each figure's median over the rounds for both
# builds, and the median of the rounds' ratios new/old with their range (a round runs both builds
# back to back, so a burst of load from elsewhere tends to hit both). For times below 1 is
# faster, for frame rates above 1.
#
#   bench/compare-benchmarks.sh OLD_BIN NEW_BIN
#
# OLD_BIN and NEW_BIN are build bin/ folders (built with the benchmarks, as ./dev bench does).
# Environment: VORNAX_BENCH_ROUNDS rounds (default 5), VORNAX_BENCH_FILE the structure of the
# engine benchmark, VORNAX_BENCH_NODES the frame-rate benchmark's network size (default 1000),
# VORNAX_BENCH_SECONDS seconds per frame-rate case (default 1).
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: bench/compare-benchmarks.sh OLD_BIN NEW_BIN" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
rounds=${VORNAX_BENCH_ROUNDS:-5}
file=${VORNAX_BENCH_FILE:-$root/tests/data/pdb/4hhb.pdb}
nodes=${VORNAX_BENCH_NODES:-1000}
seconds=${VORNAX_BENCH_SECONDS:-1}
for b in "$old" "$new"; do
  [ -x "$b/enm_benchmark" ] && [ -x "$b/render_benchmark" ] ||
    { echo "$b: no enm_benchmark and render_benchmark (configure with -DVORNAX_BUILD_BENCH=ON)" >&2; exit 2; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
results=$tmp/results # lines: KIND NAME SIDE VALUE

bench_side() { # SIDE BIN ROUND
  local side=$1 bin=$2 r=$3
  echo "round $r/$rounds: $side build"
  VORNAX_BENCH_PDB=$file timeout 900 "$bin/enm_benchmark" \
    --benchmark_filter='^BM_(Hessian|EigenLapack|Y|ResponseY|ResponseModes100)/' \
    --benchmark_report_aggregates_only=true --benchmark_format=json >"$tmp/enm.json" 2>"$tmp/enm.err" ||
    { cat "$tmp/enm.err" >&2; exit 1; }
  # One figure per benchmark: the median of its repetitions, or its single result; in ms.
  jq -r --arg side "$side" '.benchmarks[] | select(.run_type == "iteration" or .aggregate_name == "median")
    | "ms \(.run_name | sub("/(min_time|iterations).*"; "")) \($side) \(.real_time * {"ns": 1e-6, "us": 1e-3, "ms": 1, "s": 1e3}[.time_unit])"' \
    "$tmp/enm.json" >>"$results"
  timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" env QT_XCB_GL_INTEGRATION=xcb_glx \
    "$bin/render_benchmark" --nodes "$nodes" --seconds "$seconds" --view >"$tmp/fps.txt" 2>&1 ||
    { cat "$tmp/fps.txt" >&2; exit 1; }
  # Rows: nodes springs spheres drawing fps frames ms/frame.
  awk -v side="$side" '$1 ~ /^[0-9]+$/ && NF >= 7 { print "fps", $1 "/springs-" $2 "/spheres-" $3 "/" $4, side, $5 }' \
    "$tmp/fps.txt" >>"$results"
}

echo "engine: $(basename "$file"); frames: $nodes nodes, $seconds s a case; $rounds rounds"
for ((r = 1; r <= rounds; r++)); do
  if ((r % 2)); then order="old new"; else order="new old"; fi
  for side in $order; do
    if [ "$side" = old ]; then bench_side old "$old" "$r"; else bench_side new "$new" "$r"; fi
  done
done

echo
python3 - "$results" <<'PY'
import statistics, sys
from collections import defaultdict
values = defaultdict(list)  # (kind, name, side) -> one value per round, in round order
for line in open(sys.argv[1]):
    kind, name, side, value = line.split()
    values[kind, name, side].append(float(value))
print("%-4s %-42s %11s %11s %8s  %s" % ("", "median of the rounds", "old", "new", "new/old", "(each round)"))
for kind, name in dict.fromkeys((k, n) for k, n, _ in values):
    old, new = values[kind, name, "old"], values[kind, name, "new"]
    ratios = [n / o for o, n in zip(old, new) if o > 0]
    print("%-4s %-42s %11.3f %11.3f %8.3f  (%.2f-%.2f)" % (kind, name, statistics.median(old), statistics.median(new),
          statistics.median(ratios), min(ratios), max(ratios)))
PY
