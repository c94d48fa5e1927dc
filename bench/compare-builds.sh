#!/usr/bin/env bash
# Do two builds write the same files? Runs both builds' vornax-enm and vornax (the window,
# unattended under Xvfb) on the same structures and compares what each wrote, byte for byte.
#
#   bench/compare-builds.sh OLD_BIN NEW_BIN [OUT_DIR]
#
# OLD_BIN and NEW_BIN are build bin/ folders (vornax, vornax-enm and their data folders); they
# are only read. Everything is written under OUT_DIR (default: a new temporary folder), one tree
# per build (OUT_DIR/old, OUT_DIR/new) with the same relative names, and the two trees are then
# compared file by file. Prints one line per file ("same" or "DIFFERS: ...") and exits 1 when a
# file differs, is missing on one side, or a run timed out; 0 otherwise.
#
# Structures: tests/data (pdb and cif) and TutorialFiles/1crn.pdb, plus a few from
# ../shared/data/pdb when that folder is there (skipped otherwise). What is compared:
#   enm/TAG/      vornax-enm modes (JSON, .hdv, .ppy), load (with the .ppy, without, --without-y),
#                 response (from the structure and from the .hdv), deform (all modes, first:10,
#                 list:0,4, and from the .hdv: the deformed C-alpha PDB file and JSON), replay
#                 of the tutorial's stylus script (from the structure and from the .hdv)
#   sparse/TAG/   modes --path sparse (JSON, .hdv), load and deform of that .hdv
#   win/TAG/      the window: plain/ loads, writes the eigen data files (--save-dir), a session
#                 and the C-alpha file; stylus/ pulls with the tutorial's stylus script, keeps the
#                 force, and writes a session, the C-alpha file and a screenshot; reopen/ resumes
#                 the OLD build's stylus session on its own eigen files and writes both again;
#                 summary.out is --summary. (The window writes no sparse eigen files at these
#                 sizes: it takes the sparse path from 1000 nodes or when memory is short.)
#   bin/TutorialFiles/1CRN.hdv, .ppy: the eigen files each build wrote when it was built.
# Every run's stderr ends with its exit status (.err); the window's console (.console) is not
# compared: it holds load and solve times.
#
# Masked before comparing, because they hold times or machine facts rather than results:
#   *.out (JSON, --summary): timings, time_to_first_pull, peak and stage memory, the memory
#     available (path_reason's "N GB", modes_allowed_by_memory, memory_budget_doubles), and
#     --summary's read times.
#   win/*/stylus/: the stylus script plays in real time, so the kept force differs from run to
#     run in its last digits: the force remarks' numbers and the ATOM coordinates (columns
#     31-54) of the C-alpha file, the session's workspace and force fields, and the
#     screenshot's pixels (its PNG header, size and depth, is compared). reopen/ compares the
#     forced session and C-alpha file byte for byte instead.
# Environment: VORNAX_COMPARE_TIMEOUT seconds per run (default 600).
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: bench/compare-builds.sh OLD_BIN NEW_BIN [OUT_DIR]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
out=${3:-$(mktemp -d)}
mkdir -p "$out"
out=$(cd "$out" && pwd)
for b in "$old" "$new"; do
  [ -x "$b/vornax" ] && [ -x "$b/vornax-enm" ] || { echo "$b: no vornax and vornax-enm" >&2; exit 2; }
  case "$out/" in "$b"/*) echo "OUT_DIR must not be inside $b" >&2; exit 2 ;; esac
done
for d in old new masked; do
  [ ! -e "$out/$d" ] || { echo "$out already holds a comparison: give an empty or new OUT_DIR" >&2; exit 2; }
done
limit=${VORNAX_COMPARE_TIMEOUT:-600}
stylus=$root/TutorialFiles/pull-one-atom.stylus
shared=$root/../shared/data/pdb

# Inputs, as TAG=PATH (the tag names the folder of their outputs).
enm=() sparse=() window=()
for f in "$root"/tests/data/pdb/*.pdb "$root"/tests/data/cif/*.cif; do
  enm+=("$(basename "$(dirname "$f")")-$(basename "$f")=$f")
done
enm+=("tutorial-1crn.pdb=$root/TutorialFiles/1crn.pdb")
sparse=("pdb-1crn.pdb=$root/tests/data/pdb/1crn.pdb" "pdb-2por.pdb=$root/tests/data/pdb/2por.pdb"
  "pdb-4hhb.pdb=$root/tests/data/pdb/4hhb.pdb")
window=("tutorial-1crn.pdb=$root/TutorialFiles/1crn.pdb" "pdb-1ubq.pdb=$root/tests/data/pdb/1ubq.pdb"
  "pdb-1bna.pdb=$root/tests/data/pdb/1bna.pdb" "pdb-4hhb.pdb=$root/tests/data/pdb/4hhb.pdb")
if [ -d "$shared" ]; then
  # Small enough that the mode budget's 60 ms search keeps every mode; 1d3z and 1l2y are NMR.
  for n in 1ake 1d3z 1l2y; do enm+=("shared-$n.pdb=$shared/$n.pdb"); done
  for n in 3wip 4jsv 1aon; do sparse+=("shared-$n.pdb=$shared/$n.pdb"); done
  window+=("shared-1ake.pdb=$shared/1ake.pdb")
else
  echo "($shared is absent: only the structures in the repository are used)"
fi

timeouts=0 bin= home= # the build being run and its scratch home folder
# run NAME COMMAND...: stdout to NAME.out, stderr and the exit status to NAME.err.
run() {
  local name=$1 rc=0
  shift
  mkdir -p "$(dirname "$name")"
  timeout "$limit" "$@" >"$name.out" 2>"$name.err" || rc=$?
  echo "exit status $rc" >>"$name.err"
  if [ "$rc" = 124 ]; then echo "TIMED OUT: $PWD/$name"; timeouts=1; fi
}
# run_window NAME ARGS...: the window under Xvfb; its console to NAME.console, the exit status to NAME.status.
run_window() {
  local name=$1 rc=0
  shift
  mkdir -p "$(dirname "$name")"
  HOME=$home XDG_RUNTIME_DIR=$home timeout "$limit" xvfb-run -a -s "-screen 0 1280x1024x24" \
    env QT_XCB_GL_INTEGRATION=xcb_glx "$bin/vornax" "$@" >"$name.console" 2>&1 || rc=$?
  echo "exit status $rc" >"$name.status"
  if [ "$rc" = 124 ]; then echo "TIMED OUT: $PWD/$name"; timeouts=1; fi
}
first() { compgen -G "$1" | head -n 1 || true; } # the first file matching a pattern, or nothing

run_side() { # SIDE BIN
  local side=$1 f d hdv ppy j script
  bin=$2 home=$out/home/$side
  mkdir -p "$out/$side" "$home" && chmod 700 "$home"
  cd "$out/$side"
  echo "running the $side build ($bin)"
  for item in "${enm[@]}"; do
    f=${item#*=} d=enm/${item%%=*}
    run "$d/modes" "$bin/vornax-enm" modes "$f" --out "$d"
    hdv=$(first "$d/*.hdv") ppy=$(first "$d/*.ppy")
    [ -n "$hdv" ] && [ -n "$ppy" ] || continue
    # The stylus starts beside node 10, or the last node of a smaller network.
    j=$(jq '[.nodes - 1, 10] | min' "$d/modes.out") || j=10
    script=$out/inputs/pull-node-$j.stylus
    sed -E "s/^([0-9]+ node) 10 /\1 $j /" "$stylus" >"$script"
    run "$d/load-ppy" "$bin/vornax-enm" load "$hdv" "$ppy"
    run "$d/load" "$bin/vornax-enm" load "$hdv"
    run "$d/load-without-y" "$bin/vornax-enm" load "$hdv" --without-y
    run "$d/response" "$bin/vornax-enm" response "$f" --node "$j" --force 1 -2 0.5
    run "$d/response-hdv" "$bin/vornax-enm" response "$hdv" --ppy "$ppy" --node "$j" --force 1 -2 0.5 --modes first:5
    for m in all first:10 list:0,4; do
      run "$d/deform-${m%%:*}" "$bin/vornax-enm" deform "$f" --node "$j" --force 1 0 0 --node 1 --force 0 2 0.5 \
        --modes "$m" --out "$d/deform-${m%%:*}.pdb"
    done
    run "$d/deform-hdv" "$bin/vornax-enm" deform "$hdv" --ppy "$ppy" --node "$j" --force 0 0 -3 --out "$d/deform-hdv.pdb"
    run "$d/replay" "$bin/vornax-enm" replay "$f" --save-forces --script "$script" --every 50
    run "$d/replay-hdv" "$bin/vornax-enm" replay "$hdv" --ppy "$ppy" --save-forces --script "$script" --every 50
  done
  for item in "${sparse[@]}"; do
    f=${item#*=} d=sparse/${item%%=*}
    run "$d/modes" "$bin/vornax-enm" modes "$f" --path sparse --out "$d"
    hdv=$(first "$d/*.hdv")
    [ -n "$hdv" ] || continue
    run "$d/load" "$bin/vornax-enm" load "$hdv"
    run "$d/deform" "$bin/vornax-enm" deform "$hdv" --node 10 --force 1 -2 0.5 --modes first:5 --out "$d/deform.pdb"
  done
  for item in "${window[@]}"; do
    f=${item#*=} d=win/${item%%=*}
    run "$d/summary" "$bin/vornax" "$f" --summary
    mkdir -p "$d/plain/eig"
    run_window "$d/plain/run" "$f" --mouse-stylus --save-dir "$d/plain/eig" --save-session "$d/plain/s.vsf" \
      --save-as "$d/plain/d.pdb" --quit
    run_window "$d/stylus/run" "$f" --mouse-stylus --save-forces --stylus-script "$stylus" \
      --screenshot "$d/stylus/shot.png" --save-session "$d/stylus/s.vsf" --save-as "$d/stylus/d.pdb" --quit
    hdv=$(first "$d/plain/eig/*.hdv") ppy=$(first "$d/plain/eig/*.ppy")
    [ -n "$hdv" ] && [ -n "$ppy" ] || continue
    run_window "$d/reopen/run" "$hdv" --ppy "$ppy" --open-session "$out/old/$d/stylus/s.vsf" --mouse-stylus \
      --save-session "$d/reopen/s.vsf" --save-as "$d/reopen/d.pdb" --quit
  done
  mkdir -p bin/TutorialFiles
  for f in "$bin"/TutorialFiles/*.hdv "$bin"/TutorialFiles/*.ppy; do [ ! -f "$f" ] || cp "$f" bin/TutorialFiles/; done
}

# mask RELATIVE_PATH SIDE: writes the masked copy under OUT_DIR/masked and prints its path,
# or prints the file itself when nothing is masked.
mask() {
  local src=$out/$2/$1 dst=$out/masked/$2/$1
  mkdir -p "$(dirname "$dst")"
  case $1 in
    win/*/stylus/*.pdb)
      sed -E -e '/^REMARK   1 Force/ s/(: \(X\)).*/\1 #/' -e '/^(ATOM  |HETATM)/ s/^(.{30}).{24}/\1 #/' "$src" >"$dst" ;;
    win/*/stylus/*.vsf)
      python3 - "$src" "$dst" <<'PY'
import struct, sys
b = bytearray(open(sys.argv[1], "rb").read())
b[12:160] = bytes(len(b[12:160]))  # workspace transform, rotations, translation
n = struct.unpack_from("<i", b, 240)[0] if len(b) >= 244 else 0
for r in range(max(0, min(n, (len(b) - 244) // 112))):
    o = 244 + 112 * r + 4
    b[o:o + 20] = bytes(20)  # force, its magnitude, eqForce
open(sys.argv[2], "wb").write(b)
PY
      ;;
    *.png) head -c 33 "$src" >"$dst" ;; # signature and IHDR: width, height, depth
    *.out)
      sed -E -e '/"(timings|stage_peak_rss_bytes)": \{/,/\}/ s/: -?[0-9][0-9.e+-]*/: #/' \
        -e 's/("(peak_rss_bytes|time_to_first_pull|modes_allowed_by_memory|memory_budget_doubles)": )[^,]*/\1#/' \
        -e '/"path_reason"/ s/[0-9.]+ GB/# GB/g' \
        -e 's/^(Time taken to load file: ).*/\1#/' -e 's/^(  read in: +)[0-9.]+/\1#/' "$src" >"$dst" ;;
    *) echo "$src"; return ;;
  esac
  echo "$dst"
}

compare() { # RELATIVE_PATH
  local rel=$1 a b verdict
  if [ ! -f "$out/old/$rel" ] || [ ! -f "$out/new/$rel" ]; then
    [ -f "$out/old/$rel" ] && verdict="DIFFERS: only in old" || verdict="DIFFERS: only in new"
  else
    a=$(mask "$rel" old) b=$(mask "$rel" new)
    if verdict=$(cmp -- "$a" "$b" 2>&1); then
      verdict=same
    else # "differ: byte N", or "EOF on X after byte N" when one is a prefix of the other
      verdict="DIFFERS: first byte $(echo "$verdict" | sed -E -n 's/.*differ: (byte|char) ([0-9]+).*/\2/p;
        s/.*EOF on .* after byte ([0-9]+).*/\1 (one side ends)/p; s/.*EOF on .* which is empty.*/1 (one side is empty)/p')"
    fi
    [ "$a" = "$out/old/$rel" ] || rel="$rel (masked)"
  fi
  echo "$verdict  $rel"
  [ "$verdict" = same ]
}

mkdir -p "$out/inputs"
touch "$out/inputs/started"
run_side old "$old"
run_side new "$new"
cd "$out"
written=$(find "$old" "$new" -newer "$out/inputs/started" -print | head -n 3)

differs=0 count=0
while IFS= read -r rel; do
  count=$((count + 1))
  compare "$rel" || differs=$((differs + 1))
done < <({ (cd old && find . -type f ! -name '*.console'); (cd new && find . -type f ! -name '*.console'); } |
  sed 's|^\./||' | sort -u)
echo "$count files compared, $differs differ (outputs in $out)"
if [ -n "$written" ]; then echo "Something was written into a build folder: $written"; differs=1; fi
[ "$differs" = 0 ] && [ "$timeouts" = 0 ]
