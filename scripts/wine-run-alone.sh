#!/usr/bin/env bash
# Runs a Windows program in a Wine session of its own, in the project's prefix: for what is fixed
# per session, as the ANSI code page (KDU_WINE_LANG). No other Wine program may run meanwhile.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w
status=0
"$WINE" "$@" || status=$?
"$WINESERVER" -k 2>/dev/null || true
exit $status
