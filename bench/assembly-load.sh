#!/usr/bin/env bash
# Reads 3j6r's whole capsid (REMARK 350 assembly 1, 60 copies, 172,080 nodes) and builds its
# network; prints the probe's JSON (read and network seconds, peak resident memory) and the
# process's own maximum resident size from /usr/bin/time.
#   bench/assembly-load.sh [BUILD_DIR] [FILE] [ASSEMBLY]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
file="${2:-$here/../shared/data/pdb/3j6r.pdb}"
[ -f "$file" ] || file=/work/shared/data/pdb/3j6r.pdb
assembly="${3:-1}"
cmake --build "$build" --target assembly_load_probe >/dev/null
/usr/bin/time -f '{"max_rss_kb": %M, "wall_s": %e}' "$build/bin/assembly_load_probe" "$file" "$assembly"
