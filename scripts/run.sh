#!/usr/bin/env bash
# Sets the machine up, builds the installer and its archive tool, packs the
# payload and prints what the installer's archive holds.
# Usage: scripts/run.sh [build-folder]   (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
"$here/scripts/setup.sh"
"$here/scripts/fetch-sources.sh" >/dev/null
cmake -S "$here" -B "$build" >/dev/null
targets=(qvarchive qv_payload)
if grep -q '^QuorvexSetup:' <(cmake --build "$build" --target help 2>/dev/null | sed 's/^\.\.\. //;s/ .*//;s/$/:/'); then
  targets+=(QuorvexSetup)
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

archive=$build/payload.bz2
installer=$(find "$build" -maxdepth 2 -name 'InstallQuorvex*.exe' | head -n1)
[ -n "$installer" ] && archive=$installer
echo "== What $(basename "$archive") carries (resource 260/134):"
"$here/scripts/wine-run.sh" "$build/tools/archive/qvarchive.exe" list "$archive"
"$here/scripts/wine-run.sh" "$build/tools/archive/qvarchive.exe" verify "$archive"
