#!/usr/bin/env bash
# package-round-trip.sh TOOL SHIPPED_EXE RUN_EXE TEST_EXE SAMPLE WORK: builds a signed package of
# the shipped i686 exe from the sample deployment with kestova-package, signed through a SoftHSM2
# token (and, for its refusals, by sign commands, with timestamps of a local authority, a CRL and
# without a trust store), checks its signature, then runs the round-trip test against it under
# Wine. RUN_EXE is the exe the Wine tiers run: the shipped one, or its x86_64 build where this
# machine cannot run 32-bit programs, which then takes its place in the package.
set -euo pipefail
tool=$1 shipped_exe=$2 run_exe=$3 test_exe=$4 sample=$5 work=$6
for needed in "$tool" "$shipped_exe"; do
  [[ -f $needed ]] || { echo "missing $needed: build the native and win32 presets first" >&2; exit 1; }
done
rm -rf "$work"
mkdir -p "$work/signing"

# A throw-away code-signing root, intermediate CA and publisher, made here; their keys go with the
# work folder. The chain given holds the publisher and the intermediate; the root is only in the
# trust store given (SSL_CERT_FILE), as a public CA's is in the system's.
cd "$work/signing"
ca_extensions=(-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign)
openssl req -x509 -newkey rsa:2048 -nodes -keyout root-key.pem -out root.pem -days 2 \
  -subj "/CN=Kestova Test Root CA" "${ca_extensions[@]}" 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout ca-key.pem -out ca-request.pem \
  -subj "/CN=Kestova Test Code Signing CA" 2>/dev/null
printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n' \
  >ca-extensions.txt
openssl x509 -req -in ca-request.pem -CA root.pem -CAkey root-key.pem -set_serial 1 -days 2 \
  -sha256 -extfile ca-extensions.txt -out ca.pem 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout key.pem -out request.pem \
  -subj "/CN=Kestova Test Publisher" 2>/dev/null
printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n' >extensions.txt
openssl x509 -req -in request.pem -CA ca.pem -CAkey ca-key.pem -set_serial 2 -days 2 -sha256 \
  -extfile extensions.txt -out publisher.pem 2>/dev/null
cat publisher.pem ca.pem >chain.pem  # leaf first, no root
# Another publisher of the same CA; the publisher's key certified again, naming a CRL address no
# one answers (the signing host is offline), and the CA's CRL that revokes that certificate.
openssl req -new -newkey rsa:2048 -nodes -keyout other-key.pem -out other-request.pem \
  -subj "/CN=Kestova Other Publisher" 2>/dev/null
openssl x509 -req -in other-request.pem -CA ca.pem -CAkey ca-key.pem -set_serial 3 -days 2 \
  -sha256 -extfile extensions.txt -out other.pem 2>/dev/null
echo 'crlDistributionPoints=URI:http://127.0.0.1:9/ca.crl' >>extensions.txt
openssl x509 -req -in request.pem -CA ca.pem -CAkey ca-key.pem -set_serial 4 -days 2 -sha256 \
  -extfile extensions.txt -out offline.pem 2>/dev/null
cat offline.pem ca.pem >offline-chain.pem
printf '[ca]\ndefault_ca=ca\ndatabase=index.txt\ndefault_md=sha256\ndefault_crl_days=2\n' >ca.cnf
: >index.txt
openssl ca -config ca.cnf -revoke offline.pem -keyfile ca-key.pem -cert ca.pem 2>/dev/null
openssl ca -config ca.cnf -gencrl -keyfile ca-key.pem -cert ca.pem -out revoked.crl 2>/dev/null

# A timestamp authority (openssl ts behind a local HTTP server), its root in no trust store.
openssl req -x509 -newkey rsa:2048 -nodes -keyout tsa-root-key.pem -out tsa-root.pem -days 3650 \
  -subj "/CN=Kestova Test TSA Root" "${ca_extensions[@]}" 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout tsa-key.pem -out tsa-request.pem \
  -subj "/CN=Kestova Test TSA" 2>/dev/null
echo 'extendedKeyUsage=critical,timeStamping' >tsa-extensions.txt
openssl x509 -req -in tsa-request.pem -CA tsa-root.pem -CAkey tsa-root-key.pem -set_serial 1 \
  -days 3650 -sha256 -extfile tsa-extensions.txt -out tsa.pem 2>/dev/null
printf '%s\n' '[tsa]' default_tsa=tsa serial=tsa-serial default_policy=1.2.3.4 digests=sha256 \
  signer_digest=sha256 >tsa.cnf
python3 - >"$work/tsa-port" 2>"$work/tsa.txt" <<'PYTHON' &
import http.server, subprocess
class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile",
            "/dev/stdin", "-inkey", "tsa-key.pem", "-signer", "tsa.pem", "-chain", "tsa-root.pem"],
            input=query, capture_output=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers()
        self.wfile.write(reply)
server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
print(server.server_port, flush=True)
server.serve_forever()
PYTHON
authority=$!
trap 'kill $authority' EXIT
until [[ -s $work/tsa-port ]]; do sleep 0.1; done
tsa=http://127.0.0.1:$(cat "$work/tsa-port")

# The publisher's key on a SoftHSM2 token made here, as a publisher's is on a USB token or HSM.
mkdir -p "$work/token"
export SOFTHSM2_CONF=$work/token/softhsm2.conf
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
  "$work/token" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label kdu-test --pin 1234 --so-pin 4321 >/dev/null
softhsm2-util --import key.pem --token kdu-test --label publisher --id 01 --pin 1234 >/dev/null
cd - >/dev/null
token_key="pkcs11:token=kdu-test;object=publisher;type=private"
softhsm=/usr/lib/softhsm/libsofthsm2.so
export KESTOVA_PKCS11_PIN=1234

package() { # OUT SIGNING-OPTIONS...: the sample deployment, signed as the options say
  "$tool" --certificate "$sample/new-cert.pem" --key "$sample/new-key.pem" \
    --messages "$sample/messages.txt" --exe "$shipped_exe" --out "$1" \
    --sign-certificate "$work/signing/chain.pem" "${@:2}"
}
said() { # NAME EXPECTED: the build's output says it
  grep -q -- "$2" "$work/$1.txt" || { cat "$work/$1.txt"; echo "FAIL: $1: not said: $2" >&2; exit 1; }
}
refused() { # NAME EXPECTED SIGNING-OPTIONS...: the build fails, says why, and writes nothing
  if package "$work/$1" "${@:3}" >"$work/$1.txt" 2>&1; then
    echo "FAIL: $1: built" >&2; exit 1
  fi
  said "$1" "$2"
  [[ ! -e $work/$1 ]] || { echo "FAIL: $1: something was written" >&2; exit 1; }
  echo "refused, nothing written: $1"
}
built() { # NAME EXPECTED SIGNING-OPTIONS...: the build succeeds and says it
  package "$work/$1" "${@:3}" >"$work/$1.txt" 2>&1 || { cat "$work/$1.txt"; echo "FAIL: $1" >&2; exit 1; }
  said "$1" "$2"
  echo "built: $1"
}

# Without the root in a trust store the signature does not verify.
SSL_CERT_FILE='' refused without-root "does not verify" --sign-key "$token_key" \
  --pkcs11-module "$softhsm"
export SSL_CERT_FILE=$work/signing/root.pem
refused pin-in-uri "give it in the environment variable KESTOVA_PKCS11_PIN" \
  --sign-key "$token_key;pin-value=1234" --pkcs11-module "$softhsm"
# Any signing tool, through --sign-command: here osslsigncode with the key file; it must leave
# the program and its digest slot as they were, and succeed. The exe's path holds a space.
mkdir -p "$work/temporary folder"
with() { # CERTIFICATE KEY OPTIONS...: the sign command that signs with them
  echo "osslsigncode sign -certs $1 -key $2 ${*:3} -in \"\$f\" -out \"\$1.s\" && mv \"\$1.s\" \$f"
}
by_key=$(with "$work/signing/chain.pem" "$work/signing/key.pem" -h sha256)
TMPDIR="$work/temporary folder" built by-command "signed without --timestamp-url" \
  --sign-command "$by_key"
flip_slot="python3 -c 'import sys; b=bytearray(open(sys.argv[1],\"rb\").read()); "
flip_slot+="i=b.rindex(b\"KDU-PACKAGE-SUMS\")+40; b[i]^=1; open(sys.argv[1],\"wb\").write(b)' \$f"
refused slot-changed "not the program given" --sign-command "$flip_slot && $by_key"
refused command-failed "the sign command failed (exit code 3)" \
  --sign-command 'test -f "$1" && exit 3'
refused another-publisher "signed with the certificate of /CN=Kestova Other Publisher" \
  --sign-command "$(with "$work/signing/other.pem" "$work/signing/other-key.pem" -h sha256)"
refused nested "a second, nested signature" --sign-command \
  "$by_key && $(with "$work/signing/chain.pem" "$work/signing/key.pem" -h sha256 -nest)"
refused sha-1 "its digest is SHA1, not SHA-256" \
  --sign-command "$(with "$work/signing/chain.pem" "$work/signing/key.pem" -h sha1)"

# Timestamps, read from the signature: from the first authority that answers, or the sign
# command's, verified against --timestamp-ca; one that verifies against no store refused, as a
# sign command that did not timestamp.
built timestamped "the timestamped signature stays valid" --sign-key "$token_key" \
  --pkcs11-module "$softhsm" --timestamp-url http://127.0.0.1:9 --timestamp-url "$tsa" \
  --timestamp-ca "$work/signing/tsa-root.pem"
built command-timestamped "the timestamped signature stays valid" --sign-command \
  "$(with "$work/signing/chain.pem" "$work/signing/key.pem" -h sha256 -ts "$tsa")" \
  --timestamp-ca "$work/signing/tsa-root.pem"
refused timestamp-unverified "its timestamp does not verify" --sign-key "$work/signing/key.pem" \
  --timestamp-url "$tsa"
refused not-timestamped "did not timestamp the signature" --sign-command "$by_key" \
  --timestamp-url "$tsa"

# Revocation: an offline CRL address is not fetched, and said; a CRL given is checked.
built offline "revocation was not checked" --sign-certificate "$work/signing/offline-chain.pem" \
  --sign-key "$work/signing/key.pem"
refused revoked "certificate revoked" --sign-certificate "$work/signing/offline-chain.pem" \
  --sign-key "$work/signing/key.pem" --crl "$work/signing/revoked.crl"
kill $authority
trap - EXIT

# The package of the round trip: signed through the token, the PIN from the environment,
# untimestamped (a warning with the date). Built again with the PIN from a file, as echo writes
# it, at the same SOURCE_DATE_EPOCH: the same zip, byte for byte.
export SOURCE_DATE_EPOCH=1767225600
built dist "signed without --timestamp-url, the exe's signature stops verifying when the signing certificate expires, on" \
  --sign-key "$token_key" --pkcs11-module "$softhsm"
echo 1234 >"$work/pin"
KESTOVA_PKCS11_PIN='' built again "mode 0600" --sign-key "$token_key" --pkcs11-module "$softhsm" \
  --pkcs11-pin-file "$work/pin"
cmp "$work"/dist/*.zip "$work"/again/*.zip || { echo "FAIL: two builds differ" >&2; exit 1; }
cp -r "$work"/dist/KestovaDesktopUpdater-*/ "$work/app"  # the one package, named by its version

# The packaged exe is the signed one, and its signature holds only while every byte does.
packaged=$work/app/KestovaDesktopUpdater.exe
(cd "$work/app" && sha256sum --quiet -c SHA256SUMS)
osslsigncode verify -in "$packaged" -CAfile "$work/signing/root.pem" >"$work/verify.txt" 2>&1 ||
  { cat "$work/verify.txt"; echo "FAIL: the packaged exe's signature does not verify" >&2; exit 1; }
grep -q "Signing time: Jan  1 00:00:00 2026" "$work/verify.txt" ||
  { echo "FAIL: not signed at SOURCE_DATE_EPOCH" >&2; exit 1; }
cp "$packaged" "$work/tampered.exe"
python3 -c 'import sys; f=open(sys.argv[1],"r+b"); f.seek(4096); b=f.read(1); f.seek(4096); f.write(bytes([b[0]^1]))' \
  "$work/tampered.exe"
if osslsigncode verify -in "$work/tampered.exe" -CAfile "$work/signing/root.pem" >/dev/null 2>&1; then
  echo "FAIL: a changed byte still verifies" >&2; exit 1
fi
echo "signature (through the token): verifies on the packaged exe, fails with one byte changed"
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
# A newer pair than the package's (its own key, a later start date), as the product's own renewal.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 -subj /CN=newer \
  -keyout "$work/newer-key.pem" -out "$work/newer-cert.pem" 2>/dev/null
export KDU_PACKAGE_APP="Z:$work/app" KDU_PACKAGE_SOURCE="Z:$sample" \
  KDU_PACKAGE_REWRITTEN_SUMS="Z:$work/rewritten-SHA256SUMS" KDU_PACKAGE_NEWER="Z:$work/newer" \
  KDU_PACKAGE_RULES="Z:$(ls "$work"/dist/*.detection.txt)"
exec "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-run.sh" "$test_exe"
