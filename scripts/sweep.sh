#!/usr/bin/env bash
# Kills and starves the shipped installer at every point of its run, then
# checks that its next start repairs the machine. Not part of the test run:
# a full sweep takes long (see README, "Interrupted installations").
#
#   scripts/sweep.sh [options] [build folder, default build-x64]
#
#   --sweep kill|write|both         default both
#   --situation fresh|update|both   default both
#   --writes ends|first|all         which file writes the disk-full sweep
#                                   fails (default first, see below)
#   --from N, --to N                only these points of each sweep (the
#                                   Nth fsync; the Nth write chosen), to
#                                   run one point again
#   --timeout SECONDS               for every Wine run (default 240)
#   --keep                          keep the prefix of every point that ended
#                                   in neither state (else only its diff)
#   --out FOLDER                    default <build>/sweep
#
# Every point runs the installer as `/VERYSILENT /LOG=C:\sweep-run.log` in a
# copy of the situation's machine:
#   fresh   the pristine prefix;
#   update  the pristine prefix with this build installed silently, then made
#           the earlier version 6.03 as the interrupted_* tests make it: its
#           program replaced by the probe of version 6.3.0.0 (read-only, as
#           installed), the shared word list Words_en.qwl deleted so that the
#           update writes one.
#
# kill: strace -f sends SIGKILL at the Nth fsync(2) (FlushFileBuffers under
#   Wine; each tracee counts its own calls, and only the installer's main
#   thread flushes), N = 1, 2, ... until a run ends without being killed.
#   Not with --seccomp-bpf: strace 6.1 then traces the calls under Wine but
#   injects nothing.
# write: the installer's main thread alone is traced (its children and other
#   threads write to Wine's server through write(2) too, and would count
#   their own calls) and one write(2) to a file below drive_c fails with
#   ENOSPC; "first" fails the first write of each file and every write of the
#   run's journal (each is one record), "all" every file write, "ends" as
#   "first" but, of the files written into one folder (the same steps for
#   each), only the first and the last one with the journal records that
#   announce them (and every record after the last file). The log
#   file's writes (pwrite64) are left alone. Which call is which comes from a
#   calibration run; a point whose call landed elsewhere is tried again with
#   the count corrected (sweep-writes.py).
#
# After each point the installer is started again without a display, with
# /LOG=C:\sweep-recovery.log: its start-up recovers the run, detects the
# machine, then cannot open the wizard's window and ends with 1602, having
# installed nothing. The machine (sweep-state.py: files below drive_c, the
# product's registry keys in both views) is then compared with its state
# before the run, or with a complete installation when the recovery log
# says it completed the run or the run itself ended installed (0, or 1627:
# a step after the copying failed, nothing rolled back). Leftovers in
# the temporary folders are reported apart.
#
# Output: one line per point and the totals, on the screen and in
# <out>/summary.txt; for a point in neither state, <out>/<sweep>-<situation>-<N>/
# with its diffs against both states, the run's trace and both logs.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
sweeps=(kill write)
situations=(fresh update)
writes=first
from=1
to=999999
timeout_s=240
keep=0
out=
build=

while [ $# -gt 0 ]; do
  case "$1" in
    --sweep) case "$2" in both) sweeps=(kill write) ;; kill|write) sweeps=("$2") ;; *) echo "sweep: --sweep kill|write|both" >&2; exit 2 ;; esac; shift 2 ;;
    --situation) case "$2" in both) situations=(fresh update) ;; fresh|update) situations=("$2") ;; *) echo "sweep: --situation fresh|update|both" >&2; exit 2 ;; esac; shift 2 ;;
    --writes) case "$2" in ends|first|all) writes=$2 ;; *) echo "sweep: --writes ends|first|all" >&2; exit 2 ;; esac; shift 2 ;;
    --from) from=$2; shift 2 ;;
    --to) to=$2; shift 2 ;;
    --timeout) timeout_s=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --out) out=$2; shift 2 ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d'; exit 0 ;;
    -*) echo "sweep: unknown option $1" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done

build=$(cd "${build:-$here/build-x64}" && pwd) || exit 2
installer=$build/installer/InstallQuorvex6.04.exe
[ -f "$installer" ] || { echo "sweep: no installer at $installer; build it first" >&2; exit 2; }
command -v strace >/dev/null || { echo "sweep: strace is missing; run scripts/setup.sh" >&2; exit 2; }
out=${out:-$build/sweep}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$out/prefixes
summary=$out/summary.txt

# The environment and loader of scripts/wine-run.sh, which also makes the
# pristine prefix ($build/wine/pristine) the first time.
pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}
case "$(pe_machine "$installer")" in
  8664) wine=/usr/lib/wine/wine64; export WINELOADER=$wine ;;
  *) wine=wine ;;
esac
export HOME=$build/wine/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export WINEDEBUG=${QV_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
case "${LANG:-}" in *UTF-8*|*utf8*) ;; *) export LANG=C.UTF-8 ;; esac
unset LC_ALL

say() { echo "$*" | tee -a "$summary"; }

# ---------------------------------------------------------------- prefixes

# A copy of a prefix. Wine's own folder is hard-linked (hundreds of MB that
# no run writes; checked after every point, see base_untouched), all else
# is copied.
copy_prefix() {
  local from=$1 to=$2 entry
  rm -rf "$to"
  mkdir -p "$to/drive_c"
  for entry in "$from"/* "$from"/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    [ "$(basename "$entry")" = drive_c ] && continue
    cp -a "$entry" "$to/"
  done
  for entry in "$from"/drive_c/*; do
    if [ "$(basename "$entry")" = windows ]; then
      cp -al "$entry" "$to/drive_c/windows"
      rm -rf "$to/drive_c/windows/temp"
      [ -d "$entry/temp" ] && cp -a "$entry/temp" "$to/drive_c/windows/temp"
    else
      cp -a "$entry" "$to/drive_c/"
    fi
  done
}

# A prefix's server, started persistent before anything is traced (strace
# never traces it), with Wine's services already running, so that the
# traced process starts none of them and strace -f follows only the
# installer and the programs it starts.
server_start() {
  WINEPREFIX=$1 wineserver -p >/dev/null 2>&1
  WINEPREFIX=$1 timeout "$timeout_s" "$wine" cmd.exe /c exit >/dev/null 2>&1
}

# Ends every process of the prefix and the server, which saves the registry.
server_stop() {
  WINEPREFIX=$1 wineserver -k 2>/dev/null
  WINEPREFIX=$1 timeout "$timeout_s" wineserver -w 2>/dev/null
  true
}

# Waits until no program of the product runs in the prefix (a registration
# run that outlived a killed installer, as on Windows).
wait_for_product() {
  local prefix=$1 rounds=$((timeout_s * 5)) pid busy
  while [ $rounds -gt 0 ]; do
    busy=
    for pid in $(pgrep -f -i 'trimora\.exe|uninstall\.exe|installquorvex' 2>/dev/null); do
      if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then busy=$pid; fi
    done
    [ -z "$busy" ] && return 0
    sleep 0.2
    rounds=$((rounds - 1))
  done
  echo "sweep: a program of the product still runs in $prefix" >&2
  return 1
}

# A state with each permission mode reduced to the read-only attribute.
# Wine 8 keeps a file's DACL as its Unix mode and does not map a DACL it
# made up from a mode back to that mode: reading a file's DACL and writing
# it back unchanged (GetKernelObjectSecurity, SetKernelObjectSecurity)
# turns 644 into 775. A restored file differs from its earlier self in
# nothing else then.
modes_as_read_only() {
  awk '{ if (match($0, / mode [0-7]+$/)) { m = substr($0, RSTART + 6); o = substr(m, length(m) - 2, 1)
         $0 = substr($0, 1, RSTART - 1) ((o ~ /[2367]/) ? " writable" : " read-only") } print }' "$1"
}

state() { # prefix name -> $name.state, $name.temp
  python3 "$here/scripts/sweep-state.py" "$1" "$2.state" "$2.temp" \
    --ignore sweep-run.log --ignore sweep-recovery.log
}

# Files of Wine's own folder that a run changed in place would change the
# situation's base too (they are hard links): the sweep stops then.
base_untouched() {
  local changed
  changed=$(find "$1/drive_c/windows" -path "$1/drive_c/windows/temp" -prune -o -newer "$1/.sweep-made" -type f -print -quit)
  [ -z "$changed" ] && return 0
  echo "sweep: a run changed $changed in place, a file of Wine's own folder shared with the base; stopping" >&2
  return 1
}

# The situation's base prefix and its two states: before (the machine as
# the sweep's runs find it) and complete (after an installation that ran to
# its end, traced as the sweeps trace, which is also the calibration).
prepare_situation() {
  local situation=$1 base=$work/$situation/base
  rm -rf "$work/$situation"
  mkdir -p "$work/$situation"
  QV_WINE_PREFIX=fresh timeout "$timeout_s" "$here/scripts/wine-run.sh" "$installer" /VERYSILENT /HELP >/dev/null 2>&1
  [ -d "$build/wine/pristine" ] || { echo "sweep: no pristine prefix in $build/wine" >&2; return 1; }
  copy_prefix "$build/wine/pristine" "$base"
  if [ "$situation" = update ]; then
    local probe program words rc=0
    probe=$(find "$build/tests" -name 'probe-6.3.0.0.exe' -print -quit 2>/dev/null)
    if [ -z "$probe" ]; then
      cmake --build "$build" --target qv_probe_6.3.0.0 >/dev/null || return 1
      probe=$(find "$build/tests" -name 'probe-6.3.0.0.exe' -print -quit)
    fi
    server_start "$base"
    WINEPREFIX=$base timeout "$timeout_s" "$wine" "$installer" /VERYSILENT '/LOG=C:\sweep-base.log' >/dev/null 2>&1 || rc=$?
    wait_for_product "$base"
    server_stop "$base"
    [ $rc = 0 ] || { echo "sweep: the installation of the earlier version ended with $rc" >&2; return 1; }
    program="$base/drive_c/Program Files/Orvane Systems/Trimora 6/Trimora.exe"
    words="$base/drive_c/ProgramData/Orvane Systems/Quorvex/Words_en.qwl"
    [ -f "$program" ] && [ -f "$words" ] || { echo "sweep: the earlier installation lacks its program or word list" >&2; return 1; }
    chmod u+w "$program" && cp "$probe" "$program" && chmod a-w "$program" && rm -f "$words" || return 1
  fi
  touch "$base/.sweep-made"
  state "$base" "$work/$situation/before" || return 1

  # Calibration: one complete run, traced as each sweep traces it.
  local cal=$work/$situation/calibration rc=0
  copy_prefix "$base" "$cal"
  server_start "$cal"
  WINEPREFIX=$cal timeout "$timeout_s" strace -f -qq -y -o "$work/$situation/calibration-fsync.trace" \
    -e trace=fsync,fdatasync,sync_file_range,syncfs "$wine" "$installer" /VERYSILENT '/LOG=C:\sweep-run.log' \
    >/dev/null 2>&1 || rc=$?
  wait_for_product "$cal"
  server_stop "$cal"
  [ $rc = 0 ] || { echo "sweep: the calibration run ended with $rc" >&2; return 1; }
  state "$cal" "$work/$situation/complete" || return 1
  rm -rf "$cal"
  copy_prefix "$base" "$cal"
  server_start "$cal"
  rc=0
  WINEPREFIX=$cal timeout "$timeout_s" strace -qq -y -s 0 -o "$work/$situation/calibration-write.trace" \
    -e trace=write "$wine" "$installer" /VERYSILENT '/LOG=C:\sweep-run.log' >/dev/null 2>&1 || rc=$?
  wait_for_product "$cal"
  server_stop "$cal"
  [ $rc = 0 ] || { echo "sweep: the write calibration run ended with $rc" >&2; return 1; }
  state "$cal" "$work/$situation/complete-write" || return 1
  if ! diff -q "$work/$situation/complete.state" "$work/$situation/complete-write.state" >/dev/null; then
    echo "sweep: two complete installations differ; the comparison would mean nothing:" >&2
    diff -u "$work/$situation/complete.state" "$work/$situation/complete-write.state" >&2
    return 1
  fi
  rm -rf "$cal"

  local threads
  threads=$(awk '/fsync\(|fdatasync\(|sync_file_range\(|syncfs\(/ {print $1}' "$work/$situation/calibration-fsync.trace" | sort | uniq -c |
    awk '{printf "%s%s calls in %s", sep, $1, $2; sep="; "}')
  say "$situation: calibration: flushes: $threads (by thread id); file writes of the main thread: $(python3 "$here/scripts/sweep-writes.py" targets "$work/$situation/calibration-write.trace" all | wc -l)"
}

# ---------------------------------------------------------------- one point

# Starts the installer again as an administrator would, so that its
# start-up recovers what the run left; without a display its wizard cannot
# open, and it ends with 1602 having installed nothing.
start_again() {
  local prefix=$1 rc=0
  env -u DISPLAY WINEPREFIX="$prefix" timeout "$timeout_s" "$wine" "$installer" '/LOG=C:\sweep-recovery.log' \
    >/dev/null 2>&1 || rc=$?
  wait_for_product "$prefix"
  echo $rc
}

# Compares the point's machine with both states; prints one summary line and
# adds it to the totals (not for the kill sweep's last run, which ran to its
# end: it is checked all the same). Arguments: sweep situation N prefix
# what-happened run-exit-code counted(1|0)
judge() {
  local sweep=$1 situation=$2 n=$3 prefix=$4 what=$5 runrc=$6 counted=$7
  local dir=$work/$situation/point rec=$4/drive_c/sweep-recovery.log
  local recovery=none expected=before result leftovers note=
  if [ -f "$rec" ]; then
    if grep -q 'Recovery: the run had made every change' "$rec"; then recovery=completed; expected=complete
    elif grep -q 'Recovery: rolling the run back' "$rec"; then recovery=rolled-back
    elif grep -q 'Recovery:' "$rec"; then recovery=other
    fi
    grep -q 'Recovery: stopped by an unexpected failure' "$rec" && recovery="$recovery,stopped"
    grep -q 'Exit code: 1602' "$rec" || note="$note; the start again did not end with 1602"
    grep -q 'Installation into' "$rec" && note="$note; the start again installed"
  else
    note="$note; the start again wrote no log"
  fi
  # 0: installed; 1627 (91 to the shell): installed, a step after the
  # copying failed and nothing rolled back.
  case "$runrc" in 0|91) [ "$recovery" = none ] && expected=complete ;; esac
  state "$prefix" "$dir"
  if cmp -s "$dir.state" "$work/$situation/before.state"; then result=before
  elif cmp -s "$dir.state" "$work/$situation/complete.state"; then result=complete
  else result=neither
  fi
  [ "$result" != neither ] && [ "$result" != "$expected" ] && note="$note; expected $expected"
  if [ "$result" = neither ] && cmp -s <(modes_as_read_only "$dir.state") \
       <(modes_as_read_only "$work/$situation/$expected.state"); then
    note="$note; differs from the $expected state in permission modes alone (a DACL written back, see modes_as_read_only)"
    eval "modes_${sweep}_${situation}+=\" $n\""
  fi
  leftovers=$(diff "$work/$situation/before.temp" "$dir.temp" | grep -c '^>')
  if [ "$counted" = 1 ]; then
    eval "count_${sweep}_${situation}_points=\$((count_${sweep}_${situation}_points + 1))"
    eval "count_${sweep}_${situation}_${result}=\$((count_${sweep}_${situation}_${result} + 1))"
  fi
  say "$sweep $situation N=$n: $what; exit $runrc; recovery: $recovery; state: $result; temp leftovers: $leftovers$note"
  mkdir -p "$out/logs"
  cp "$prefix/drive_c/sweep-run.log" "$out/logs/$sweep-$situation-$n.run.log" 2>/dev/null
  cp "$rec" "$out/logs/$sweep-$situation-$n.recovery.log" 2>/dev/null
  if [ "$result" = neither ]; then
    local keepdir=$out/$sweep-$situation-$n
    rm -rf "$keepdir"
    mkdir -p "$keepdir"
    diff -u "$work/$situation/before.state" "$dir.state" >"$keepdir/diff-against-before.txt"
    diff -u "$work/$situation/complete.state" "$dir.state" >"$keepdir/diff-against-complete.txt"
    diff "$work/$situation/before.temp" "$dir.temp" >"$keepdir/temp-leftovers.txt"
    cp "$prefix/drive_c/sweep-run.log" "$keepdir/run.log" 2>/dev/null
    cp "$rec" "$keepdir/recovery.log" 2>/dev/null
    cp "$work/$situation/point.trace" "$keepdir/run.trace" 2>/dev/null
    eval "neither_${sweep}_${situation}+=\" $n\""
    if [ $keep = 1 ]; then mv "$prefix" "$keepdir/prefix"; fi
  elif [ "$leftovers" -gt 0 ]; then
    mkdir -p "$out/temp-leftovers"
    diff "$work/$situation/before.temp" "$dir.temp" >"$out/temp-leftovers/$sweep-$situation-$n.txt"
  fi
}

# The traced run; prints its exit status. Arguments: prefix trace strace-args...
traced_run() {
  local prefix=$1 trace=$2 rc=0
  shift 2
  server_start "$prefix"
  WINEPREFIX=$prefix timeout "$timeout_s" strace -q -y -s 0 -o "$trace" "$@" \
    "$wine" "$installer" /VERYSILENT '/LOG=C:\sweep-run.log' >/dev/null 2>&1 || rc=$?
  wait_for_product "$prefix"
  echo $rc
}

kill_sweep() {
  local situation=$1 base=$work/$situation/base prefix=$work/$situation/run
  local n=$from trace=$work/$situation/point.trace rc what counted
  while [ $n -le $to ]; do
    copy_prefix "$base" "$prefix"
    rc=$(traced_run "$prefix" "$trace" -f -e trace=fsync \
      -e inject=fsync:signal=SIGKILL:when=$n)
    if grep -q 'killed by SIGKILL' "$trace"; then
      what="killed at fsync $n ($(grep 'fsync(' "$trace" | tail -n1 | sed -E 's/^[0-9]+ +//; s/^fsync\([0-9]+<([^>]*)>.*/\1/; s|.*/drive_c/|C:/|; s/~qv[0-9a-fA-F]+/~qv*/; s/orvane_\{[^}]*\}/orvane_{*}/'))"
    elif [ "$rc" = 124 ]; then
      what="timed out"
    else
      what="ran to its end (no fsync $n)"
    fi
    start_again "$prefix" >/dev/null
    server_stop "$prefix"
    case "$what" in "ran to its end"*) counted=0 ;; *) counted=1 ;; esac
    judge kill "$situation" "$n" "$prefix" "$what" "$rc" $counted
    base_untouched "$base" || return 1
    rm -rf "$prefix"
    case "$what" in "ran to its end"*) break ;; esac
    n=$((n + 1))
  done
}

write_sweep() {
  local situation=$1 base=$work/$situation/base prefix=$work/$situation/run
  local cal=$work/$situation/calibration-write.trace trace=$work/$situation/point.trace
  local shift_by=0 ordinal count file k verdict tries rc what index=0 counted
  while read -r ordinal count file; do
    index=$((index + 1))
    [ $index -lt $from ] && continue
    [ $index -gt $to ] && break
    k=$((count + shift_by))
    tries=0
    while :; do
      copy_prefix "$base" "$prefix"
      rc=$(traced_run "$prefix" "$trace" -e trace=write -e inject=write:error=ENOSPC:when=$k)
      verdict=$(python3 "$here/scripts/sweep-writes.py" check "$trace" "$ordinal" "$k" "$cal")
      case "$verdict" in
        retry*)
          tries=$((tries + 1))
          if [ $tries -le 8 ]; then
            server_stop "$prefix"
            k=${verdict#retry }
            continue
          fi ;;
      esac
      break
    done
    case "$verdict" in
      hit*) shift_by=$((k - count)); what="write $ordinal failed (${verdict#hit }, call $k)"; counted=1 ;;
      *) what="write $ordinal not failed as planned: $verdict"; counted=0
         eval "missed_write_${situation}+=\" $index\"" ;;
    esac
    [ "$rc" = 124 ] && what="$what; timed out"
    start_again "$prefix" >/dev/null
    server_stop "$prefix"
    judge write "$situation" "$index" "$prefix" "$what" "$rc" $counted
    base_untouched "$base" || return 1
    rm -rf "$prefix"
  done < <(python3 "$here/scripts/sweep-writes.py" targets "$cal" "$writes")
}

# ---------------------------------------------------------------- main

cleanup() {
  local p
  for p in "$work"/*/run "$work"/*/calibration "$work"/*/base; do
    [ -d "$p" ] && WINEPREFIX=$p wineserver -k 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

: >"$summary"
started=$(date +%s)
say "sweep of $installer; sweeps: ${sweeps[*]}; situations: ${situations[*]}; writes: $writes; $(strace -V | head -n1); $("$wine" --version)"
for situation in "${situations[@]}"; do
  t0=$(date +%s)
  prepare_situation "$situation" || { echo "sweep: could not prepare the $situation machine" >&2; exit 1; }
  for sweep in "${sweeps[@]}"; do
    eval "count_${sweep}_${situation}_points=0 count_${sweep}_${situation}_before=0"
    eval "count_${sweep}_${situation}_complete=0 count_${sweep}_${situation}_neither=0 neither_${sweep}_${situation}="
    eval "missed_${sweep}_${situation}= modes_${sweep}_${situation}="
    t1=$(date +%s)
    "${sweep}_sweep" "$situation" || exit 1
    say "$sweep $situation: $(($(date +%s) - t1)) s"
  done
  rm -rf "$work/$situation"
  say "$situation: $(($(date +%s) - t0)) s in all"
done

say "totals ($(($(date +%s) - started)) s):"
for situation in "${situations[@]}"; do
  for sweep in "${sweeps[@]}"; do
    eval "say \"  $sweep $situation: \$count_${sweep}_${situation}_points points, \$count_${sweep}_${situation}_before as before, \$count_${sweep}_${situation}_complete as a complete installation, \$count_${sweep}_${situation}_neither in neither\${neither_${sweep}_${situation}:+ (N=\$neither_${sweep}_${situation})}\${modes_${sweep}_${situation}:+; in permission modes alone: N=\$modes_${sweep}_${situation}}\${missed_${sweep}_${situation}:+; not failed as planned, not counted: N=\$missed_${sweep}_${situation}}\""
  done
done
