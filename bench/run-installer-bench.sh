#!/usr/bin/env bash
# Runs qv_installer_bench under Wine (bench/CMakeLists.txt, target
# bench_installer): the installers as Windows paths, and the machine's load
# before and after, to be read beside the figures.
#
#   run-installer-bench.sh <emulator> <qv_installer_bench.exe> <shipped installer> <installer>...
set -euo pipefail
emulator=$1
bench=$2
shift 2
args=(--runs "${QV_BENCH_RUNS:-3}")
if [ "${QV_BENCH_STEPS:-0}" = 1 ]; then args+=(--steps); fi
for exe in "$@"; do args+=("Z:$exe"); done
echo "load before: $(uptime)"
"$emulator" "$bench" "${args[@]}"
echo "load after:  $(uptime)"
