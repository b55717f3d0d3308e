#!/bin/bash
# The shipped 32-bit installer's scenarios, run inside the guest of
# scripts/vm32.sh (32-bit Wine, a 64-bit prefix as on 64-bit Windows, no
# display), one after the other in the same prefix, as an administrator's
# deployment tool would run them:
#   first      a silent first installation
#   update     a silent update over an earlier version (this version
#              installed, then made 6.03 by its program and one shared data
#              file deleted, as tests/unattended does)
#   uninstall  a silent uninstallation through QuietUninstallString: nothing
#              left but the data files (shared ones, the user's word list)
#   refusal    an unknown switch in a silent run
# What each checks is what a deployment tool or a user of the machine sees:
# the exit code (read whole, through the command interpreter, since the
# Linux side sees only its low 8 bits), the files, the registry of the
# 32-bit view, the run's log.
#
# Started in the job folder, which holds InstallQuorvex6.04.exe and
# earlier-program.exe (a program whose version resource says 6.03). The
# runs' logs land in results/. Prints "scenario: <name>: passed" or
# "... failed" for each, and exits 0 only when every one passed.
set -u -o pipefail
job=$(pwd)
results=$job/results
mkdir -p "$results"
: "${WINEPREFIX:?the guest sets WINEPREFIX}"
c=$WINEPREFIX/drive_c

# Where a 32-bit program installs on 64-bit Windows, and the 32-bit view of
# the registry (as the hive file spells it).
folderWin='C:\Program Files (x86)\Orvane Systems\Trimora 6'
folder="$c/Program Files (x86)/Orvane Systems/Trimora 6"
data="$c/ProgramData/Orvane Systems/Quorvex"
key32='Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Quorvex 6'
key64='Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvex 6'
maker32='Software\Wow6432Node\Orvane Systems'
maker64='Software\Orvane Systems'
# The runs' own files, left out of the before-and-after comparison.
work="$c/qv-run"
mkdir -p "$work"
cp "$job/InstallQuorvex6.04.exe" "$work/"
installer='C:\qv-run\InstallQuorvex6.04.exe'

# --- checks ---------------------------------------------------------------
failures=0
scenario_failures=0
scenario_name=
begin() {
  scenario_name=$1
  scenario_failures=0
  echo "== $1: $2"
}
end() {
  if [ "$scenario_failures" -eq 0 ]; then
    echo "scenario: $scenario_name: passed"
  else
    echo "scenario: $scenario_name: failed ($scenario_failures checks)"
    failures=$((failures + 1))
  fi
}
ok() { echo "  ok: $1"; }
bad() {
  echo "  FAILED: $1"
  scenario_failures=$((scenario_failures + 1))
}
expect() { # description, command...
  local what=$1
  shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}
expect_eq() { # description, actual, expected
  if [ "$2" = "$3" ]; then ok "$1"; else bad "$1: got '$2', expected '$3'"; fi
}

# --- the registry, from the hive file the Wine server writes -------------
hive() { # HKLM key as written above -> the hive file's section name
  printf '%s' "$1" | sed 's/\\/\\\\/g'
}
key_exists() { # key
  grep -qiF "[$(hive "$1")]" "$WINEPREFIX/system.reg"
}
value() { # key name: the value as a program reads it (strings unquoted)
  section="[$(hive "$1")]" name="\"$2\"=" awk '
    BEGIN { want = tolower(ENVIRON["section"]); name = ENVIRON["name"] }
    /^\[/ { inside = (tolower(substr($0, 1, index($0, "]"))) == want); next }
    inside && index($0, name) == 1 { print substr($0, length(name) + 1); exit }
  ' "$WINEPREFIX/system.reg" |
    sed -e 's/^str([0-9]*):"/"/; s/^"//; s/"$//' -e 's/\\\\/\x01/g; s/\\"/"/g; s/\x01/\\/g'
}

# --- running Windows programs ---------------------------------------------
# All runs share one Wine session: its start (wineboot, the services) takes
# most of a minute under emulation, a program's start in it a few seconds.
# So the server never ends here, and nothing waits for it to end: the hive
# files are read once the server's periodic save (every 30 s) has written
# them, and the runs' own processes are waited for in /proc.
wineserver -p

# Windows programs of this prefix still running, but Wine's own services.
programs_running() {
  local f
  for f in /proc/[0-9]*; do
    grep -qzxF "WINEPREFIX=$WINEPREFIX" "$f/environ" 2>/dev/null || continue
    cat "$f/cmdline" 2>/dev/null | tr '\0' ' ' | grep -i '^[a-z]:\\' |
      grep -viE '^c:\\windows\\(system32|syswow64)\\(services|plugplay|winedevice|rpcss|svchost|explorer|conhost)\.exe'
  done
}
# Until the runs' programs have ended (a minute at most).
settle() {
  local i
  for i in $(seq 60); do
    [ -z "$(programs_running)" ] && return
    sleep 1
  done
  programs_running | sed 's/^/    still running: /'
}
# Until the hive files hold every change made so far: a save after this
# moment holds them all; with none within the save period, nothing was left
# to save.
hive_saved() {
  local i started=$SECONDS
  touch "$work/.saved"
  for i in $(seq 32); do
    [ "$WINEPREFIX/system.reg" -nt "$work/.saved" ] && break
    sleep 1
  done
  echo "  (registry saved after $((SECONDS - started)) s)"
}
# Runs a Windows command line (as it stands: cmd reads it as a deployment
# tool's shell would), waits until the machine has settled, and prints the
# whole exit code.
run_line() { # step name, command line
  local bat="$work/$1.bat" started=$SECONDS
  printf '@echo off\r\n%s\r\necho exit code %%ERRORLEVEL%%\r\n' "$2" >"$bat"
  local out
  out=$(WINEDEBUG=-all,err+winediag timeout 900 wine cmd /c "C:\\qv-run\\$1.bat" 2>"$results/$1.wine.log")
  settle
  echo "  ($1: $((SECONDS - started)) s)" >&2
  sed -n 's/^exit code \(-\{0,1\}[0-9]*\).*/\1/p' <<<"$out" | tail -n1
}
# The lines of a run's log (UTF-8, each opened by the local time).
log_lines() { # file
  sed -e 's/\r$//' -e 's/^[0-9-]* [0-9:.]* //' "$1"
}
# Whether the log has these lines in this order (each a fixed string).
in_order() { # file line...
  local file=$1
  shift
  log_lines "$file" | awk -v n=$# '
    BEGIN { for (i = 1; i < ARGC; i++) want[i] = ARGV[i]; ARGC = 1; k = 1 }
    k <= n && $0 == want[k] { k++ }
    END { exit !(k > n) }' "$@"
}
last_line() { log_lines "$1" | tail -n1; }
# A window the program tried to make: with no display, Wine says this for
# it (and only "The explorer process failed to start." for the desktop
# window that any process touching the window manager starts).
no_window() { # step name
  ! grep -q 'Make sure that your X server is running' "$results/$1.wine.log"
}
# The files an Uninstall.ulog lists as installed (entry kind 1), as Linux
# paths, only those of one payload kind when given (03: data files, which an
# uninstallation leaves); fails when an entry is not marked done.
ulog_files() { # Uninstall.ulog [payload kind, two hex digits]
  iconv -f UTF-16 -t UTF-8 "$1" | sed 's/\r$//' | awk -v kind="${2:-}" '
    /^[0-9]+:[0-9a-f]+:[01] -- / {
      split($1, f, ":"); if (f[3] != "1") bad = 1
      if (substr(f[2], 1, 2) == "01" && (kind == "" || substr(f[2], 3, 2) == kind))
        print substr($0, index($0, " -- ") + 4)
    }
    END { exit bad }' | sed -e 's|^[Cc]:\\|'"$c"'/|' -e 's|\\|/|g'
}
# The paths given and every folder above them up to drive_c.
with_folders() {
  local p
  while IFS= read -r p; do
    while [ "$p" != "$c" ] && [ "$p" != / ]; do echo "$p"; p=$(dirname "$p"); done
  done | sort -u
}
all_exist() { # file listing paths
  local p missing=0
  while IFS= read -r p; do
    [ -e "$p" ] || { echo "    missing: $p"; missing=1; }
  done <"$1"
  return $missing
}
# Everything below drive_c but Windows' own folder and the runs' files.
files_now() {
  find "$c" \( -path "$c/windows" -o -path "$work" \) -prune -o -print | sort
}

echo "Wine $(wine --version 2>/dev/null); $(uname -m) kernel $(uname -r)"
files_now >"$results/files-before.txt"

# --- first installation ---------------------------------------------------
begin first "silent first installation"
code=$(run_line first "$installer /VERYSILENT /LOG=C:\\qv-run\\first.log")
cp "$work/first.log" "$results/" 2>/dev/null
expect_eq "exit code" "$code" 0
expect "the log ends with the outcome and its code" \
  in_order "$work/first.log" "Detected: not installed: first installation" \
  "Installation folder: $folderWin" "Outcome: installed" "Exit code: 0"
expect_eq "the log's last line" "$(last_line "$work/first.log")" "Exit code: 0"
expect "no window" no_window first
expect "Uninstall.ulog in the 32-bit program-files folder" test -f "$folder/Uninstall.ulog"
expect "every entry of Uninstall.ulog done" eval 'ulog_files "$folder/Uninstall.ulog" >"$results/installed-files.txt"'
expect_eq "files installed" "$(wc -l <"$results/installed-files.txt")" 27
expect "each of them in place" all_exist "$results/installed-files.txt"
expect "nothing in the 64-bit program-files folder" test ! -e "$c/Program Files/Orvane Systems"
hive_saved
expect "the uninstall key in the 32-bit view" key_exists "$key32"
expect "no uninstall key in the 64-bit view" eval '! key_exists "$key64"'
expect "no installation record in the 64-bit view" eval '! key_exists "$maker64"'
expect_eq "DisplayName" "$(value "$key32" DisplayName)" "Trimora 6.04"
expect_eq "DisplayVersion" "$(value "$key32" DisplayVersion)" "6.4.0.2"
expect_eq "Publisher" "$(value "$key32" Publisher)" "Orvane Systems"
expect_eq "UninstallString" "$(value "$key32" UninstallString)" "$folderWin\\Uninstall.exe"
expect_eq "QuietUninstallString" "$(value "$key32" QuietUninstallString)" "\"$folderWin\\Uninstall.exe\" /VERYSILENT"
expect_eq "InstallLocation" "$(value "$key32" InstallLocation)" "$folderWin"
expect_eq "the installation record" "$(value "$maker32" "Quorvex 6 Path")" "$folderWin\\Trimora.exe"
end

# --- update over an earlier version ---------------------------------------
begin update "silent update over an earlier version (6.03)"
program="$folder/Trimora.exe"
if [ ! -f "$program" ]; then
  bad "no installed program to make the earlier version of"
else
  shipped=$(sha256sum <"$program")
  mode=$(stat -c %a "$program")
  cp "$job/earlier-program.exe" "$program" && chmod "$mode" "$program"
  rm -f "$data/Words_en.qwl"
  code=$(run_line update "$installer /VERYSILENT /LOG=C:\\qv-run\\update.log")
  cp "$work/update.log" "$results/" 2>/dev/null
  expect_eq "exit code" "$code" 0
  expect "the log says update from 6.03, installed" \
    in_order "$work/update.log" "Detected: an older version is installed: update" \
    "Installed version: Trimora 6.03" "Outcome: installed" "Exit code: 0"
  expect "no window" no_window update
  expect_eq "the program is this version's again" "$(sha256sum <"$program")" "$shipped"
  expect "the deleted data file is back" test -f "$data/Words_en.qwl"
  expect "every entry of Uninstall.ulog done" eval 'ulog_files "$folder/Uninstall.ulog" >"$results/updated-files.txt"'
  expect_eq "files installed" "$(wc -l <"$results/updated-files.txt")" 27
  expect "each of them in place" all_exist "$results/updated-files.txt"
  hive_saved
  expect "the uninstall key in the 32-bit view" key_exists "$key32"
  expect "no uninstall key in the 64-bit view" eval '! key_exists "$key64"'
  expect_eq "DisplayVersion" "$(value "$key32" DisplayVersion)" "6.4.0.2"
fi
end

# --- uninstallation -------------------------------------------------------
begin uninstall "silent uninstallation through QuietUninstallString"
quiet=$(value "$key32" QuietUninstallString)
if [ -z "$quiet" ]; then
  bad "no QuietUninstallString to run"
else
  # What stays: the data files (the shared ones and the user's own word
  # list), which other installations and the user keep using.
  ulog_files "$folder/Uninstall.ulog" 03 >"$results/data-files.txt"
  code=$(run_line uninstall "$quiet")
  expect_eq "exit code" "$code" 0
  expect "no window" no_window uninstall
  expect "the installation folder is gone" test ! -e "$folder"
  hive_saved
  expect "the uninstall key is gone" eval '! key_exists "$key32"'
  expect "the installation record is gone" eval '[ -z "$(value "$maker32" "Quorvex 6 Path")" ]'
  expect "no key or value of either view names the product" \
    eval '! grep -qiE "orvane|quorvex|trimora" "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"'
  expect "the shared data stays" test -f "$data/Words_en.qwl"
  expect "every data file stays (data-files.txt)" all_exist "$results/data-files.txt"
  files_now >"$results/files-after.txt"
  comm -13 "$results/files-before.txt" "$results/files-after.txt" >"$results/files-left.txt"
  left=$(grep -vxF -f <(with_folders <"$results/data-files.txt") "$results/files-left.txt")
  expect_eq "nothing else left on drive C: (files-left.txt)" "$left" ""
fi
end

# --- refusal --------------------------------------------------------------
begin refusal "an unknown switch in a silent run"
files_now >"$results/files-before-refusal.txt"
code=$(run_line refusal "$installer /VERYSILENT /FOO /LOG=C:\\qv-run\\refusal.log")
cp "$work/refusal.log" "$results/" 2>/dev/null
expect_eq "exit code" "$code" 1639
expect "no window" no_window refusal
expect_eq "the log's last line" "$(last_line "$work/refusal.log")" "Exit code: 1639"
expect "nothing changed on drive C:" cmp -s "$results/files-before-refusal.txt" <(files_now)
end

wineserver -k
echo "scenarios: $((4 - failures)) of 4 passed"
[ "$failures" -eq 0 ]
