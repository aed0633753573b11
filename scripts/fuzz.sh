#!/usr/bin/env bash
# Runs each fuzz target for a bounded time (default 30 s; KDU_FUZZ_SECONDS to change it), starting
# from the seed corpus in fuzz/corpus. What a run finds is kept in build/fuzz/corpus; a crash
# leaves its input in build/fuzz/ and fails the run. The code under test carries coverage
# counters: a target whose coverage does not grow beyond what its seeds reach alone fails too,
# since it then mutates blindly.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${KDU_FUZZ_SECONDS:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# The last "cov:" figure a libFuzzer log gives on a line with this word (INITED, DONE).
coverage() { grep -aE "#[0-9]+[[:space:]]+$2 " "$1" | tail -1 | sed -nE 's/.* cov: ([0-9]+).*/\1/p'; }
corpus_size() { grep -aE "#[0-9]+[[:space:]]+$2 " "$1" | tail -1 | sed -nE 's/.* corp: ([0-9]+).*/\1/p'; }

for target in MessageLinesFuzzer RegistryValueFuzzer PairCheckFuzzer PackageFilesFuzzer; do
  seeds=fuzz/corpus/$target
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== fuzz $target for $seconds s"
  log=build/fuzz/$target.log
  # What the seeds reach alone: each run once, no mutation.
  (cd build/fuzz && "./fuzz/$target" -runs=0 "$root/$seeds" >"$root/$log.seeds" 2>&1)
  if ! (cd build/fuzz && "./fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    "$root/$corpus" "$root/$seeds" >"$root/$log" 2>&1); then
    tail -40 "$log"
    echo "fuzz: $target found a failure; its input is in build/fuzz/"
    exit 1
  fi
  seeded=$(coverage "$log.seeds" INITED)
  reached=$(coverage "$log" DONE)
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log")
  echo "$target: $runs runs, coverage $reached (seeds alone $seeded), corpus $(corpus_size "$log" DONE) inputs"
  if [[ -z $seeded || -z $reached ]] || ((reached <= seeded)); then
    echo "fuzz: $target reached no coverage beyond its seeds"
    exit 1
  fi
done
echo "fuzz: no crash"
