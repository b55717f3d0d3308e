#!/usr/bin/env bash
# Sets the machine up, builds both editions and runs their tests under Wine.
# Usage: scripts/test.sh [build-folder]   (default: build)
#
# The 32-bit edition (the shipped installer) builds in <build-folder>, the
# 64-bit edition in <build-folder>-x64. The 64-bit suite runs on every
# machine. Where this machine runs 32-bit programs (scripts/probe-32bit.sh
# starts one) the 32-bit suite runs too; where it cannot, the 64-bit
# edition's packer packs the 32-bit installer's payload and its files get the
# checks that run none of them (CTest label "static"); the shipped 32-bit
# installer itself then runs its scenarios in a small virtual machine with
# 32-bit Wine (tests/vm32/run.sh, scripts/vm32.sh, docs/vm32.md), which is
# built once into a cache (6 to 12 minutes) and booted once per run (about 5
# minutes).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
build64=$build-x64
"$here/scripts/setup.sh"
"$here/scripts/fetch-sources.sh" >/dev/null

read -r can32 why < <("$here/scripts/probe-32bit.sh")
if [ "$can32" = yes ]; then
  summary="tests of both editions, 64-bit and 32-bit: $why"
else
  summary="tests of the 64-bit edition, checks of the 32-bit edition's files that run none of them,"
  summary+=" and the shipped 32-bit installer's scenarios in a virtual machine with 32-bit Wine: $why"
fi
echo "test: $summary"

cmake -S "$here" -B "$build64" -DQV_EDITION=x64 >/dev/null
cmake --build "$build64" -j"$(nproc)"
if [ "$can32" = yes ]; then host=; else host=$build64; fi
cmake -S "$here" -B "$build" -DQV_EDITION=x86 -DQV_HOST_BUILD="$host" >/dev/null
cmake --build "$build" -j"$(nproc)"

# One X server per suite, for the tests that open windows.
run_suite() { # build folder, ctest arguments...
  local folder=$1
  shift
  (cd "$folder" && xvfb-run -a -s "-screen 0 1280x1024x24" \
     ctest --output-on-failure -j"$(nproc)" --timeout 900 "$@")
}
status=0
if [ "$can32" != yes ]; then
  echo "test: the shipped 32-bit installer's scenarios in a virtual machine with 32-bit Wine ($build/installer)"
  "$here/tests/vm32/run.sh" "$build" || status=1
fi
echo "test: the 64-bit edition's suite ($build64)"
run_suite "$build64" || status=1
if [ "$can32" = yes ]; then
  echo "test: the 32-bit edition's suite ($build)"
  run_suite "$build" || status=1
else
  echo "test: the 32-bit edition's checks that run none of its programs ($build)"
  run_suite "$build" -L static || status=1
fi
echo "test: $summary"
if [ $status -eq 0 ]; then echo "test: every test passed"; else echo "test: some tests failed (above)"; fi
exit $status
