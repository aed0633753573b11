#!/usr/bin/env bash
# Makes sample/deployment: what support staff hand to kestova-package. A throw-away test CA
# signs a new certificate for a new key; the CA's own key is discarded at once. And
# sample/signing: a throw-away code-signing CA and a publisher certificate (leaf first, then the
# CA) with its key, for the demo to sign its package with. Not for use: anyone can read the keys.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/sample/deployment
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signing=$root/sample/signing
mkdir -p "$out" "$signing"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca-key.pem" -out "$out/test-ca.pem" \
  -days 3650 -subj "/C=TW/O=Kestova Sample/CN=Kestova Test CA (sample, not for use)" 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$out/new-key.pem" 2>/dev/null
openssl req -new -key "$out/new-key.pem" -out "$work/request.pem" \
  -subj "/C=TW/O=Kestova Sample/CN=KestovaDesktop 2026 (sample, not for use)"
openssl x509 -req -in "$work/request.pem" -CA "$out/test-ca.pem" -CAkey "$work/ca-key.pem" \
  -set_serial 0x2026 -days 3650 -sha256 -out "$out/new-cert.pem" 2>/dev/null
openssl verify -CAfile "$out/test-ca.pem" "$out/new-cert.pem"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca-key.pem" -out "$signing/code-signing-ca.pem" \
  -days 3650 -subj "/C=TW/O=Kestova Sample/CN=Kestova Test Code Signing CA (sample, not for use)" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout "$signing/publisher-key.pem" -out "$work/request.pem" \
  -subj "/C=TW/O=Kestova Sample/CN=Kestova Sample Publisher (not for use)" 2>/dev/null
printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n' >"$work/extensions.txt"
openssl x509 -req -in "$work/request.pem" -CA "$signing/code-signing-ca.pem" -CAkey "$work/ca-key.pem" \
  -set_serial 0x2026 -days 3650 -sha256 -extfile "$work/extensions.txt" \
  -out "$work/publisher.pem" 2>/dev/null
cat "$work/publisher.pem" "$signing/code-signing-ca.pem" >"$signing/publisher-chain.pem"
openssl verify -CAfile "$signing/code-signing-ca.pem" "$work/publisher.pem"
