#!/usr/bin/env bash
# Time and peak memory of vornax-enm before it refuses inputs that cannot make a network:
# many C-alpha records at one position, and endless inputs (/dev/zero, /dev/urandom). Each
# line: the input, the exit status, the seconds and the maximum resident size.
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

probe() {  # label file
  local status=0
  /usr/bin/time -f '%e %M' -o "$tmp/time" "$enm" modes "$2" >/dev/null 2>"$tmp/err" || status=$?
  read -r seconds kb < <(tail -n 1 "$tmp/time")
  printf '%-32s exit %d  %6.2f s  %8.1f MB  %s\n' "$1" "$status" "$seconds" "$(awk "BEGIN { print $kb / 1024 }")" \
    "$(head -c 100 "$tmp/err" | tr '\n' ' ')"
}

for n in 5000 20000; do
  same_place "$n" "$tmp/same_$n.pdb"
  probe "$n C-alpha at one position" "$tmp/same_$n.pdb"
done
probe "/dev/zero" /dev/zero
probe "/dev/urandom" /dev/urandom
