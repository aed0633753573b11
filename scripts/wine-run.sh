#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix and virtual display. With KDU_WINE_DPI
# set, the session's DPI is that while the program runs (Wine reads it when a program starts).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
[[ -n ${KDU_WINE_DPI:-} ]] || exec "$WINE" "$@"
desktop='HKCU\Control Panel\Desktop'
"$WINE" reg add "$desktop" /v LogPixels /t REG_DWORD /d "$KDU_WINE_DPI" /f >/dev/null 2>&1
status=0
"$WINE" "$@" || status=$?
"$WINE" reg add "$desktop" /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
exit $status
