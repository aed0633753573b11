#!/usr/bin/env bash
# package-round-trip.sh TOOL I686_EXE X64_EXE TEST_EXE SAMPLE WORK: builds a package from the
# sample deployment with kestova-package, then runs the round-trip test against it under Wine.
set -euo pipefail
tool=$1 i686_exe=$2 x64_exe=$3 test_exe=$4 sample=$5 work=$6
for needed in "$tool" "$i686_exe"; do
  [[ -f $needed ]] || { echo "missing $needed: build the native and win32 presets first" >&2; exit 1; }
done
rm -rf "$work"
mkdir -p "$work"
"$tool" --certificate "$sample/new-cert.pem" --key "$sample/new-key.pem" \
  --messages "$sample/messages.txt" --exe "$i686_exe" --out "$work/dist"
cp -r "$work/dist/KestovaDesktopUpdater-1.00" "$work/app"
# 32-bit Wine cannot run here: the same sources built for x86_64 take the shipped exe's place.
cp "$x64_exe" "$work/app/KestovaDesktopUpdater.exe"
export KDU_PACKAGE_APP="Z:$work/app" KDU_PACKAGE_SOURCE="Z:$sample"
exec "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-run.sh" "$test_exe"
