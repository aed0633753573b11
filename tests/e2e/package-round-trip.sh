#!/usr/bin/env bash
# package-round-trip.sh TOOL SHIPPED_EXE RUN_EXE TEST_EXE SAMPLE WORK: builds a signed package of
# the shipped i686 exe from the sample deployment with kestova-package, checks its signature,
# then runs the round-trip test against it under Wine. RUN_EXE is the exe the Wine tiers run: the shipped one, or its x86_64
# build where this machine cannot run 32-bit programs, which then takes its place in the package.
set -euo pipefail
tool=$1 shipped_exe=$2 run_exe=$3 test_exe=$4 sample=$5 work=$6
for needed in "$tool" "$shipped_exe"; do
  [[ -f $needed ]] || { echo "missing $needed: build the native and win32 presets first" >&2; exit 1; }
done
rm -rf "$work"
mkdir -p "$work/signing"

# A throw-away code-signing CA and publisher, made here; their keys go with the work folder.
cd "$work/signing"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca-key.pem -out ca.pem -days 2 \
  -subj "/CN=Kestova Test Code Signing CA" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout key.pem -out request.pem \
  -subj "/CN=Kestova Test Publisher" 2>/dev/null
printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n' >extensions.txt
openssl x509 -req -in request.pem -CA ca.pem -CAkey ca-key.pem -set_serial 1 -days 2 -sha256 \
  -extfile extensions.txt -out publisher.pem 2>/dev/null
cat publisher.pem ca.pem >chain.pem  # leaf first
cd - >/dev/null

"$tool" --certificate "$sample/new-cert.pem" --key "$sample/new-key.pem" \
  --messages "$sample/messages.txt" --exe "$shipped_exe" --out "$work/dist" \
  --sign-certificate "$work/signing/chain.pem" --sign-key "$work/signing/key.pem"
cp -r "$work"/dist/KestovaDesktopUpdater-*/ "$work/app"  # the one package, named by its version

# The packaged exe is the signed one, and its signature holds only while every byte does.
packaged=$work/app/KestovaDesktopUpdater.exe
(cd "$work/app" && sha256sum --quiet -c SHA256SUMS)
osslsigncode verify -in "$packaged" -CAfile "$work/signing/ca.pem" >"$work/verify.txt" 2>&1 ||
  { cat "$work/verify.txt"; echo "FAIL: the packaged exe's signature does not verify" >&2; exit 1; }
cp "$packaged" "$work/tampered.exe"
python3 -c 'import sys; f=open(sys.argv[1],"r+b"); f.seek(4096); b=f.read(1); f.seek(4096); f.write(bytes([b[0]^1]))' \
  "$work/tampered.exe"
if osslsigncode verify -in "$work/tampered.exe" -CAfile "$work/signing/ca.pem" >/dev/null 2>&1; then
  echo "FAIL: a changed byte still verifies" >&2; exit 1
fi
echo "signature: verifies on the packaged exe, fails with one byte changed"
if ! cmp -s "$shipped_exe" "$run_exe"; then
  # The x86_64 stand-in takes the packaged exe's place, with the same digests in its slot.
  python3 - "$packaged" "$run_exe" "$work/app/KestovaDesktopUpdater.exe" <<'PYTHON'
import sys
marker, size = b"KDU-PACKAGE-SUMS", 128
packaged, stand_in = (open(path, "rb").read() for path in sys.argv[1:3])
slot = packaged[packaged.rindex(marker):][:size]
empty = marker + bytes(size - len(marker))
assert stand_in.count(empty) == 1, "the stand-in has no empty digest slot"
open(sys.argv[3], "wb").write(stand_in.replace(empty, slot))
PYTHON
fi
# Another matching pair, listed as if it were the package's own.
(cd "$sample/../installed" && sha256sum Certificate.pem PrivateKey.pem) |
  sed 's/Certificate.pem/data1.bin/; s/PrivateKey.pem/data2.bin/' >"$work/rewritten-SHA256SUMS"
export KDU_PACKAGE_APP="Z:$work/app" KDU_PACKAGE_SOURCE="Z:$sample" \
  KDU_PACKAGE_REWRITTEN_SUMS="Z:$work/rewritten-SHA256SUMS"
exec "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-run.sh" "$test_exe"
