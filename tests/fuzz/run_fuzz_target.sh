#!/usr/bin/env bash
# Runs one fuzz target for a while on a scratch copy of its seed corpus and prints one line:
# executions, coverage (cov, ft) and crashes. Fails when the target found a crash.
# usage: run_fuzz_target.sh <target binary> <seed dir> <scratch dir> <seconds>
set -uo pipefail
target=$1 seeds=$2 scratch=$3 seconds=$4
name=$(basename "$target")

rm -rf "$scratch"
mkdir -p "$scratch/corpus" "$scratch/artifacts"
cp "$seeds"/* "$scratch/corpus/"
log=$scratch/fuzz.log

"$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=25 -rss_limit_mb=2048 \
  -artifact_prefix="$scratch/artifacts/" "$scratch/corpus" >"$log" 2>&1
rc=$?

executions=$(grep -oE '^stat::number_of_executed_units: [0-9]+' "$log" | grep -oE '[0-9]+$' | tail -n 1)
cov=$(grep -oE ' cov: [0-9]+' "$log" | grep -oE '[0-9]+' | tail -n 1)
ft=$(grep -oE ' ft: [0-9]+' "$log" | grep -oE '[0-9]+' | tail -n 1)
crashes=$(find "$scratch/artifacts" -type f | wc -l)
echo "$name: executions ${executions:-?}, cov ${cov:-?}, ft ${ft:-?}, crashes $crashes"
if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then
  echo "$name: failed (exit $rc); log $log"
  grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|fuzz check failed)' "$log" | head -n 10
  find "$scratch/artifacts" -type f | head -n 5
  exit 1
fi
