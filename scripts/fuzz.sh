#!/usr/bin/env bash
# Runs a libFuzzer target for FUZZ_SECONDS (default 60) and prints executions,
# executions per second and the corpus size.
#   scripts/fuzz.sh FUZZER CORPUS [SEED_DIR ...] [-- LIBFUZZER_FLAG ...]
# New inputs go to CORPUS; the seed directories are read only. A finding is
# written beside CORPUS (see -artifact_prefix) and fails the script.
set -uo pipefail
fuzzer=$1 corpus=$2
shift 2
seeds=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do seeds+=("$1"); shift; done
[ $# -gt 0 ] && shift
mkdir -p "$corpus"
log="$corpus.log"
"$fuzzer" "$corpus" "${seeds[@]}" "$@" -max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=1 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
echo "fuzz: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") executions," \
  "$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log") per second;" \
  "corpus $(ls "$corpus" | wc -l) files, $(du -sk "$corpus" | cut -f1) KiB"
exit "$status"
