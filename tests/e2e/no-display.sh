#!/usr/bin/env bash
# Starts the updater with no X display at all: it must end by itself with exit code 1 (no
# window could be made), neither hang nor crash.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
unset DISPLAY
"$WINESERVER" -k 2>/dev/null
"$WINESERVER" -w
started=$(date +%s)
timeout 60 "$WINE" "$1" >/dev/null 2>&1
code=$?
"$WINESERVER" -k 2>/dev/null
echo "exit code $code after $(($(date +%s) - started)) s"
[[ $code -eq 1 ]]
