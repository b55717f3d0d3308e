#!/usr/bin/env bash
# A small virtual machine with 32-bit Wine, for machines whose kernel runs no
# 32-bit program (scripts/probe-32bit.sh says "no"): there the shipped 32-bit
# installer can still be started, in a Debian 12 guest under qemu's software
# emulation, whose own kernel runs 32-bit programs. docs/vm32.md tells more.
#
# Usage:
#   scripts/vm32.sh build
#       builds the guest into the cache unless it is there already, and
#       prints the cache folder.
#   scripts/vm32.sh run FOLDER COMMAND [ARGUMENT...]
#       boots the guest (building it first if needed), runs COMMAND in it
#       and powers it off. FOLDER is the guest's /job, read and written in
#       place: what goes in and what comes back. COMMAND starts in /job; a
#       Windows program (.exe, .bat, .cmd, .msi) runs under `wine`, anything
#       else is a command of the guest's Linux (`sh job.sh`), which finds
#       `wine` on its PATH. What it prints comes out here as it prints it,
#       and its exit code is this script's (a Windows program's as the Linux
#       side sees it: the low 8 bits).
#
#   In the guest: WINEPREFIX is a 64-bit prefix made when the guest was
#   built, the same in every run (each boot starts from the cached disk
#   image and throws its changes away); DISPLAY is unset (no X server);
#   WINEDEBUG=-all; no network. /job/.. is not the host's.
#
# Environment:
#   QV_VM32_CACHE    the cache folder (default ~/.cache/quorvex-vm32); a
#                    guest is rebuilt when its recipe below changes
#   QV_VM32_TIMEOUT  seconds a run may take before the guest is stopped
#                    (default 1800); the run then ends with 124
#   QV_VM32_MEMORY   the guest's memory in MiB (default 2048)
#
# Exit codes: COMMAND's; 124 the run timed out; 125 the guest could not be
# built or booted, or ended without COMMAND's exit code.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${QV_VM32_CACHE:-$HOME/.cache/quorvex-vm32}
timeout_s=${QV_VM32_TIMEOUT:-1800}
memory=${QV_VM32_MEMORY:-2048}

say() { echo "vm32: $*" >&2; }
fail() { say "$*"; exit 125; }

# --- The recipe: everything the guest is made of. Its hash names the cached
# guest, so that changing any of it builds a new one.
recipe_version=2
suite=bookworm
base_packages=systemd-sysv,udev,kmod,e2fsprogs
# Debian's kernel runs 32-bit programs (IA32 emulation is on).
guest_packages=(linux-image-amd64 initramfs-tools wine wine32:i386 wine64)
image_size=6G
prefix=/opt/qv-vm32/prefix

# PID 1 of the guest, kept in its image: mounts the host's shared folder ctl
# and runs the session the host put there (below), then powers off whatever
# happened.
read -r -d '' guest_init <<'EOF' || true
#!/bin/sh
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH
# The initrd hands over /dev, /proc and /sys already mounted.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
modprobe -a 9p 9pnet_virtio
mkdir -p /ctl
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 ctl /ctl; then
  /bin/sh /ctl/session
  umount /ctl
fi
sync
poweroff -f -f 2>/dev/null || echo o >/proc/sysrq-trigger
sleep 60
EOF

# The session, written into ctl for each boot (not part of the image): the
# rest of what Wine needs, the shared folder job, the environment; runs
# /ctl/command (a line of bash: its arguments are quoted with printf %q) in
# /job with its output to /ctl/output and leaves its exit code in
# /ctl/status.
read -r -d '' guest_session <<EOF || true
mkdir -p /dev/pts /dev/shm /job
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
# Process substitution and /dev/std* (udev would make these links).
ln -sf /proc/self/fd /dev/fd
ln -sf /proc/self/fd/0 /dev/stdin
ln -sf /proc/self/fd/1 /dev/stdout
ln -sf /proc/self/fd/2 /dev/stderr
modprobe virtio_rng 2>/dev/null
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,access=any job /job
hostname vm32
export HOME=/root LANG=C.UTF-8 WINEDEBUG=-all WINEPREFIX=$prefix
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
unset DISPLAY
cd /job && /bin/bash /ctl/command >/ctl/output 2>&1 </dev/null
echo \$? >/ctl/status
cd /
umount /job
EOF

# The job of the guest's first boot: the Wine prefix every run starts from,
# made as scripts/wine-run.sh makes its pristine one (no fonts: no display
# here), and a 32-bit program started in it as the proof that the guest is
# what it is for.
read -r -d '' make_prefix <<'EOF' || true
rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
start=$(date +%s)
# Under emulation the prefix's first boot can outlast the 5 minutes the
# starting process waits for it ("boot event wait timed out"): it goes on,
# and the server ends only when it has finished.
wine wineboot -i
wineserver -w
echo "prefix made in $(($(date +%s) - start)) s"
set -e
for d in "$WINEPREFIX"/drive_c/users/*/; do
  for link in "$d"*; do
    if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
  done
done
wine C:/windows/syswow64/cmd.exe /c echo 32-bit program running
wineserver -w
EOF

recipe_hash() {
  {
    echo "$recipe_version $suite $base_packages ${guest_packages[*]} $image_size $prefix"
    echo "$guest_init"
    echo "$make_prefix"
  } | sha256sum | cut -c1-16
}
guest=$cache/$(recipe_hash)

# The host's apt sources for Debian's archive: the deb822 file if there is
# one, else the one-line lists; only binary packages.
host_sources() {
  local f=/etc/apt/sources.list.d/debian.sources
  if [ -f "$f" ]; then
    sed 's/^Types:.*/Types: deb/' "$f" >"$1/etc/apt/sources.list.d/debian.sources"
    : >"$1/etc/apt/sources.list"
  elif [ -f /etc/apt/sources.list ]; then
    grep '^deb ' /etc/apt/sources.list >"$1/etc/apt/sources.list"
  fi
}
host_mirror() {
  local f=/etc/apt/sources.list.d/debian.sources uri=
  if [ -f "$f" ]; then
    uri=$(awk '/^URIs:/ {u = $2} /^Suites:/ && u != "" { for (i = 2; i <= NF; i++) if ($i == "'$suite'") { print u; exit } }' "$f")
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" && $3 == "'$suite'" { print $2; exit }' /etc/apt/sources.list)
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

# Boots the guest whose kernel and initrd are in folder on image, with the
# shared folders rundir/ctl (command, output, status) and job; the console
# goes to rundir/console.log. Extra qemu arguments follow.
boot() { # folder image rundir job [qemu argument...]
  local folder=$1 image=$2 rundir=$3 job=$4
  shift 4
  local status=0
  printf '%s\n' "$guest_session" >"$rundir/ctl/session"
  timeout "$timeout_s" qemu-system-x86_64 \
    -nodefaults -no-user-config -display none -no-reboot \
    -machine q35 -accel tcg -cpu max,-smap -smp 2 -m "$memory" \
    -kernel "$folder/vmlinuz" -initrd "$folder/initrd.img" \
    -append "root=/dev/vda rw rootfstype=ext4 console=ttyS0 quiet loglevel=3 noresume panic=1 mitigations=off init=/sbin/qv-vm32-init" \
    -drive "file=$image,format=raw,if=virtio,cache=unsafe" \
    -virtfs "local,path=$rundir/ctl,mount_tag=ctl,security_model=none,id=ctl" \
    -virtfs "local,path=$job,mount_tag=job,security_model=none,id=job" \
    -device virtio-rng-pci -nic none \
    -serial "file:$rundir/console.log" "$@" </dev/null &
  local pid=$!
  # What the command prints, as it prints it.
  tail -n +1 -F --pid=$pid "$rundir/ctl/output" 2>/dev/null &
  local tailer=$!
  wait $pid || status=$?
  sleep 0.5
  kill $tailer 2>/dev/null || true
  wait $tailer 2>/dev/null || true
  return $status
}

# Removes a folder of the cache; a build that was stopped may have left the
# chroot's mounts (the host's /dev among them) in it: those go first, and
# rm never crosses into another file system.
remove() { # folder
  local m
  for m in sys dev proc; do
    if mountpoint -q "$1/root/$m" 2>/dev/null; then umount -l "$1/root/$m"; fi
  done
  rm -rf --one-file-system "$1"
}

build() {
  [ "$(id -u)" -eq 0 ] || fail "building the guest needs root (debootstrap, chroot)"
  local started=$SECONDS work=$guest.building
  remove "$work"
  mkdir -p "$work"
  local root=$work/root
  local mirror
  mirror=$(host_mirror)
  say "building the guest in $guest (Debian $suite from $mirror; takes 6 to 12 minutes)"

  debootstrap --variant=minbase --include="$base_packages" "$suite" "$root" "$mirror" \
    >"$work/debootstrap.log" 2>&1 || { tail -n 20 "$work/debootstrap.log" >&2; fail "debootstrap failed"; }
  say "debootstrap done ($((SECONDS - started)) s)"

  # The host's apt configuration for reaching the archive, and no
  # documentation (the guest is thrown away after each run).
  host_sources "$root"
  local conf
  for conf in /etc/apt/apt.conf.d/*; do
    if grep -q '^Acquire::' "$conf" && ! grep -q 'Invoke' "$conf"; then cp "$conf" "$root/etc/apt/apt.conf.d/"; fi
  done
  cat >"$root/etc/dpkg/dpkg.cfg.d/01-qv-vm32" <<'EOF'
path-exclude=/usr/share/doc/*
path-exclude=/usr/share/man/*
path-exclude=/usr/share/info/*
path-exclude=/usr/share/locale/*
path-include=/usr/share/locale/locale.alias
EOF
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod +x "$root/usr/sbin/policy-rc.d"
  # Only the modules that boot from a virtio disk in the initrd: smaller,
  # so quicker to unpack under emulation.
  mkdir -p "$root/etc/initramfs-tools/conf.d"
  echo MODULES=list >"$root/etc/initramfs-tools/conf.d/qv-vm32"
  printf '%s\n' virtio_pci virtio_blk ext4 crc32c_generic >>"$root/etc/initramfs-tools/modules"

  trap 'remove "$work"' EXIT
  trap 'exit 125' INT TERM HUP
  mount -t proc proc "$root/proc"
  mount --bind /dev "$root/dev"
  mount -t sysfs sysfs "$root/sys"
  local status=0
  chroot "$root" /bin/sh -ec "
    dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ${guest_packages[*]}
    apt-get clean
    rm -rf /var/lib/apt/lists/*" >"$work/packages.log" 2>&1 || status=$?
  umount "$root/sys" "$root/dev" "$root/proc"
  trap - EXIT INT TERM HUP
  [ $status -eq 0 ] || { tail -n 20 "$work/packages.log" >&2; fail "installing the guest's packages failed"; }
  say "packages installed ($((SECONDS - started)) s)"

  printf '%s\n' "$guest_init" >"$root/sbin/qv-vm32-init"
  chmod 755 "$root/sbin/qv-vm32-init"
  rm -f "$root/usr/sbin/policy-rc.d"
  cp "$root"/boot/vmlinuz-* "$work/vmlinuz"
  cp "$root"/boot/initrd.img-* "$work/initrd.img"
  mkfs.ext4 -q -F -L qv-vm32 -d "$root" "$work/disk.img" "$image_size" >"$work/mkfs.log" 2>&1 ||
    { cat "$work/mkfs.log" >&2; fail "mkfs.ext4 failed"; }
  rm -rf --one-file-system "$root"

  # First boot, on the image itself: the Wine prefix.
  mkdir -p "$work/ctl" "$work/job"
  printf '%s\n' "$make_prefix" >"$work/ctl/command"
  : >"$work/ctl/output"
  boot "$work" "$work/disk.img" "$work" "$work/job" >"$work/prefix.log" 2>&1 || true
  if [ "$(cat "$work/ctl/status" 2>/dev/null)" != 0 ] || ! grep -q '^32-bit program running' "$work/ctl/output"; then
    tail -n 20 "$work/ctl/output" "$work/console.log" >&2 || true
    say "what the guest printed is in $work"
    fail "the guest's Wine prefix could not be made, or ran no 32-bit program"
  fi
  say "Wine prefix made; a 32-bit program ran in the guest ($((SECONDS - started)) s)"
  rm -rf "$work/ctl" "$work/job"

  # Only this guest stays in the cache.
  local old
  for old in "$cache"/*; do
    [ "$old" = "$work" ] || remove "$old"
  done
  mv "$work" "$guest"
  say "guest built in $((SECONDS - started)) s"
}

ensure_guest() {
  "$here/scripts/setup.sh" vm32 >/dev/null
  mkdir -p "$cache"
  exec 8>"$cache.lock"
  flock 8
  [ -f "$guest/disk.img" ] || build
  flock -u 8
}

run() { # folder command [argument...]
  local job
  job=$(cd "$1" && pwd) || fail "no such folder: $1"
  shift
  [ $# -gt 0 ] || fail "no command to run"
  ensure_guest
  local work
  work=$(mktemp -d "${TMPDIR:-/tmp}/qv-vm32.XXXXXX")
  mkdir -p "$work/ctl"
  # The command as one shell line, each argument quoted.
  local line=
  case "$1" in
    *.exe|*.EXE|*.bat|*.BAT|*.cmd|*.CMD|*.msi|*.MSI) line=wine ;;
  esac
  local a
  for a in "$@"; do line+="${line:+ }$(printf '%q' "$a")"; done
  printf '%s\n' "$line" >"$work/ctl/command"
  : >"$work/ctl/output"
  local started=$SECONDS status=0
  # -snapshot: the cached image is never written; the run's changes go.
  boot "$guest" "$guest/disk.img" "$work" "$job" -snapshot || status=$?
  if [ $status -eq 124 ]; then
    say "the run took more than $timeout_s s; the guest was stopped"
    tail -n 20 "$work/console.log" >&2 || true
    rm -rf "$work"
    exit 124
  fi
  local code
  code=$(cat "$work/ctl/status" 2>/dev/null || true)
  if [ -z "$code" ]; then
    say "the guest ended without the command's exit code (qemu: $status); its console:"
    tail -n 30 "$work/console.log" >&2 || true
    rm -rf "$work"
    exit 125
  fi
  # The command's last line may lack its line end.
  if [ -n "$(tail -c1 "$work/ctl/output")" ]; then echo; fi
  say "the guest's run took $((SECONDS - started)) s; exit code $code"
  rm -rf "$work"
  exit "$code"
}

case "${1:-}" in
  build)
    ensure_guest
    echo "$guest"
    ;;
  run)
    shift
    [ $# -ge 2 ] || fail "usage: scripts/vm32.sh run FOLDER COMMAND [ARGUMENT...]"
    run "$@"
    ;;
  *)
    echo "usage: scripts/vm32.sh build | run FOLDER COMMAND [ARGUMENT...]" >&2
    exit 2
    ;;
esac
