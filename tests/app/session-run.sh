#!/bin/sh
# A session kept and resumed from the command line: a stylus script keeps two forces on 1crn,
# the session and the deformed structure are written; a second run opens the session on the
# eigen data files of the first and writes the deformed structure again: the same kept forces
# and the same coordinates, those of vornax-enm deform for the forces. A truncated session file is refused with
# exit status 2 and one line on stderr. The session names its structure: on 1UBQ, on 1crn at Rc 8 and on
# another structure of 46 nodes it is refused, naming both; without its trailer (the old layout) it opens
# with a warning. A session kept on sparse-path eigen data files (no .ppy) opens on them again.
#   session-run.sh VORNAX VORNAX_ENM PDB STYLUS_SCRIPT OUT_DIR
set -eu
vornax=$1 enm=$2 pdb=$3 script=$4 out=$5/session-run
rm -rf "$out"
mkdir -p "$out"
fail() { echo "$1"; [ -z "${2:-}" ] || tail -20 "$2"; exit 1; }

"$vornax" "$pdb" --save-dir "$out" --mouse-stylus --save-forces --stylus-script "$script" \
  --save-session "$out/pulled.vsf" --save-as "$out/A.pdb" --quit > "$out/first.log" 2>&1 ||
  fail "the first run exited with status $?" "$out/first.log"
grep -q "^session: $out/pulled.vsf$" "$out/first.log" || fail "the session's path is not printed" "$out/first.log"
# Two forces, then the trailer naming 1CRN.
[ "$(wc -c < "$out/pulled.vsf")" -eq $((244 + 2 * 112 + 28 + 4)) ] || fail "the session does not hold two forces"
hdv=$(ls "$out"/*.hdv) ppy=$(ls "$out"/*.ppy)

"$vornax" "$hdv" --ppy "$ppy" --mouse-stylus --open-session "$out/pulled.vsf" --save-as "$out/B.pdb" --quit \
  > "$out/second.log" 2>&1 || fail "the second run exited with status $?" "$out/second.log"
grep '^REMARK' "$out/A.pdb" > "$out/A.remarks"
grep '^REMARK' "$out/B.pdb" > "$out/B.remarks"
[ "$(grep -c 'Force Applied' "$out/B.remarks")" -eq 2 ] || fail "the resumed session does not keep both forces"
cmp -s "$out/A.remarks" "$out/B.remarks" || { diff "$out/A.remarks" "$out/B.remarks"; fail "the kept forces differ"; }
# The kept forces (kcal/mol/Å) as the session holds them: node, x, y, z per 112-byte record.
forces=$(python3 -c '
import struct, sys
b = open(sys.argv[1], "rb").read()
for k in range(struct.unpack_from("<i", b, 240)[0]):
    node, x, y, z = struct.unpack_from("<i3f", b, 244 + 112 * k)
    print("--node %d --force %.9g %.9g %.9g" % (node, x, y, z), end=" ")
' "$out/pulled.vsf")
# shellcheck disable=SC2086
"$enm" deform "$pdb" --out "$out/deformed.pdb" $forces > /dev/null 2>&1 || fail "deform failed"
grep '^ATOM' "$out/A.pdb" > "$out/A.atoms"
grep '^ATOM' "$out/B.pdb" > "$out/B.atoms"
cmp -s "$out/A.atoms" "$out/B.atoms" || { diff "$out/A.atoms" "$out/B.atoms" | head; fail "the resumed structure differs"; }
grep '^ATOM' "$out/deformed.pdb" > "$out/deformed.atoms"
[ "$(wc -l < "$out/B.atoms")" -eq 46 ] || fail "not the 46 C-alpha records"
cmp -s "$out/B.atoms" "$out/deformed.atoms" || { diff "$out/B.atoms" "$out/deformed.atoms" | head; fail "the coordinates differ"; }

head -c 467 "$out/pulled.vsf" > "$out/truncated.vsf"
status=0
"$vornax" "$hdv" --ppy "$ppy" --open-session "$out/truncated.vsf" --quit > /dev/null 2> "$out/refused.err" || status=$?
[ "$status" -eq 2 ] || fail "a truncated session exited with status $status, not 2"
[ "$(wc -l < "$out/refused.err")" -eq 1 ] || fail "not one line on stderr" "$out/refused.err"
grep -q "truncated.vsf" "$out/refused.err" || fail "the refusal does not name the file" "$out/refused.err"
# Refused with exit status 2 and one line on stderr that holds TEXT: refused SESSION HDV TEXT
# (the .ppy beside the .hdv goes with it).
refused() {
  status=0
  "$vornax" "$2" --ppy "${2%.hdv}.ppy" --open-session "$1" --quit > "$out/refused.log" 2> "$out/refused.err" ||
    status=$?
  [ "$status" -eq 2 ] || fail "$1 on $2 exited with status $status, not 2" "$out/refused.log"
  # Qt may add a notice of its own about the runtime folder.
  [ "$(grep -vc '^QStandardPaths:' "$out/refused.err")" -eq 1 ] || fail "not one line on stderr" "$out/refused.err"
  grep -qF "$3" "$out/refused.err" || fail "the refusal does not say: $3" "$out/refused.err"
}
# Eigen data files of other structures: NAME FILE [vornax-enm modes options].
modes() {
  name=$1 file=$2
  shift 2
  mkdir -p "$out/$name"
  "$enm" modes "$file" --out "$out/$name" --json "$out/$name.json" "$@" > /dev/null 2>&1 || fail "modes of $name failed"
  ls "$out/$name"/*.hdv
}
here=$(cd "$(dirname "$0")" && pwd)
saved="1CRN (46 nodes, Rc 11 Å)"
refused "$out/pulled.vsf" "$(modes ubq "$here/../data/pdb/1ubq.pdb")" "$saved, not on the chosen eigen data files' 1UBQ"
refused "$out/pulled.vsf" "$(modes rc8 "$pdb" --rc 8)" "$saved, not on the chosen eigen data files' 1CRN (46 nodes, Rc 8 Å)"
# 1crn with its first C-alpha moved by 0.18 Å: its name, its nodes and its cutoff, not its structure.
sed '/^ATOM      2  CA /s/16\.967/17.147/' "$pdb" > "$out/moved.pdb"
refused "$out/pulled.vsf" "$(modes moved "$out/moved.pdb")" "(their record lines differ)"

# The old layout, without the trailer: it opens, with a warning.
head -c $((244 + 2 * 112)) "$out/pulled.vsf" > "$out/old.vsf"
"$vornax" "$hdv" --ppy "$ppy" --open-session "$out/old.vsf" --quit > "$out/old.log" 2>&1 ||
  fail "the old layout exited with status $?" "$out/old.log"
grep -q "cannot be checked" "$out/old.log" || fail "no warning that the structure cannot be checked" "$out/old.log"

# Sparse-path eigen data files: no .ppy, every-mode responses from the factorisation.
sparse=$(modes sparse "$pdb" --path sparse --lowest 20)
"$vornax" "$sparse" --mouse-stylus --save-forces --stylus-script "$script" --save-session "$out/sparse.vsf" --quit \
  > "$out/sparse-first.log" 2>&1 || fail "the sparse run exited with status $?" "$out/sparse-first.log"
"$vornax" "$sparse" --mouse-stylus --open-session "$out/sparse.vsf" --save-as "$out/S.pdb" --quit \
  > "$out/sparse-second.log" 2>&1 || fail "the sparse session was not reopened (status $?)" "$out/sparse-second.log"
[ "$(grep -c 'Force Applied' "$out/S.pdb")" -eq 2 ] || fail "the reopened sparse session does not keep both forces"
echo "session run: ok"
