#!/usr/bin/env bash
# Signs a Windows executable or DLL in place with an Authenticode signature
# (SHA-256, osslsigncode). The build calls it right after linking each of the
# product's executables and libraries and, last, the installer.
#
#   scripts/sign.sh --test-identity <folder> --description <text> [--url <url>] <file>
#
# The signing identity, the first that the environment names:
#   QV_SIGN_PKCS12=<file.p12>        a release certificate with its private key;
#                                    QV_SIGN_PASSWORD holds its password
#   QV_SIGN_PKCS11_MODULE=<lib.so>   a release key on a PKCS#11 token (smart
#   QV_SIGN_PKCS11_KEY=<pkcs11:...>  card, HSM): the token's module, the key's
#   QV_SIGN_PKCS11_CERT=<file|uri>   URI, the certificate chain (PEM file) or
#                                    the certificate's URI on the token;
#                                    QV_SIGN_PASSWORD holds the PIN;
#                                    QV_SIGN_PKCS11_ENGINE optionally names
#                                    OpenSSL's PKCS#11 engine
#   otherwise                        the build's throwaway test identity in the
#                                    --test-identity folder
#                                    (scripts/make-test-certificate.sh); the
#                                    new signature is verified against its root
# QV_SIGN_TIMESTAMP_URL: one or more RFC 3161 timestamp servers (separated by
# spaces, tried in turn); without it the signature carries no timestamp.
#
# The password goes to osslsigncode through a pipe, never on a command line.
# When signing fails the file is deleted, so that the build links it again
# instead of taking an unsigned file for a finished one.
set -euo pipefail

usage() {
  echo "usage: sign.sh --test-identity <folder> --description <text> [--url <url>] <file>" >&2
  exit 2
}

identity= description= url= file=
while [ $# -gt 0 ]; do
  case $1 in
    --test-identity) identity=${2:-}; shift 2 ;;
    --description) description=${2:-}; shift 2 ;;
    --url) url=${2:-}; shift 2 ;;
    -*) usage ;;
    *) [ -z "$file" ] || usage; file=$1; shift ;;
  esac
done
[ -n "$file" ] && [ -n "$description" ] || usage
[ -f "$file" ] || { echo "sign: no such file: $file" >&2; exit 1; }

log=$(mktemp "$file.signlog.XXXXXX")
signed=
cleanup() { rm -f "$log" ${signed:+"$signed"}; }
trap cleanup EXIT
fail() {
  echo "sign: $1: $file" >&2
  sed 's/^/  /' "$log" >&2
  rm -f "$file"
  exit 1
}

args=(sign -h sha256 -comm -n "$description")
[ -z "$url" ] || args+=(-i "$url")
for server in ${QV_SIGN_TIMESTAMP_URL:-}; do args+=(-ts "$server"); done

with_password=0
verify_root=
if [ -n "${QV_SIGN_PKCS12:-}" ]; then
  [ -f "$QV_SIGN_PKCS12" ] || fail "QV_SIGN_PKCS12 names no file ($QV_SIGN_PKCS12)"
  [ -n "${QV_SIGN_PASSWORD+set}" ] || fail "QV_SIGN_PKCS12 needs QV_SIGN_PASSWORD"
  args+=(-pkcs12 "$QV_SIGN_PKCS12")
  with_password=1
  source="certificate file $QV_SIGN_PKCS12"
elif [ -n "${QV_SIGN_PKCS11_MODULE:-}" ]; then
  [ -n "${QV_SIGN_PKCS11_KEY:-}" ] || fail "QV_SIGN_PKCS11_MODULE needs QV_SIGN_PKCS11_KEY"
  [ -n "${QV_SIGN_PKCS11_CERT:-}" ] || fail "QV_SIGN_PKCS11_MODULE needs QV_SIGN_PKCS11_CERT"
  [ -z "${QV_SIGN_PKCS11_ENGINE:-}" ] || args+=(-pkcs11engine "$QV_SIGN_PKCS11_ENGINE")
  args+=(-pkcs11module "$QV_SIGN_PKCS11_MODULE")
  case $QV_SIGN_PKCS11_CERT in
    pkcs11:*) args+=(-pkcs11cert "$QV_SIGN_PKCS11_CERT") ;;
    *) args+=(-certs "$QV_SIGN_PKCS11_CERT") ;;
  esac
  args+=(-key "$QV_SIGN_PKCS11_KEY")
  [ -z "${QV_SIGN_PASSWORD+set}" ] || with_password=1
  source="token key $QV_SIGN_PKCS11_KEY"
else
  [ -n "$identity" ] && [ -f "$identity/leaf.key" ] ||
    fail "no signing identity: set QV_SIGN_PKCS12 or QV_SIGN_PKCS11_MODULE, or make the test identity"
  args+=(-certs "$identity/leaf.crt" -key "$identity/leaf.key")
  verify_root=$identity/root.crt
  source="the build's test certificate"
fi

signed=$(mktemp "$file.signing.XXXXXX")
rm -f "$signed"  # osslsigncode writes a new file
status=0
if [ $with_password = 1 ]; then
  osslsigncode "${args[@]}" -readpass <(printf '%s' "$QV_SIGN_PASSWORD") -in "$file" -out "$signed" \
    >"$log" 2>&1 || status=$?
else
  osslsigncode "${args[@]}" -in "$file" -out "$signed" >"$log" 2>&1 || status=$?
fi
[ $status = 0 ] && [ -s "$signed" ] || fail "signing with $source failed"

if [ -n "$verify_root" ]; then
  # The timestamp's authority is not this root: only the signature is checked.
  osslsigncode verify -ignore-timestamp -CAfile "$verify_root" -in "$signed" >"$log" 2>&1 ||
    fail "the new signature does not verify"
fi
chmod --reference="$file" "$signed"
mv -f "$signed" "$file"
