#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix and virtual display. With KDU_WINE_DPI
# set, the session's DPI is that while the program runs (Wine reads it when a program starts).
# A failing run says its status, so that one which ends before its program could say anything
# still leaves a trace in the test log.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
desktop='HKCU\Control Panel\Desktop'
set_dpi() { "$WINE" reg add "$desktop" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }
[[ -z ${KDU_WINE_DPI:-} ]] || set_dpi "$KDU_WINE_DPI"

# Rarely (twice in some thousands of test runs here) Wine ends a program with status 1 within
# a moment, before it has printed a byte: the program never ran. That one start is made again,
# and said; a program that printed anything, or ran for a while, keeps its status.
output=$(mktemp)
trap 'rm -f "$output"' EXIT
run_once() {
  local started=$SECONDS
  set +e
  "$WINE" "$@" | tee "$output"
  status=${PIPESTATUS[0]}
  set -e
  never_ran=0
  if ((status == 1 && SECONDS - started <= 1)) && [[ ! -s $output ]]; then never_ran=1; fi
}
run_once "$@"
if ((never_ran)); then
  echo "wine-run: Wine ended $(basename "$1") with status 1 before it printed anything;" \
    "starting it once more" >&2
  run_once "$@"
fi
[[ -z ${KDU_WINE_DPI:-} ]] || set_dpi 96
((status == 0)) || echo "wine-run: $(basename "$1") ended with status $status" >&2
exit $status
