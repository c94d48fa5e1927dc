#!/bin/sh
# The program run unattended, as `./dev run` does without a display: one atom pulled by a stylus
# script with its force kept, a picture of the window and the deformed structure written, and
# their paths printed; a script that does not exist is refused before the window opens.
#   unattended-run.sh VORNAX DATA_DIR OUT_DIR
set -eu
vornax=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out/unattended.png" "$out/unattended.pdb"
log="$out/unattended.log"
"$vornax" "$data/1crn.pdb" --mouse-stylus --save-forces --stylus-script "$data/pull-one-atom.stylus" \
  --screenshot "$out/unattended.png" --save-as "$out/unattended.pdb" --quit > "$log" 2>&1 || {
  echo "vornax exited with status $?"; tail -20 "$log"; exit 1; }
fail() { echo "$1"; exit 1; }
grep -q "^screenshot: $out/unattended.png$" "$log" || fail "the screenshot's path is not printed"
grep -q "^deformed structure: $out/unattended.pdb$" "$log" || fail "the deformed file's path is not printed"
[ "$(wc -c < "$out/unattended.png")" -gt 10000 ] || fail "no picture"
grep -q "^REMARK   1 Force Applied to SER 11 A" "$out/unattended.pdb" || fail "the kept force is not in the file"
[ "$(grep -c '^ATOM .* CA ' "$out/unattended.pdb")" -eq 46 ] || fail "not the 46 C-alpha records"

# The structure shown is the response to the force kept. The script grabs node 10 with the tip
# 11 mm away from it (so the very first tick already pulls); `vornax-enm deform` given the kept
# force (the REMARK's newtons times -1.4396e10 S, in kcal/mol/A) must write the same atoms.
enm="$(dirname "$vornax")/vornax-enm"
S=$("$enm" modes "$data/1crn.pdb" | grep -o '"force_scaler": *[^,}]*' | sed 's/.*: *//')
force=$(sed -n 's/^REMARK   1 Force Applied to SER 11 A: (X) \(.*\) (Y) \(.*\) (Z) \(.*\) KCal.*/\1 \2 \3/p' \
  "$out/unattended.pdb" | awk -v s="$S" '{ k = -1.4396e10 * s; printf "%.9g %.9g %.9g", $1 * k, $2 * k, $3 * k }')
[ -n "$force" ] || fail "no force in the REMARK line"
# shellcheck disable=SC2086
"$enm" deform "$data/1crn.pdb" --node 10 --force $force --out "$out/unattended-deform.pdb" > /dev/null ||
  fail "vornax-enm deform failed"
coords() { grep '^ATOM' "$1" | cut -c31-54; }
coords "$out/unattended.pdb" > "$out/unattended.xyz"
coords "$out/unattended-deform.pdb" | paste -d' ' "$out/unattended.xyz" - | awk '
  { for (i = 1; i <= 3; ++i) { d = $i - $(i + 3); if (d < 0) d = -d; if (d > m) m = d } }
  END { if (m > 0.0015) { printf "shown and kept differ by %.3f A\n", m; exit 1 } }' ||
  fail "the deformation shown is not the response to the kept force"

if "$vornax" "$data/1crn.pdb" --mouse-stylus --stylus-script "$out/no-such.stylus" --quit > "$log" 2>&1; then
  fail "a missing stylus script was not refused"
fi
grep -q "stylus-script.*no-such.stylus" "$log" || fail "no message for the missing script"

# Nobody is at the window: every message is one line on stderr and takes its default answer, a
# warning lets the run go on, an error ends it (status 1), and what can be refused before the
# window opens is (status 2). No case may wait for a person: each has two minutes.
case_dir="$out/unattended-cases"
rm -rf "$case_dir"
mkdir -p "$case_dir/eigen" "$case_dir/blocked/1CRN.hdv"
mkfifo "$case_dir/pipe.pdb"
# 1CRN without its experiment type: the warning's OK is taken and the load completes.
grep -v '^EXPDTA\|^REMARK 200\|^REMARK 210' "$data/1crn.pdb" > "$case_dir/untyped.pdb"
odd="$(dirname "$0")/../data/pdb/odd01.pdb"
# expect STATUS PATTERN ARGS...: the run ends with STATUS and its stderr holds PATTERN.
expect() {
  want=$1 pattern=$2; shift 2
  status=0
  timeout 120 "$vornax" "$@" --no-device > "$case_dir/case.out" 2> "$case_dir/case.err" < /dev/null || status=$?
  [ "$status" -eq "$want" ] || { cat "$case_dir/case.err"; fail "vornax $* ended with status $status, not $want"; }
  grep -q -- "$pattern" "$case_dir/case.err" || { cat "$case_dir/case.err"; fail "vornax $*: no line matching '$pattern'"; }
}
expect 1 "structure was not loaded\|PDB File" "$odd" --quit
expect 2 "not a regular file" "$case_dir/pipe.pdb" --quit
printf 'not a structure\n' > "$case_dir/text.pdb"
expect 2 "does not look like a PDB" --summary "$case_dir/text.pdb"
expect 0 "warning: PDB File Error: Experiment type unable" "$case_dir/untyped.pdb" --quit
expect 1 "error: .*1CRN.hdv" "$data/1crn.pdb" --save-dir "$case_dir/blocked" --quit
expect 0 "" "$data/1crn.pdb" --save-dir "$case_dir/eigen" --save-session "$case_dir/s.vsf" --quit
# Eigen data files without their response matrix: "Do you want to wait for the calculation?"
# is answered Yes.
expect 0 "Data Required" "$case_dir/eigen/1CRN.hdv" --quit
grep -q '^gotS ' "$case_dir/case.out" && grep -q '^showing$' "$case_dir/case.out" ||
  fail "the eigen data files' set-up lines are missing"
expect 0 "Data Required" "$case_dir/eigen/1CRN.hdv" --open-session "$case_dir/s.vsf" --quit
# A screenshot that cannot be written whole (a file-size limit of 4 KiB) keeps the old picture.
printf 'old picture' > "$case_dir/shot.png"
( trap '' XFSZ; ulimit -f 4; expect 1 "cannot write the screenshot" "$data/1crn.pdb" --screenshot "$case_dir/shot.png" --quit ) ||
  exit 1
[ "$(cat "$case_dir/shot.png")" = "old picture" ] || fail "a failed screenshot write did not keep the old picture"
[ -z "$(find "$case_dir" -name '.shot.png.*')" ] || fail "the screenshot's temporary file was left behind"
[ -p "$case_dir/pipe.pdb" ] || fail "the FIFO given as the structure is no longer a FIFO"
echo "unattended run: ok"
