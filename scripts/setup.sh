#!/usr/bin/env bash
# Takes a fresh Debian 12 machine to one that can build and test the installer:
# i386 architecture and source packages enabled, the mingw-w64 toolchains of
# both editions (i686 and x86_64), Wine (32-bit and 64-bit), Xvfb, the tools
# the tests and screenshots use, and the signing tools (osslsigncode,
# openssl; SoftHSM and the PKCS#11 engine for the test of signing with a
# token), and strace for scripts/sweep.sh. Whether the machine can run
# 32-bit programs is found out later, by scripts/probe-32bit.sh.
# Idempotent: when everything is present it returns in about a second.
#
# Usage: scripts/setup.sh [vm32]
#   vm32  also what scripts/vm32.sh needs to build and boot its small
#         virtual machine with 32-bit Wine (debootstrap, qemu's x86 system
#         emulator, the ext4 tools); only machines that cannot run 32-bit
#         programs use it, so it is not installed by default.
set -euo pipefail

packages=(
  g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64-i686 cmake make
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb xauth x11-apps imagemagick
  googletest locales-all dpkg-dev icoutils fonts-wine
  osslsigncode openssl softhsm2 libengine-pkcs11-openssl python3
  python3-yaml python3-jsonschema
  strace
)
case "${1:-}" in
  '') ;;
  vm32) packages+=(debootstrap qemu-system-x86 e2fsprogs) ;;
  *) echo "setup: unknown argument: $1 (only vm32)" >&2; exit 2 ;;
esac

SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

sources=/etc/apt/sources.list.d/debian.sources
if [ -f "$sources" ] && grep -q '^Types: deb$' "$sources"; then
  $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
  need_update=1
elif [ ! -f "$sources" ] && ! grep -rqs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "setup: no deb-src entry and no $sources to enable it in" >&2
  exit 1
fi

for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
elif [ "${need_update:-0}" = 1 ]; then
  $SUDO apt-get update -qq
fi
echo "setup: build machine ready"
