#!/usr/bin/env bash
# Every test, in three tiers: native unit tests (also under ASan and UBSan), the Windows adapters
# and the shipped 32-bit program end to end under Wine, and checks of the exe (and of its x86_64
# build's imports).
#
# The end-to-end tests run one at a time (the program reads one registry value) and mostly wait
# for Wine and for the update's pauses, so lint and fuzzing run beside them, at the lowest
# priority so that the tests keep the CPU they need; their output is kept and printed after.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/setup.sh || exit 1

presets=(native native-sanitize win32 win64)
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null || exit 1
  cmake --build --preset "$preset" || exit 1
done

# Lint, then the fuzzers (with their build), in the background; a .passed file marks each that
# passed.
mkdir -p build/logs
rm -f build/logs/*.passed
(
  start=$SECONDS
  nice -n 19 scripts/lint.sh >build/logs/lint.log 2>&1 && echo lint >build/logs/lint.passed
  KDU_FUZZ_SECONDS=${KDU_FUZZ_SECONDS:-20} nice -n 19 scripts/fuzz.sh >build/logs/fuzz.log 2>&1 &&
    echo fuzz >build/logs/fuzz.passed
  echo "lint and fuzzing took $((SECONDS - start)) s beside the tests" >>build/logs/fuzz.log
) &
beside=$!

failed=()
for preset in "${presets[@]}"; do
  echo "== test $preset"
  ctest --preset "$preset" || failed+=("$preset")
done

wait "$beside"
for job in lint fuzz; do
  echo "== $job (ran beside the tests; build/logs/$job.log)"
  cat "build/logs/$job.log"
  [[ -f build/logs/$job.passed ]] || failed+=("$job")
done

echo "screenshots: $(ls build/win*/screenshots/*.png 2>/dev/null | tr '\n' ' ')"
if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all test presets passed"
