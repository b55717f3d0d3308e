#!/usr/bin/env bash
# The signed installer end to end, in a fresh Wine prefix: a quick
# installation driven through the wizard (wizard_demo) to its end page, then
# the installed program, uninstaller and language libraries are checked from
# Linux: byte for byte the signed files of the build, and each signature
# verifies against the root. Then the uninstaller runs silently, and its
# temporary copy, the one Windows deletes at its next start, is checked the
# same way. The installer's own signature verifies before and after.
#
#   signed-installation.sh <build folder> <wizard_demo.exe>   (needs a display)
set -uo pipefail
build=$(cd "${1:?usage: signed-installation.sh <build folder> <wizard_demo.exe>}" && pwd)
demo=${2:?usage: signed-installation.sh <build folder> <wizard_demo.exe>}
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../scripts/wine-run.sh
root=$build/signing/root.crt
stage=$build/product-payload
installer=$build/installer/InstallQuorvex6.04.exe

work=$(mktemp -d "$build/signed-installation.XXXXXX")
prefix=
cleanup() {
  [ -z "$prefix" ] || rm -rf "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/checks.sh"

# installed file, the build's file it must be: the same bytes, and a
# signature that verifies.
expect_signed_copy() {
  local file=$1 original=$2 name=${1#"$prefix"/drive_c/} out
  if [ ! -f "$file" ]; then
    fail "$name is missing"
  elif ! cmp -s "$file" "$original"; then
    fail "$name differs from ${original#"$build"/}"
  elif ! out=$(osslsigncode verify -CAfile "$root" -in "$file" 2>&1); then
    fail "$name: the signature does not verify" "$out"
  else
    pass "$name: the build's signed file, verified"
  fi
}

verify_installer() { # when
  local out
  if out=$(osslsigncode verify -CAfile "$root" -in "$installer" 2>&1); then
    pass "the installer's signature verifies $1"
  else
    fail "the installer's signature verifies $1" "$out"
  fi
}

verify_installer "before the installation"

# A quick installation to the end page and Exit (wizard_demo exits with 0
# only then); the prefix is kept for the checks.
status=0
QV_KEEP_PREFIX=1 QV_WINE_PREFIX=fresh "$wine_run" "$demo" "Z:$installer" "$work" >"$work/demo.log" 2>&1 || status=$?
prefix=$(sed -n 's/^wine-run: prefix kept at //p' "$work/demo.log")
if [ $status != 0 ] || [ -z "$prefix" ]; then
  fail "quick installation with the signed installer (exit code $status)" "$(cat "$work/demo.log")"
  exit 1
fi
pass "quick installation with the signed installer"
verify_installer "after the installation"

program=$(find "$prefix/drive_c" -path '*/Orvane Systems/Trimora 6/Trimora.exe' -print -quit)
folder=${program%/Trimora.exe}
if [ -z "$program" ]; then
  fail "no installed Trimora.exe in the prefix"
  exit 1
fi
mapfile -t listed < <(sed -n 's/^\([^#|][^|]*\.\(exe\|dll\)\)|.*/\1/p' "$stage/payload.list")
[ ${#listed[@]} -gt 0 ] || fail "the payload list names no executable or library"
for file in "${listed[@]}"; do
  expect_signed_copy "$folder/$file" "$stage/$file"
done

# The uninstaller, silent: it removes the installation, and the temporary
# copy that deleted it goes after it with its private folder; nothing is left
# for Windows' next start. (The prefix is waited for until every process of
# it has ended, the interpreter that deletes the copy included.)
status=0
QV_WINE_PREFIX=$prefix "$wine_run" "$folder/Uninstall.exe" /S >"$work/uninstall.log" 2>&1 || status=$?
if [ $status = 0 ] && [ ! -e "$folder" ]; then
  pass "the signed uninstaller removed the installation"
else
  fail "the signed uninstaller removed the installation (exit code $status)" "$(cat "$work/uninstall.log")"
fi
if grep -q '"PendingFileRenameOperations"' "$prefix/system.reg"; then
  fail "nothing waits for deletion at the next start" "$(grep -A2 PendingFileRename "$prefix/system.reg")"
else
  pass "nothing waits for deletion at the next start"
fi
left=$(find "$prefix/drive_c/users" -maxdepth 3 -name 'orvane_*' 2>/dev/null)
if [ -z "$left" ]; then
  pass "the uninstaller's temporary copy and its folder are gone"
else
  fail "the uninstaller's temporary copy and its folder are gone" "$left"
fi

end_checks "the signed installer installs signed files and changes nothing else"
