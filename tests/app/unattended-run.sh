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

if "$vornax" "$data/1crn.pdb" --mouse-stylus --stylus-script "$out/no-such.stylus" --quit > "$log" 2>&1; then
  fail "a missing stylus script was not refused"
fi
grep -q "stylus-script.*no-such.stylus" "$log" || fail "no message for the missing script"
echo "unattended run: ok"
