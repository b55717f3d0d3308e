#!/usr/bin/env bash
# A longer run of the fuzz harness of the tests (tests/unit/robustness_fuzz_test.cpp):
# mutated payload archives through the verification pass and the extraction,
# mutated uninstall logs through the reader and writer, in a fresh Wine
# prefix of the build tree.
#
# Usage: scripts/fuzz.sh [seconds-per-input] [seed] [build-folder]
#   defaults: 300 seconds for the archives and 300 for the logs, seed 14, build/
# It builds the harness first. A failing case is named by its number; the
# same seed gives the same cases in the same order.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
seed=${2:-14}
build=${3:-$here/build}
cmake --build "$build" --target robustness_fuzz_test -j2 >/dev/null
QV_WINE_PREFIX=fresh QV_FUZZ_SECONDS=$seconds QV_FUZZ_SEED=$seed \
  "$here/scripts/wine-run.sh" "$build/tests/robustness_fuzz_test.exe"
