#!/usr/bin/env bash
# Can this machine run 32-bit Windows programs under Wine? Starts one (a
# program of one line, built here with the 32-bit cross compiler) in a
# throwaway Wine prefix and reads what it prints: nothing is concluded from
# the kernel's name or from a file. Some kernels run no 32-bit Linux program
# at all, Wine's 32-bit loader included.
#
# Prints "yes" or "no", a blank and the reason, on one line; exits 0 either way.
# QV_NO_32BIT=1 forces "no", to try on any machine what one that cannot
# run 32-bit programs does.
set -euo pipefail

if [ "${QV_NO_32BIT:-0}" = 1 ]; then
  echo "no QV_NO_32BIT=1 is set"
  exit 0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-probe32.XXXXXX")
trap 'WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
printf '#include <stdio.h>\nint main(void) { printf("%%u-bit program running\\n", (unsigned)(sizeof(void *) * 8)); return 0; }\n' \
  >"$work/probe.c"
if ! i686-w64-mingw32-gcc -O -o "$work/probe.exe" "$work/probe.c" 2>"$work/cc.log"; then
  echo "no the 32-bit cross compiler could not build the probe: $(head -n1 "$work/cc.log")"
  exit 0
fi

mkdir -p "$work/home"
output=$(HOME=$work/home WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d" \
         LANG=C.UTF-8 timeout 180 wine "$work/probe.exe" 2>"$work/wine.log") || true
if grep -q '^32-bit program running' <<<"$output"; then
  echo "yes a 32-bit Windows program ran under Wine"
else
  reason=$(grep -v '^\s*$' "$work/wine.log" | tail -n1)
  echo "no a 32-bit Windows program did not start under Wine (${reason:-it printed nothing})"
fi
