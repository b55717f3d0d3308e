#!/usr/bin/env bash
# Every signature of the build verifies against a root: the installer and
# each executable and library of the product, as staged for the payload.
#
#   verify-signatures.sh <build folder> [root certificate (PEM)]
#
# Without a root the build's test root is taken (<build>/signing/root.crt);
# with the root of a release certificate it checks a release build. On the
# test identity it also shows that the check can fail: a copy of the
# installer with one byte of its payload changed, the installer against a
# root that did not issue its certificate, and a product file whose
# signature was removed must all be refused.
set -uo pipefail
build=$(cd "${1:?usage: verify-signatures.sh <build folder> [root certificate]}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=${2:-$build/signing/root.crt}
stage=$build/product-payload
installer=$build/installer/InstallQuorvex6.04.exe

. "$here/checks.sh"

# file, its signature's description: SHA-256, verified against the root.
expect_signed() {
  local file=$1 description=$2 name=${1#"$build"/} out
  if ! out=$(osslsigncode verify -CAfile "$root" -in "$file" 2>&1); then
    fail "$name: the signature does not verify" "$out"
  elif ! grep -q "Message digest algorithm *: SHA256" <<<"$out"; then
    fail "$name: not a SHA-256 signature" "$out"
  elif ! grep -q "Text description: $description\$" <<<"$out"; then
    fail "$name: the description is not \"$description\"" "$out"
  else
    pass "$name"
  fi
}

expect_refused() { # file, what
  local out
  if out=$(osslsigncode verify -CAfile "${3:-$root}" -in "$1" 2>&1); then
    fail "$2 must not verify" "$out"
  else
    pass "$2 is refused"
  fi
}

[ -f "$installer" ] || { echo "verify-signatures: no installer at $installer" >&2; exit 1; }
[ -f "$root" ] || { echo "verify-signatures: no root certificate at $root" >&2; exit 1; }

# The product files are every executable and library that the payload list
# names; none of the stage's executables or libraries may be missing from it.
mapfile -t listed < <(sed -n 's/^\([^#|][^|]*\.\(exe\|dll\)\)|.*/\1/p' "$stage/payload.list" | sort)
mapfile -t staged < <(cd "$stage" && find . -type f \( -name '*.exe' -o -name '*.dll' \) | sed 's|^\./||' | sort)
if [ ${#listed[@]} = 0 ] || [ "${listed[*]}" != "${staged[*]}" ]; then
  fail "the payload list names the stage's executables and libraries" \
       "listed: ${listed[*]}"$'\n'"staged: ${staged[*]}"
fi
for file in "${listed[@]}"; do
  case $file in
    Trimora.exe) description="Trimora notebook editor" ;;
    Uninstall.exe) description="Trimora uninstaller" ;;
    *) description="Trimora language library" ;;
  esac
  expect_signed "$stage/$file" "$description"
done
expect_signed "$installer" "Installeur Quorvex 6.04"

# The payload the installer carries is the packed archive, byte for byte:
# the signature went after it and changed none of it.
if python3 - "$installer" "$build/payload.bz2" <<'EOF'
import sys
image, payload = (open(path, "rb").read() for path in sys.argv[1:3])
sys.exit(0 if payload and image.count(payload) == 1 else 1)
EOF
then
  pass "the signed installer carries the packed payload unchanged"
else
  fail "the signed installer carries the packed payload unchanged"
fi

if [ $# -lt 2 ]; then
  work=$(mktemp -d "$build/signing-verify-test.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  python3 - "$installer" "$work/tampered.exe" <<'EOF'
import sys
image = bytearray(open(sys.argv[1], "rb").read())
at = image.find(b"BZh91AY&SY")
image[at + 200] ^= 0x5A
open(sys.argv[2], "wb").write(image)
EOF
  expect_refused "$work/tampered.exe" "the installer with a changed payload byte"
  "$here/../../scripts/make-test-certificate.sh" "$work/foreign"
  expect_refused "$installer" "the installer against a foreign root" "$work/foreign/root.crt"
  osslsigncode remove-signature -in "$stage/Trimora.exe" -out "$work/unsigned.exe" >/dev/null 2>&1
  expect_refused "$work/unsigned.exe" "the program without its signature"
fi

end_checks "every signature verifies"
