#!/usr/bin/env bash
# The release paths of scripts/sign.sh, each signing a copy of the product's
# program whose signature was removed, checked with osslsigncode against the
# root that issued the key:
#   - a PKCS#12 file and its password; a wrong password fails and leaves no
#     file behind;
#   - a key on a PKCS#11 token (SoftHSM stands in for the smart card or HSM),
#     unlocked with its PIN;
#   - an RFC 3161 timestamp from a configured server (tsa.py, a local
#     authority with a root of its own), which the signature then carries
#     and which verifies against that root only; an unreachable server fails
#     the signing rather than leaving a file without a timestamp.
# The build's test identity stands in for the release certificate: the paths
# differ only in where the key comes from, and a release identity in the
# environment wins over the test identity that the build names.
#
#   release-identities.sh <build folder>
set -uo pipefail
build=$(cd "${1:?usage: release-identities.sh <build folder>}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
sign=$here/../../scripts/sign.sh
identity=$build/signing
root=$identity/root.crt
program=$build/product-payload/Trimora.exe

# Nothing from the caller's environment may choose the identity here, and
# the local authority is reached directly.
unset QV_SIGN_PKCS12 QV_SIGN_PASSWORD QV_SIGN_PKCS11_MODULE QV_SIGN_PKCS11_KEY \
      QV_SIGN_PKCS11_CERT QV_SIGN_PKCS11_ENGINE QV_SIGN_TIMESTAMP_URL \
      http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

work=$(mktemp -d "$build/signing-release-test.XXXXXX")
tsa_pid=
cleanup() {
  [ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
umask 077

. "$here/checks.sh"

# A copy of the program without its build signature.
unsigned_copy() {
  osslsigncode remove-signature -in "$program" -out "$1" >/dev/null 2>&1 ||
    { echo "release-identities: cannot remove the signature of $program" >&2; exit 1; }
}

# file, what, [extra verify options]: the file carries a signature that
# verifies against the build's root.
expect_verified() {
  local file=$1 what=$2 out
  shift 2
  if out=$(osslsigncode verify -CAfile "$root" "$@" -in "$file" 2>&1); then
    pass "$what"
  else
    fail "$what" "$out"
  fi
}

sign_copy() { # file, then the environment as name=value pairs
  local file=$1
  shift
  env "$@" "$sign" --test-identity "$identity" --description "Trimora notebook editor" --url "https://www.orvane.example/" "$file"
}

# --- PKCS#12 -----------------------------------------------------------------
p12=$work/release.p12
openssl pkcs12 -export -inkey "$identity/leaf.key" -in "$identity/leaf.crt" -name "Orvane Systems" \
  -passout pass:"p12 pass phrase" -out "$p12" 2>/dev/null ||
  { echo "release-identities: cannot make the PKCS#12 file" >&2; exit 1; }

unsigned_copy "$work/p12.exe"
if out=$(sign_copy "$work/p12.exe" QV_SIGN_PKCS12="$p12" QV_SIGN_PASSWORD="p12 pass phrase" 2>&1); then
  expect_verified "$work/p12.exe" "PKCS#12 file: the signature verifies"
  out=$(osslsigncode verify -CAfile "$root" -in "$work/p12.exe" 2>&1)
  if grep -q "Text description: Trimora notebook editor" <<<"$out"; then
    pass "PKCS#12 file: the description is the program's"
  else
    fail "PKCS#12 file: the description is the program's" "$out"
  fi
else
  fail "PKCS#12 file: signing" "$out"
fi

unsigned_copy "$work/p12-wrong.exe"
if out=$(sign_copy "$work/p12-wrong.exe" QV_SIGN_PKCS12="$p12" QV_SIGN_PASSWORD="not the pass phrase" 2>&1); then
  fail "PKCS#12 file with a wrong password: signing must fail" "$out"
elif [ -e "$work/p12-wrong.exe" ]; then
  fail "PKCS#12 file with a wrong password: the unsigned file must be gone"
else
  pass "PKCS#12 file with a wrong password: fails and leaves no file"
fi

# --- PKCS#11 token -----------------------------------------------------------
module=
for candidate in /usr/lib/softhsm/libsofthsm2.so /usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so; do
  if [ -f "$candidate" ]; then module=$candidate; break; fi
done
if [ -z "$module" ]; then
  fail "PKCS#11 token: SoftHSM's module is missing (run scripts/setup.sh)"
else
  mkdir -p "$work/tokens"
  export SOFTHSM2_CONF=$work/softhsm2.conf
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" >"$SOFTHSM2_CONF"
  if ! out=$(softhsm2-util --init-token --free --label "Orvane release" --pin 2468 --so-pin 13579 2>&1 &&
             softhsm2-util --import "$identity/leaf.key" --token "Orvane release" --label signing --id 01 \
               --pin 2468 2>&1); then
    fail "PKCS#11 token: making the SoftHSM token" "$out"
  else
    key="pkcs11:token=Orvane%20release;object=signing;type=private"
    unsigned_copy "$work/token.exe"
    if out=$(sign_copy "$work/token.exe" QV_SIGN_PKCS11_MODULE="$module" QV_SIGN_PKCS11_KEY="$key" \
               QV_SIGN_PKCS11_CERT="$identity/leaf.crt" QV_SIGN_PASSWORD=2468 2>&1); then
      expect_verified "$work/token.exe" "PKCS#11 token: the signature verifies"
    else
      fail "PKCS#11 token: signing" "$out"
    fi
    unsigned_copy "$work/token-wrong.exe"
    if out=$(sign_copy "$work/token-wrong.exe" QV_SIGN_PKCS11_MODULE="$module" QV_SIGN_PKCS11_KEY="$key" \
               QV_SIGN_PKCS11_CERT="$identity/leaf.crt" QV_SIGN_PASSWORD=1111 2>&1); then
      fail "PKCS#11 token with a wrong PIN: signing must fail" "$out"
    else
      pass "PKCS#11 token with a wrong PIN: fails"
    fi
  fi
fi

# --- RFC 3161 timestamp --------------------------------------------------------
tsa=$work/tsa
mkdir -p "$tsa"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -keyout "$tsa/root.key" -out "$tsa/root.crt" \
  -subj "/CN=Test Time-Stamping Root" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null &&
openssl req -new -newkey rsa:2048 -nodes -sha256 -keyout "$tsa/tsa.key" -out "$tsa/tsa.csr" \
  -subj "/CN=Test Time-Stamping Authority" 2>/dev/null &&
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' \
  >"$tsa/tsa.ext" &&
openssl x509 -req -sha256 -days 30 -set_serial 1 -in "$tsa/tsa.csr" -CA "$tsa/root.crt" -CAkey "$tsa/root.key" \
  -extfile "$tsa/tsa.ext" -out "$tsa/tsa.crt" 2>/dev/null ||
  { echo "release-identities: cannot make the time-stamping authority's certificates" >&2; exit 1; }
cat >"$tsa/tsa.cnf" <<EOF
[ tsa ]
default_tsa = authority
[ authority ]
serial = $tsa/serial
crypto_device = builtin
signer_cert = $tsa/tsa.crt
certs = $tsa/tsa.crt
signer_key = $tsa/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF
echo 01 >"$tsa/serial"

python3 "$here/tsa.py" "$tsa/tsa.cnf" "$tsa/port" &
tsa_pid=$!
for _ in $(seq 100); do [ -s "$tsa/port" ] && break; sleep 0.1; done
if [ ! -s "$tsa/port" ]; then
  fail "timestamp: the local time-stamping authority did not start"
else
  url=http://127.0.0.1:$(cat "$tsa/port")
  unsigned_copy "$work/stamped.exe"
  if out=$(sign_copy "$work/stamped.exe" QV_SIGN_TIMESTAMP_URL="$url" 2>&1); then
    # osslsigncode names the outcome of the timestamp's own check; a
    # foreign authority's root must make it fail, so the signature really
    # carries a timestamp and the check is real.
    out=$(osslsigncode verify -CAfile "$root" -TSA-CAfile "$tsa/root.crt" -in "$work/stamped.exe" 2>&1)
    if [ $? = 0 ] && grep -q "Timestamp Server Signature verification: ok" <<<"$out"; then
      pass "timestamp: signature and timestamp verify"
    else
      fail "timestamp: signature and timestamp verify" "$out"
    fi
    out=$(osslsigncode verify -CAfile "$root" -TSA-CAfile "$root" -in "$work/stamped.exe" 2>&1)
    if grep -q "Timestamp Server Signature verification: ok" <<<"$out"; then
      fail "timestamp: verifying against a foreign time-stamping root must fail" "$out"
    else
      pass "timestamp: the timestamp is checked against its authority's root"
    fi
  else
    fail "timestamp: signing with $url" "$out"
  fi
  # Without a configured server the signature carries no timestamp.
  if grep -q "Timestamp is not available" <(osslsigncode verify -CAfile "$root" -in "$program" 2>&1); then
    pass "timestamp: none without a configured server"
  else
    fail "timestamp: the build's own signature carries a timestamp without a configured server"
  fi
fi

unsigned_copy "$work/unreachable.exe"
if out=$(sign_copy "$work/unreachable.exe" QV_SIGN_TIMESTAMP_URL="http://127.0.0.1:9" 2>&1); then
  fail "timestamp: an unreachable server must fail the signing" "$out"
elif [ -e "$work/unreachable.exe" ]; then
  fail "timestamp: an unreachable server must leave no unsigned file"
else
  pass "timestamp: an unreachable server fails the signing"
fi

end_checks "all release paths sign and verify"
