#!/usr/bin/env bash
# package-round-trip.sh TOOL SHIPPED_EXE RUN_EXE TEST_EXE SAMPLE WORK: builds a package of the
# shipped i686 exe from the sample deployment with kestova-package, then runs the round-trip test
# against it under Wine. RUN_EXE is the exe the Wine tiers run: the shipped one, or its x86_64
# build where this machine cannot run 32-bit programs, which then takes its place in the package.
set -euo pipefail
tool=$1 shipped_exe=$2 run_exe=$3 test_exe=$4 sample=$5 work=$6
for needed in "$tool" "$shipped_exe"; do
  [[ -f $needed ]] || { echo "missing $needed: build the native and win32 presets first" >&2; exit 1; }
done
rm -rf "$work"
mkdir -p "$work"
"$tool" --certificate "$sample/new-cert.pem" --key "$sample/new-key.pem" \
  --messages "$sample/messages.txt" --exe "$shipped_exe" --out "$work/dist"
cp -r "$work/dist/KestovaDesktopUpdater-1.00" "$work/app"
cmp -s "$shipped_exe" "$run_exe" || cp "$run_exe" "$work/app/KestovaDesktopUpdater.exe"
export KDU_PACKAGE_APP="Z:$work/app" KDU_PACKAGE_SOURCE="Z:$sample"
exec "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-run.sh" "$test_exe"
