#!/usr/bin/env bash
# The benchmarks: builds the program and its baseline (a minimal Win32 window) as releases for
# x86_64 (run under Wine: 32-bit Wine cannot run here) and i686 (the shipped exe, measured for
# size), and prints one table of figures measured side by side, in a Wine prefix and display of
# their own (build/bench).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/setup.sh
for preset in win64-release win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done

export KDU_WINE_DIR=$root/build/bench/wine
export KDU_TEST_WORK=Z:$root/build/bench/work
mkdir -p "$root/build/bench/work"
scripts/wine-session.sh start
trap 'scripts/wine-session.sh stop' EXIT

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
  "$(($(grep MemTotal /proc/meminfo | awk '{print $2}') / 1024 / 1024)) GB;" \
  "$(/usr/lib/wine/wine64 --version)"
windows() { echo "Z:$root/$1"; }
scripts/wine-run.sh build/win64-release/bench/kdu_updater_benchmark.exe \
  "$(windows build/win64-release/KestovaDesktopUpdater.exe)" \
  "$(windows build/win64-release/bench/kdu_minimal_window.exe)" \
  "$(windows build/win32/KestovaDesktopUpdater.exe)" \
  "$(windows build/win32/bench/kdu_minimal_window.exe)"
