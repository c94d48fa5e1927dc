#!/usr/bin/env bash
# Time from file to first pull of 3j6r's capsid on the sparse path, stage by stage: the whole
# assembly 1 (60 copies, 172,080 nodes) and a 12-copy part of it (copy 1 and the 11 copies whose
# centres lie nearest to it, 34,416 nodes in one network; bench/AssemblyPartProbe.cpp picks them),
# both with the lowest 20 modes and the calibration. Prints one table row per structure (seconds;
# peak resident memory in GB, per stage and for the process) and the machine's load.
#   bench/capsid-first-pull.sh [BUILD_DIR] [FILE] [PARTS...]     PARTS: capsid part12 (default both)
# Targets: capsid under 90 s and 4 GB; the 12-copy part under 15 s and 1.5 GB.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
file="${2:-$here/../shared/data/pdb/3j6r.pdb}"
[ -f "$file" ] || file=/work/shared/data/pdb/3j6r.pdb
shift $(( $# < 2 ? $# : 2 ))
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(part12 capsid)
[ -f "$file" ] || { echo "$file is not present (the public structure set lies beside the repository): nothing to measure."; exit 0; }
cmake --build "$build" --target vornax-enm assembly_part_probe >/dev/null
nearest=$("$build/bin/assembly_part_probe" "$file" 1 --count 12 | head -1)
# KEEP_JSON=DIR keeps each part's JSON report there.
if [ -n "${KEEP_JSON:-}" ]; then out="$KEEP_JSON"; mkdir -p "$out"; else out="$(mktemp -d)"; trap 'rm -rf "$out"' EXIT; fi
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for part in "${parts[@]}"; do
    case "$part" in
        capsid) extra=() ;;
        part12) extra=(--copies "$nearest"); echo "part12: copies $nearest" ;;
        *) echo "unknown part $part" >&2; exit 2 ;;
    esac
    /usr/bin/time -f "$part: %e s wall, %U s user, %S s system, %M KB max resident" \
        "$build/bin/vornax-enm" modes "$file" --assembly 1 "${extra[@]}" --path sparse --lowest 20 \
        --json "$out/$part.json" >/dev/null 2>"$out/$part.log" || { cat "$out/$part.log" >&2; exit 1; }
    tail -n 1 "$out/$part.log"
    echo "load after $part: $(cut -d' ' -f1-3 /proc/loadavg)"
done
python3 - "$out" "${parts[@]}" <<'PY'
import json, sys
folder, parts = sys.argv[1], sys.argv[2:]
cols = ["read", "network", "sparse_hessian", "ordering", "factorisation", "lanczos", "trace"]
print(f"{'part':8} {'nodes':>7} {'first pull':>10} " + " ".join(f"{c[:13]:>13}" for c in cols)
      + f" {'passes':>6} {'solves':>6} {'factor nnz':>11} {'stored':>8} {'Σinv RHS':>8} {'peak GB':>7}  stage peaks GB")
for p in parts:
    r = json.load(open(f"{folder}/{p}.json"))
    t = r["timings"]
    peaks = " ".join(f"{k}={v / 1e9:.2f}" for k, v in r["stage_peak_rss_bytes"].items())
    print(f"{p:8} {r.get('nodes', r.get('n_nodes', 0)):>7} {r['time_to_first_pull']:>10.1f} "
          + " ".join(f"{t.get(c, 0):>13.2f}" for c in cols)
          + f" {t.get('lanczos_passes', 0):>6} {t.get('solves', 0):>6} {r.get('factor_nonzeros', 0) / 1e6:>10.1f}M"
          + f" {r.get('factor_stored_entries', 0) / 1e6:>7.1f}M {r.get('trace_samples', 0):>8}"
          + f" {r['peak_rss_bytes'] / 1e9:>7.2f}  {peaks}")
PY
