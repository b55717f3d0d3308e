#!/usr/bin/env bash
# Makes the build's throwaway code-signing identity in a folder of the build
# tree: a test root certificate and a leaf certificate for code signing that
# the root issued, with the leaf's private key. The root's private key is
# deleted as soon as the leaf is issued, so nothing more can ever be issued
# under this root. Nothing here is fit for a release, and nothing here is
# ever committed.
#
#   scripts/make-test-certificate.sh <folder>
#
# Writes, in <folder> (mode 700):
#   root.crt   the test root, what verification trusts
#   leaf.crt   the signing certificate (PEM)
#   leaf.key   its private key (PEM, not encrypted, mode 600)
set -euo pipefail
folder=${1:?usage: make-test-certificate.sh <folder>}

umask 077
mkdir -p "$folder"
chmod 700 "$folder"
work=$(mktemp -d "$folder/.new.XXXXXX")
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -keyout "$work/root.key" -out "$work/root.crt" \
  -subj "/O=Orvane Systems/CN=Orvane Systems Build Test Root" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

openssl req -new -newkey rsa:2048 -nodes -sha256 \
  -keyout "$work/leaf.key" -out "$work/leaf.csr" \
  -subj "/O=Orvane Systems/CN=Orvane Systems (build test signature)" 2>/dev/null

cat >"$work/leaf.ext" <<'EOF'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EOF
openssl x509 -req -sha256 -days 3650 -set_serial "0x$(openssl rand -hex 16)" \
  -in "$work/leaf.csr" -CA "$work/root.crt" -CAkey "$work/root.key" \
  -extfile "$work/leaf.ext" -out "$work/leaf.crt" 2>/dev/null

rm -f "$work/root.key" "$work/leaf.csr" "$work/leaf.ext"
# The three files replace an earlier identity together.
for f in root.crt leaf.crt leaf.key; do mv -f "$work/$f" "$folder/$f"; done
