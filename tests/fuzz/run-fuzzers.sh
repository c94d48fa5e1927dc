#!/usr/bin/env bash
# Runs every fuzz harness of BUILD_DIR for SECONDS each, from the committed seed corpora.
#   tests/fuzz/run-fuzzers.sh BUILD_DIR SECONDS [HARNESS...]
# New inputs go to a scratch folder (the seeds are never rewritten); a crashing input is
# copied to $VORNAX_FUZZ_ARTIFACTS (default: the scratch folder) and the script fails.
# Prints one line per harness: runs, seconds and the corpus size reached.
set -euo pipefail
build=$1 seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(pdb_reader mmcif_reader mmcif_gz_reader eigen_data_files text_eigen stylus_script eigenvalue_text tga_reader session_file recent_list)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vornax-fuzz.XXXXXX")
artifacts=${VORNAX_FUZZ_ARTIFACTS:-$scratch/artifacts}
mkdir -p "$artifacts"
failed=0
for h in "${harnesses[@]}"; do
  mkdir -p "$scratch/$h"
  log=$scratch/$h.log
  # Inputs of at most 64 KiB; a run that needs more than 2 GiB counts as a finding.
  if "$build/bin/fuzz_$h" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=2048 \
      -max_len=65536 -timeout=20 -print_final_stats=1 -artifact_prefix="$artifacts/$h-" \
      "$scratch/$h" "$here/corpus/$h" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$h: $runs runs in ${seconds} s, corpus $(ls "$scratch/$h" | wc -l) new inputs, no finding"
  else
    failed=1
    echo "fuzz_$h: FINDING (log: $log, inputs in $artifacts)"
    grep -E '^(SUMMARY|==[0-9]+==ERROR)' "$log" | head -3 || true
  fi
done
[ "$failed" = 0 ] && rm -rf "$scratch"
exit "$failed"
