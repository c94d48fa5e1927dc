#!/usr/bin/env bash
# From file to first pull on two parts of 3j6r's biological assembly 1 with our sparse path (20
# lowest modes, Σinv, calibration, one node's responses): the 12-copy part (copy 1 and the 11
# copies whose centres lie nearest to it, ~34,000 nodes; bench/AssemblyPartProbe.cpp picks them)
# and the whole capsid (60 copies, 172,080 nodes). Prints per part the time to first pull, the
# stages and the peak memory (the program's own figure and /usr/bin/time's maximum resident size).
#
#   bench/assembly-modes.sh [BUILD_DIR] [FILE] [PART ...]     PART: part12 (default both), capsid
#
# Our program is `vornax-enm modes FILE --assembly 1 [--copies LIST] --path sparse --lowest 20`
# when it takes those flags, else BUILD_DIR/bin/sparse_modes_probe (the "source" field).
# Environment: VORNAX_BENCH_REPS (default 1).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build}
file=${2:-$root/../shared/data/pdb/3j6r.pdb}
shift $(( $# > 2 ? 2 : $# ))
parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(part12 capsid)
if [ ! -f "$file" ]; then
  echo "$file is not present (the public structure set lies beside the repository): nothing to measure."
  exit 0
fi
targets=(sparse_modes_probe assembly_part_probe)
if cmake --build "$build" --target help 2>/dev/null | grep -q '^vornax-enm:'; then targets+=(vornax-enm); fi
cmake --build "$build" --target "${targets[@]}" >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

copies=$("$build/bin/assembly_part_probe" "$file" 1 --count 12 | tee "$tmp/part.txt" | head -1)
sed 's/^/  /' "$tmp/part.txt"

run_ours() { # JSON_OUT ARGS...: our program, else the probe; /usr/bin/time's figures in JSON_OUT.time
  local out=$1
  shift
  if [ -x "$build/bin/vornax-enm" ] &&
     /usr/bin/time -o "$out.time" -f '%M %e' "$build/bin/vornax-enm" modes "$file" --assembly 1 "$@" \
       --path sparse --lowest 20 --json "$out" >/dev/null 2>"$out.err" &&
     grep -q time_to_first_pull "$out"; then
    return 0
  fi
  /usr/bin/time -o "$out.time" -f '%M %e' "$build/bin/sparse_modes_probe" "$file" --assembly 1 "$@" \
    --modes 20 --json "$out" >/dev/null
}

for part in "${parts[@]}"; do
  case $part in
    part12) args=(--copies "$copies"); label="12 copies ($copies)"; limit_s=15; limit_gb=1.5 ;;
    capsid) args=(); label="whole capsid (60 copies)"; limit_s=90; limit_gb=4 ;;
    *) echo "unknown part $part (part12 or capsid)" >&2; exit 2 ;;
  esac
  for rep in $(seq "${VORNAX_BENCH_REPS:-1}"); do
    run_ours "$tmp/$part.json" "${args[@]}"
    /usr/bin/python3 - "$tmp/$part.json" "$label" "$limit_s" "$limit_gb" <<'PY'
import json, sys
path, label, limit_s, limit_gb = sys.argv[1], sys.argv[2], float(sys.argv[3]), float(sys.argv[4])
d = json.load(open(path))
max_kb, wall = open(path + ".time").read().split()
ttfp = d["time_to_first_pull"]
peak = max(d.get("peak_rss_bytes", 0), int(max_kb) * 1024) / 2**30
t = d.get("timings", {})
print("%s [%s]: %d nodes, time to first pull %.2f s (target < %g s), peak %.2f GB (target < %g GB), process wall %s s"
      % (label, d.get("source", "vornax-enm"), d.get("nodes", 0), ttfp, limit_s, peak, limit_gb, wall))
print("  stages: " + "  ".join("%s %.2f s" % (k, v) for k, v in t.items()))
print("  sum of inverse eigenvalues %.8g %s (%d right-hand sides)" % (
    d.get("sum_inverse", d.get("sum_inverse_eigenvalues", float("nan"))),
    "exact" if d.get("sum_inverse_exact") else "+- %.3g" % d.get("sum_inverse_bound", 0),
    d.get("sum_inverse_samples", 0)))
PY
  done
done
