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
status=0
"$WINE" "$@" || status=$?
[[ -z ${KDU_WINE_DPI:-} ]] || set_dpi 96
((status == 0)) || echo "wine-run: $(basename "$1") ended with status $status" >&2
exit $status
