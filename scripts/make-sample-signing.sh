#!/usr/bin/env bash
# Makes sample/signing: a throw-away code-signing CA and a publisher certificate (leaf first,
# then the CA) with its key, for the demo to sign its package with. The CA's own key is
# discarded at once. Not for use: anyone can read the publisher's key here.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/sample/signing
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca-key.pem" -out "$out/code-signing-ca.pem" \
  -days 3650 -subj "/C=TW/O=Kestova Sample/CN=Kestova Test Code Signing CA (sample, not for use)" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout "$out/publisher-key.pem" -out "$work/request.pem" \
  -subj "/C=TW/O=Kestova Sample/CN=Kestova Sample Publisher (not for use)" 2>/dev/null
printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n' >"$work/extensions.txt"
openssl x509 -req -in "$work/request.pem" -CA "$out/code-signing-ca.pem" -CAkey "$work/ca-key.pem" \
  -set_serial 0x2026 -days 3650 -sha256 -extfile "$work/extensions.txt" \
  -out "$work/publisher.pem" 2>/dev/null
cat "$work/publisher.pem" "$out/code-signing-ca.pem" >"$out/publisher-chain.pem"
openssl verify -CAfile "$out/code-signing-ca.pem" "$work/publisher.pem"
