#!/usr/bin/env bash
# Every test, in three tiers: native unit tests (also under ASan and UBSan), the Windows adapters
# and the shipped 32-bit program end to end under Wine, and checks of the exe (and of its x86_64
# build's imports).
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

failed=()
echo "== lint"
scripts/lint.sh || failed+=(lint)
for preset in "${presets[@]}"; do
  echo "== test $preset"
  ctest --preset "$preset" || failed+=("$preset")
done

echo "== fuzz (short runs)"
KDU_FUZZ_SECONDS=${KDU_FUZZ_SECONDS:-20} scripts/fuzz.sh || failed+=(fuzz)

echo "screenshots: $(ls build/win*/screenshots/*.png 2>/dev/null | tr '\n' ' ')"
if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all test presets passed"
