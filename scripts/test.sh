#!/usr/bin/env bash
# Sets the machine up, builds everything and runs every test under Wine.
# Usage: scripts/test.sh [build-folder]   (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
"$here/scripts/setup.sh"
"$here/scripts/fetch-sources.sh" >/dev/null
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
# One X server for the whole run, for the tests that open windows.
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --output-on-failure -j"$(nproc)" --timeout 900
