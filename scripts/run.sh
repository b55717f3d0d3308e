#!/usr/bin/env bash
# The main job: sets the machine up, builds the installer, prints what its
# payload archive carries and runs it under Wine in a virtual desktop.
#
#   The installer is the shipped 32-bit one where this machine runs 32-bit
#   programs (scripts/probe-32bit.sh), else the 64-bit edition's; the first
#   line says which.
#   With a display (DISPLAY set): the wizard opens for a person to click
#   through, in a fresh Wine prefix that is thrown away afterwards
#   (QV_KEEP_PREFIX=1 keeps it for a look at what was installed).
#   Without one: under Xvfb, a quick installation is driven to its end by
#   wizard_demo and a screenshot of every page is saved; their paths are
#   printed.
#
# Usage: scripts/run.sh [build-folder]   (default: build; the 64-bit edition
# builds in <build-folder>-x64)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
"$here/scripts/setup.sh"
"$here/scripts/fetch-sources.sh" >/dev/null

read -r can32 why < <("$here/scripts/probe-32bit.sh")
if [ "$can32" = yes ]; then
  echo "run: the 32-bit installer, as shipped ($why)"
  cmake -S "$here" -B "$build" -DQV_EDITION=x86 -DQV_HOST_BUILD= >/dev/null
else
  build=$build-x64
  echo "run: the 64-bit edition's installer, since this machine cannot run 32-bit programs ($why)"
  cmake -S "$here" -B "$build" -DQV_EDITION=x64 >/dev/null
fi
cmake --build "$build" -j2 --target QuorvexSetup wizard_demo qvarchive
installer=$(find "$build/installer" -maxdepth 1 -name 'InstallQuorvex*.exe' | head -n1)
[ -n "$installer" ] || { echo "run: the installer was not built" >&2; exit 1; }

echo "== What $(basename "$installer") carries (resource 260/134):"
# Fresh prefixes: a shared one would leave a Wine server holding our output open.
QV_WINE_PREFIX=fresh "$here/scripts/wine-run.sh" "$build/tools/archive/qvarchive.exe" list "$installer"
QV_WINE_PREFIX=fresh "$here/scripts/wine-run.sh" "$build/tools/archive/qvarchive.exe" verify "$installer"

if [ -n "${DISPLAY:-}" ] && [ -z "${QV_HEADLESS:-}" ]; then
  echo "run: starting $installer"
  status=0
  QV_WINE_PREFIX=fresh "$here/scripts/wine-run.sh" "$installer" || status=$?
  echo "run: the installer ended with exit code $status"
  exit $status
fi

shots=$build/screenshots/run
rm -rf "$shots"
mkdir -p "$shots"
demo=$(find "$build/tests" -maxdepth 1 -name 'wizard_demo.exe' | head -n1)
echo "run: no display; driving a quick installation under Xvfb"
# The Wine desktop sits at the top-left corner of this X server alone.
QV_WINE_PREFIX=fresh xvfb-run -a -s "-screen 0 1024x768x24" \
  "$here/scripts/wine-run.sh" "$demo" "Z:$installer" "$shots"
echo "run: screenshots in $shots"
