#!/usr/bin/env bash
# The benchmarks: builds the program and its two baselines (a minimal Win32 window, and one that
# does the same required work and nothing else) as i686 releases,
# the shipped exe among them, and prints one table of figures measured side by side under 32-bit
# Wine (under 64-bit Wine with the x86_64 releases where this machine cannot run 32-bit code), in
# a prefix and display of their own (build/bench). Its options (--start-up, --replacement) go to
# the benchmark program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/setup.sh
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done

export KDU_WINE_DIR=$root/build/bench/wine
export KDU_TEST_WORK=Z:$root/build/bench/work
mkdir -p "$root/build/bench/work"
scripts/wine-session.sh start
source scripts/wine-env.sh
trap 'scripts/wine-session.sh stop' EXIT

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
  "$(($(grep MemTotal /proc/meminfo | awk '{print $2}') / 1024 / 1024)) GB;" \
  "$(/usr/lib/wine/wine64 --version), $KDU_WINE_BUILD build"
windows() { echo "Z:$root/$1"; }
build=build/$KDU_WINE_BUILD
scripts/wine-run.sh $build/bench/kdu_updater_benchmark.exe "$@" \
  "$(windows $build/KestovaDesktopUpdater.exe)" "$(windows $build/bench/kdu_minimal_window.exe)" \
  "$(windows $build/bench/kdu_same_work_window.exe)"
