#!/usr/bin/env bash
# Fetches Debian's source packages of bzip2 and Boost 1.81 into a cache outside
# the build tree and unpacks them there; a second call does nothing.
# Prints the cache folder.
set -euo pipefail
cache=${QV_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvex-deps}
mkdir -p "$cache"
cd "$cache"

unpack() { # package, folder, tarball glob
  local pkg=$1 dir=$2 tarball=$3
  if [ -d "$dir" ]; then return; fi
  if ! compgen -G "$tarball" >/dev/null; then
    apt-get source --download-only -qq "$pkg" >/dev/null 2>&1 || {
      echo "fetch-sources: apt-get source $pkg failed (is deb-src enabled? run scripts/setup.sh)" >&2
      exit 1
    }
  fi
  local t
  t=$(compgen -G "$tarball" | head -n1)
  # Unpack beside the final name and rename, so an interrupted unpack is
  # never taken for a complete one.
  rm -rf "$dir.tmp" && mkdir "$dir.tmp"
  tar -xf "$t" -C "$dir.tmp"
  mv "$dir.tmp"/* "$dir" && rmdir "$dir.tmp"
}

unpack bzip2 'bzip2-1.0.8' 'bzip2_1.0.8.orig.tar.*'
unpack boost1.81 'boost-1.81.0' 'boost1.81_1.81.0.orig.tar.*'
echo "$cache"
