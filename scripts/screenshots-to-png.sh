#!/usr/bin/env bash
# Converts the screenshots the end-to-end tests saved (BMP) to PNG, and lists them.
set -euo pipefail
folder=$1
shopt -s nullglob
for bitmap in "$folder"/*.bmp; do
  convert "$bitmap" "${bitmap%.bmp}.png"
  rm -f "$bitmap"
done
ls "$folder"/*.png 2>/dev/null || true
