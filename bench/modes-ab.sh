#!/usr/bin/env bash
# `vornax-enm modes FILE` with two builds, alternately, as a user runs it: per run the Hessian
# and eigen stages (the JSON's timings), their sum, the process's CPU seconds (user + system),
# wall seconds and maximum resident size (/usr/bin/time).
#
#   bench/modes-ab.sh NEW/vornax-enm OLD/vornax-enm FILE.pdb [PAIRS]
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: bench/modes-ab.sh NEW/vornax-enm OLD/vornax-enm FILE.pdb [PAIRS]" >&2
  exit 2
fi
new=$1 old=$2 file=$3 pairs=${4:-2}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for r in $(seq "$pairs"); do
  for side in new old; do
    if [ "$side" = new ]; then binary=$new; else binary=$old; fi
    /usr/bin/time -f "%U %S %e %M" "$binary" modes "$file" --json "$tmp/$side.json" >/dev/null 2>"$tmp/$side.time"
    /usr/bin/python3 - "$side" "$r" "$tmp/$side.json" "$tmp/$side.time" <<'PY'
import json, sys
side, rep, report, timing = sys.argv[1:5]
t = json.load(open(report))["timings"]
user, system, wall, rss = open(timing).read().split()[-4:]
print("%s %s hessian %.3f eigen %.1f sum %.1f cpu %.1f wall %s maxrss_kb %s" % (
    side, rep, t["hessian"], t["eigen"], t["hessian"] + t["eigen"], float(user) + float(system), wall, rss))
PY
  done
done
