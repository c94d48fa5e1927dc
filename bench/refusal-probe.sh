#!/usr/bin/env bash
# Time and peak memory of vornax-enm before it refuses inputs that cannot make a network:
# many C-alpha records at one position, endless inputs (/dev/zero, /dev/urandom), and structure
# files that would cost more than they are worth (an operator range bomb, a flattening operator,
# a multi-member gzip bomb, a gigabyte of line ends). Each line: the input, the exit status, the
# seconds and the maximum resident size.
#
#   bench/refusal-probe.sh BUILD_DIR
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: bench/refusal-probe.sh BUILD_DIR" >&2
  exit 2
fi
enm=$1/bin/vornax-enm
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

same_place() {  # nodes file
  for ((i = 1; i <= $1; i++)); do
    printf 'ATOM  %5d  CA  ALA A%4d      10.000  10.000  10.000  1.00 20.00           C\n' \
      $((i % 100000)) $((i % 10000))
  done >"$2"
}

probe() {  # label file [modes options...]
  local status=0 label=$1 file=$2
  shift 2
  /usr/bin/time -f '%e %M' -o "$tmp/time" "$enm" modes "$file" "$@" >/dev/null 2>"$tmp/err" || status=$?
  read -r seconds kb < <(tail -n 1 "$tmp/time")
  printf '%-32s exit %d  %6.2f s  %8.1f MB  %s\n' "$label" "$status" "$seconds" "$(awk "BEGIN { print $kb / 1024 }")" \
    "$(head -c 100 "$tmp/err" | tr '\n' ' ')"
}

for n in 5000 20000; do
  same_place "$n" "$tmp/same_$n.pdb"
  probe "$n C-alpha at one position" "$tmp/same_$n.pdb"
done
probe "/dev/zero" /dev/zero
probe "/dev/urandom" /dev/urandom
corpus=$(cd "$(dirname "$0")/../tests/fuzz/corpus" && pwd)
probe "range (1-10000000)" "$corpus/mmcif_reader/range_bomb.cif" --assembly 1
probe "range (1-10000000), no assembly" "$corpus/mmcif_reader/range_bomb.cif"
probe "flattening operator" "$corpus/mmcif_reader/flattening_operator.cif" --assembly 1
# 26 gzip members of 100 MB of blanks each: 2.6 GB of text in about 2.6 MB.
head -c 100M /dev/zero | tr '\0' ' ' | gzip -9 >"$tmp/member.gz"
cp "$corpus/mmcif_gz_reader/assembly.cif.gz" "$tmp/bomb.cif.gz"
for ((i = 0; i < 26; i++)); do cat "$tmp/member.gz" >>"$tmp/bomb.cif.gz"; done
probe "multi-member gzip, 2.6 GB" "$tmp/bomb.cif.gz"
# About a gigabyte of line ends (just under the cap on inflated text) after a structure.
{ gzip -dc "$corpus/mmcif_gz_reader/assembly.cif.gz"; head -c 1000M /dev/zero | tr '\0' '\n'; } | gzip -1 >"$tmp/lines.cif.gz"
probe "1000 MiB of line ends" "$tmp/lines.cif.gz"
