#!/usr/bin/env bash
# Runs the shipped 32-bit installer's scenarios (tests/vm32/scenarios.sh) in
# the virtual machine with 32-bit Wine (scripts/vm32.sh), in one boot, for a
# machine that cannot run 32-bit programs itself. scripts/test.sh runs it
# there; by hand: tests/vm32/run.sh [build-folder]   (default: build)
#
# The installer is <build-folder>/installer/InstallQuorvex6.04.exe as built;
# the earlier version's program is the 6.03 probe of the same tree. The runs'
# logs and file lists land in <build-folder>/vm32/results (QV_VM32_JOB names
# another folder for what goes in and comes back). Prints a "test:" line for
# each scenario; exits 0 when every one passed.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
installer=$build/installer/InstallQuorvex6.04.exe
earlier=$build/tests/probes/probe-6.3.0.0.exe
for f in "$installer" "$earlier"; do
  [ -f "$f" ] || { echo "test: vm32: $f was not built" >&2; exit 1; }
done

job=${QV_VM32_JOB:-$build/vm32}
rm -rf "$job"
mkdir -p "$job"
cp "$installer" "$job/InstallQuorvex6.04.exe"
cp "$earlier" "$job/earlier-program.exe"
cp "$here/tests/vm32/scenarios.sh" "$job/"

started=$SECONDS
status=0
"$here/scripts/vm32.sh" run "$job" bash scenarios.sh | tee "$job/output.txt" || status=$?
where="in the virtual machine with 32-bit Wine"
found=0
while read -r _ name result; do
  echo "test: 32-bit installer $where: scenario ${name%:} ${result}"
  found=1
done < <(grep '^scenario: [a-z]*: ' "$job/output.txt" || true)
if [ $found = 0 ]; then
  echo "test: 32-bit installer $where: no scenario ran (exit code $status)"
  status=1
fi
echo "test: 32-bit installer $where: $((SECONDS - started)) s, guest included; logs in $job/results"
exit $status
