#!/usr/bin/env bash
# Runs a Windows executable under Wine in a prefix that belongs to the build
# tree, never the user's own ~/.wine.  CMake uses it as the cross-compiling
# emulator, so CTest and build-time tools both come through here.
#
#   QV_WINE_PREFIX=shared  (default) one long-lived prefix per build tree, for
#                          tools and tests that leave the machine as it was;
#   QV_WINE_PREFIX=fresh   a private copy of the pristine prefix, deleted
#                          afterwards (QV_KEEP_PREFIX=1 keeps it), for tests
#                          that change the registry or the program folders;
#   QV_WINE_PREFIX=<path>  a prefix kept from an earlier fresh run, to go on
#                          where it ended; waits until every process of the
#                          prefix has ended.
#
# QV_WINE_DPI=<dpi> gives a fresh prefix that screen resolution (96 is 100 %,
# 144 is 150 %, 192 is 200 %) and a virtual desktop grown in proportion.
#
# The pristine prefix is made once per build tree (wineboot, a virtual desktop,
# Wine's Tahoma and Marlett fonts, real Desktop and Documents folders).
set -euo pipefail

exe=$1
[ -e "$exe" ] || { echo "wine-run: no such file: $exe" >&2; exit 127; }

# Wine's loader for the executable's processor, read from its PE header.
# Debian's `wine` picks the 32-bit loader whenever it is installed, which on
# a machine that runs no 32-bit Linux program cannot start at all: 64-bit
# executables go to the 64-bit loader directly, named in WINELOADER as well
# so that Wine's own processes use it too.
pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] && od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
case "$(pe_machine "$exe")" in
  8664) wine=/usr/lib/wine/wine64; export WINELOADER=$wine ;;
  *) wine=wine ;;
esac

# The build tree is the nearest ancestor of the executable with a CMake cache.
root=$(cd "$(dirname "$exe")" && pwd)
while [ "$root" != / ] && [ ! -f "$root/CMakeCache.txt" ]; do root=$(dirname "$root"); done
[ -f "$root/CMakeCache.txt" ] || root=$(cd "$(dirname "$exe")" && pwd)
winedir=$root/wine
mkdir -p "$winedir/home"

export HOME=$winedir/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export WINEDEBUG=${QV_WINEDEBUG:--all}
# Mono and Gecko are not needed and would ask to be installed; menu files
# for shortcuts would otherwise land in the Linux home folder.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
# Without a UTF-8 locale Wine cannot handle non-ASCII file names.
case "${LANG:-}" in *UTF-8*|*utf8*) ;; *) export LANG=C.UTF-8 ;; esac
unset LC_ALL

make_pristine() {
  local p=$winedir/pristine.new
  rm -rf "$p"
  WINEPREFIX=$p "$wine" wineboot -i >/dev/null 2>&1
  WINEPREFIX=$p "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  WINEPREFIX=$p "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  WINEPREFIX=$p wineserver -w
  # Without Tahoma "MS Shell Dlg" falls back to another font, and without
  # Marlett the caption buttons show as letters (fonts-wine, scripts/setup.sh).
  cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf \
     /usr/share/wine/fonts/marlett.ttf "$p/drive_c/windows/Fonts/" ||
    { echo "wine-run: Wine's fonts are missing; run scripts/setup.sh" >&2; exit 1; }
  # The user's shell folders are links into the Linux home folder: make them
  # real folders so that tests never write outside the prefix.
  local users=$p/drive_c/users
  for d in "$users"/*/; do
    for link in "$d"*; do
      if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
    done
  done
  mv "$p" "$winedir/pristine"
}

(
  flock 9
  [ -d "$winedir/pristine" ] || make_pristine
) 9>"$winedir/.lock"

status=0
case "${QV_WINE_PREFIX:-shared}" in
  fresh)
    mkdir -p "$winedir/runs"
    prefix=$(mktemp -d "$winedir/runs/XXXXXX")
    cp -a "$winedir/pristine/." "$prefix/"
    if [ -n "${QV_WINE_DPI:-}" ]; then
      # Wine takes the screen's DPI from here when a process starts.
      WINEPREFIX=$prefix "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
        /d "$QV_WINE_DPI" /f >/dev/null 2>&1
      WINEPREFIX=$prefix "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
        /d "$((1024 * QV_WINE_DPI / 96))x$((768 * QV_WINE_DPI / 96))" /f >/dev/null 2>&1
    fi
    WINEPREFIX=$prefix "$wine" "$@" || status=$?
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    if [ "${QV_KEEP_PREFIX:-0}" = 1 ]; then
      echo "wine-run: prefix kept at $prefix" >&2
    else
      rm -rf "$prefix"
    fi
    ;;
  shared)
    (
      flock 9
      [ -d "$winedir/shared" ] || cp -a "$winedir/pristine" "$winedir/shared"
    ) 9>"$winedir/.lock"
    export WINEPREFIX=$winedir/shared
    # A persistent server makes each later start take milliseconds.
    wineserver -p 60 2>/dev/null || true
    "$wine" "$@" || status=$?
    ;;
  /*)
    [ -f "$QV_WINE_PREFIX/system.reg" ] || { echo "wine-run: no Wine prefix at $QV_WINE_PREFIX" >&2; exit 2; }
    WINEPREFIX=$QV_WINE_PREFIX "$wine" "$@" || status=$?
    WINEPREFIX=$QV_WINE_PREFIX wineserver -w 2>/dev/null || true
    ;;
  *) echo "wine-run: unknown QV_WINE_PREFIX=$QV_WINE_PREFIX" >&2; exit 2 ;;
esac
exit $status
