#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix and virtual display.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec "$WINE" "$@"
