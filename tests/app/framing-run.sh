#!/bin/sh
# Every structure starts framed: the program run unattended with --view-report on structures of
# 46, 576, 2,868 and (with the shared data) 172,080 nodes, in windows of three shapes (the controls
# keep the window at least about 1,200 pixels wide); every node sphere must lie inside the
# viewport, with a margin. VORNAX_FRAMING_CAPSID=0 leaves the 172,080-node load out.
#   framing-run.sh VORNAX TUTORIAL_DIR TEST_DATA_DIR SHARED_PDB_DIR OUT_DIR
set -eu
vornax=$1 tutorial=$2 data=$3 shared=$4 out=$5
mkdir -p "$out"
fail() { echo "$1"; exit 1; }
# check NAME ARGS...: one unattended run, then its report checked.
check() {
  name=$1; shift
  report="$out/framing-$name.json"
  rm -f "$report"
  "$vornax" "$@" --mouse-stylus --view-report "$report" --screenshot "$out/framing-$name.png" --quit \
    > "$out/framing-$name.log" 2>&1 || { status=$?; tail -20 "$out/framing-$name.log"; fail "$name: vornax exited with status $status"; }
  grep -q "^view report: $report$" "$out/framing-$name.log" || fail "$name: the report's path is not printed"
  python3 - "$report" "$name" <<'PY' || exit 1
import json, sys
r = json.load(open(sys.argv[1]))
x, y, w, h = r["viewport"]
x0, y0, x1, y1 = r["node_bounds"]
problems = []
if r["nodes"] < 3: problems.append("no nodes reported")
if r["nodes_outside"] != 0: problems.append("%d node centres outside" % r["nodes_outside"])
# Surface pixels, y down from the top: the spheres inside, at least 2% of the view from each edge.
mx, my = 0.02 * w, 0.02 * h
if not (x0 >= x + mx and x1 <= x + w - mx and y0 >= my and y1 <= h - my):
    problems.append("spheres %s reach the edge of the %dx%d view" % (r["node_bounds"], w, h))
# Framed, not lost in the middle: the molecule spans at least a third of the view one way.
if max((x1 - x0) / w, (y1 - y0) / h) < 1 / 3:
    problems.append("the molecule spans only %.0f%% of the view" % (100 * max((x1 - x0) / w, (y1 - y0) / h)))
if problems:
    print("%s: %s" % (sys.argv[2], "; ".join(problems)))
    sys.exit(1)
PY
}
check 1crn "$tutorial/1crn.pdb"
check 1crn-square "$tutorial/1crn.pdb" --window-size 1240x1000
check 4hhb "$data/pdb/4hhb.pdb"
check 4hhb-wide "$data/pdb/4hhb.pdb" --window-size 1200x600
# The lowest mode held at its largest swing: still framed, and
# the swing is shown and said.
check 4hhb-mode1 "$data/pdb/4hhb.pdb" --animate-mode 1
grep -q "^Thermal amplitude: [0-9.]* Å; shown ×1, the largest node swing [0-9.]* Å$" "$out/framing-4hhb-mode1.log" ||
  fail "4hhb-mode1: the amplitude line is not printed"
cmp -s "$out/framing-4hhb.json" "$out/framing-4hhb-mode1.json" && fail "4hhb-mode1: the swing moved nothing"
status=0
"$vornax" "$data/pdb/4hhb.pdb" --mouse-stylus --animate-mode 999999 --quit > "$out/framing-no-mode.log" 2>&1 || status=$?
[ "$status" -eq 1 ] && grep -q "animate-mode 999999: the structure holds the vectors of 1722 modes" "$out/framing-no-mode.log" ||
  fail "a mode beyond those held was not refused (status $status)"
if [ -f "$shared/3j6r.pdb" ]; then
  check 3j6r "$shared/3j6r.pdb"
  if [ "${VORNAX_FRAMING_CAPSID:-1}" = 1 ]; then check 3j6r-capsid "$shared/3j6r.pdb" --assembly 1; fi
else
  echo "3j6r.pdb is not in $shared: the large structures are left out"
fi
echo "every structure framed"
