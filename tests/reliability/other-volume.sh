#!/usr/bin/env bash
# Runs a test with a volume of its own, so that the installer's temporary
# folder can lie on another volume than its installation, and a full one.
#
#   other-volume.sh [--small] <size> command...
#
# The volume is a tmpfs of that size (for example 4m), mounted in a private
# mount namespace: it is seen by the command and its children only, and
# goes with them. Its Linux folder is in QV_OTHER_VOLUME (the test maps a
# drive letter to it). Where this machine lets no mount namespace be made
# (neither root nor user namespaces), the command runs with QV_OTHER_VOLUME
# naming a folder below /dev/shm when that is another file system than the
# build tree's (another volume, but no small one), else exits 77: CTest
# shows the test as skipped, and says so. With --small a test that needs
# the volume's size (a full volume) is skipped there too.
set -euo pipefail
small=0
if [ "${1:-}" = --small ]; then small=1; shift; fi
size=$1
shift
folder=$(mktemp -d "${TMPDIR:-/tmp}/qv-volume.XXXXXX")
trap 'rm -rf "$folder"' EXIT
export QV_OTHER_VOLUME=$folder

if unshare -m --propagation private sh -c 'mount -t tmpfs -o size=4k tmpfs "$0" && umount "$0"' "$folder" \
     2>/dev/null; then
  status=0
  unshare -m --propagation private sh -c 'mount -t tmpfs -o size="$0" tmpfs "$QV_OTHER_VOLUME" && exec "$@"' \
    "$size" "$@" || status=$?
  exit $status
fi
if [ $small = 0 ] && [ -d /dev/shm ] && [ "$(stat -f -c %i /dev/shm)" != "$(stat -f -c %i "$PWD")" ]; then
  rm -rf "$folder"
  folder=$(mktemp -d /dev/shm/qv-volume.XXXXXX)
  export QV_OTHER_VOLUME=$folder
  status=0
  "$@" || status=$?
  exit $status
fi
echo "other-volume: this machine lets no volume of its own be made (no mount namespace) for this test: skipped" >&2
exit 77
