#!/usr/bin/env bash
# kill-test.sh [kills] [megabytes] [seed]: the long kill test (default 60 kills, 60 MB files),
# in a Wine prefix and display of its own, so other tests can run meanwhile. Needs the build
# that runs under Wine here (scripts/test.sh builds it).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export KDU_WINE_DIR=$root/build/kill-test/wine
export KDU_KILLS=${1:-60} KDU_KILL_MEGABYTES=${2:-60}
[[ -n ${3:-} ]] && export KDU_KILL_SEED=$3
source "$root/scripts/wine-env.sh"
export KDU_UPDATER_EXE=Z:$root/build/$KDU_WINE_BUILD/KestovaDesktopUpdater.exe
export KDU_TEST_WORK=Z:$root/build/kill-test/work
mkdir -p "$root/build/kill-test/work"
"$root/scripts/wine-session.sh" start
trap '"$root/scripts/wine-session.sh" stop' EXIT
"$root/scripts/wine-run.sh" "$root/build/$KDU_WINE_BUILD/tests/e2e/kdu_kill_test.exe"
