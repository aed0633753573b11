#!/usr/bin/env bash
# Runs each fuzz target for a bounded time (default 30 s; KDU_FUZZ_SECONDS to change it), starting
# from the seed corpus in fuzz/corpus. What a run finds is kept in build/fuzz/corpus; a crash
# leaves its input in build/fuzz/ and fails the run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${KDU_FUZZ_SECONDS:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in MessageLinesFuzzer RegistryValueFuzzer PairCheckFuzzer; do
  seeds=fuzz/corpus/$target
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== fuzz $target for $seconds s"
  log=build/fuzz/$target.log
  if ! (cd build/fuzz && "./fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    "$root/$corpus" "$root/$seeds" >"$root/$log" 2>&1); then
    tail -40 "$log"
    echo "fuzz: $target found a failure; its input is in build/fuzz/"
    exit 1
  fi
  grep -E '^Done|stat::number_of_executed_units' "$log"
done
echo "fuzz: no crash"
