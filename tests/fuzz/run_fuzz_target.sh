#!/usr/bin/env bash
# Runs one fuzz target and prints one line: executions, coverage (cov, ft) and crashes. Fails
# when the target crashed.
#
# usage: run_fuzz_target.sh <target binary> <target folder> <scratch dir> --runs <n>
#        run_fuzz_target.sh <target binary> <target folder> <scratch dir> --seconds <s>
#
# The target folder holds seeds/ (hand-written inputs and every crash ever found) and corpus/
# (inputs kept for the coverage they reach).
#
# --runs: a function of the commit. Every seed and corpus input runs, in the order of their
#   names, then the exploration goes on from a fixed seed until <n> executions in all. Nothing
#   that depends on time or on the machine steers it: no time limit; no directory order (the
#   inputs are named through -seed_inputs); no addresses, which move with the length of the
#   paths and the environment even without address randomisation, and which traced comparisons
#   (-use_cmp) would feed back into the mutations. So the same commit prints the same figures
#   anywhere.
# --seconds: a campaign from a random seed. Each crash becomes a seed named after its digest,
#   and the inputs that reach new coverage are merged into corpus/, both in the target folder,
#   to be committed.
set -uo pipefail
target=$1 folder=$2 scratch=$3 mode=$4 amount=$5
name=$(basename "$target")

rm -rf "$scratch"
mkdir -p "$scratch/new" "$scratch/artifacts" "$folder/seeds" "$folder/corpus"
log=$scratch/fuzz.log
# One line of comma-separated names, with no line feed: libFuzzer would take it as part of the last name.
find "$folder/seeds" "$folder/corpus" -type f | LC_ALL=C sort | paste -sd, | tr -d '\n' >"$scratch/inputs"

options=(-print_final_stats=1 -timeout=25 -rss_limit_mb=2048 -reload=0 -artifact_prefix="$scratch/artifacts/")
case $mode in
  --runs) options+=(-seed=1 -runs="$amount" -use_cmp=0) ;;
  --seconds) options+=(-max_total_time="$amount") ;;
  *) echo "usage: $0 <target> <folder> <scratch> --runs <n> | --seconds <s>" >&2; exit 2 ;;
esac
# A target with no input at all starts from libFuzzer's empty one.
[ -s "$scratch/inputs" ] && options+=(-seed_inputs=@"$scratch/inputs")

setarch "$(uname -m)" --addr-no-randomize "$target" "${options[@]}" "$scratch/new" >"$log" 2>&1
rc=$?

executions=$(grep -oE '^stat::number_of_executed_units: [0-9]+' "$log" | grep -oE '[0-9]+$' | tail -n 1)
cov=$(grep -oE ' cov: [0-9]+' "$log" | grep -oE '[0-9]+' | tail -n 1)
ft=$(grep -oE ' ft: [0-9]+' "$log" | grep -oE '[0-9]+' | tail -n 1)
mapfile -t crashes < <(find "$scratch/artifacts" -type f)
echo "$name: executions ${executions:-?}, cov ${cov:-?}, ft ${ft:-?}, crashes ${#crashes[@]}"

if [ "$mode" = --seconds ]; then
  for crash in "${crashes[@]}"; do
    seed=$folder/seeds/crash-$(sha1sum "$crash" | cut -c1-16)
    cp "$crash" "$seed"
    echo "$name: crash kept as $seed"
  done
  if [ -n "$(ls -A "$scratch/new")" ]; then
    before=$(find "$folder/corpus" -type f | wc -l)
    "$target" -merge=1 -rss_limit_mb=2048 "$folder/corpus" "$scratch/new" >"$scratch/merge.log" 2>&1
    echo "$name: corpus $before -> $(find "$folder/corpus" -type f | wc -l) inputs"
  fi
fi

if [ "$rc" -ne 0 ] || [ "${#crashes[@]}" -ne 0 ]; then
  echo "$name: failed (exit $rc); log $log"
  grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|.*Assertion|fuzz check failed)' "$log" | head -n 10
  printf '%s\n' "${crashes[@]}" | head -n 5
  exit 1
fi
