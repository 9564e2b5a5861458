#!/usr/bin/env bash
# An install folder that is not the product's own is refused: the fixture product is installed
# into a fresh prefix, then its App Paths "path" is pointed at a drive root, the Windows folder, a
# Program Files folder or a user-profile root holding bait (listed names, a ".tmp" file, a signed
# program and a running one). The engine driver runs the whole sequence from App Paths; afterwards
# the refusal is logged, the bait is untouched, the bait program still runs, and nothing outside
# the product changed.
# Usage: unsafe_folder.sh BUILD_DIR DRIVER_EXE FIXTURE_DIR KIND
#   KIND: drive_root | windows | program_files | program_files_x86 | profile | profiles
set -euo pipefail
build=$1 driver=$2 fixture=$3 kind=$4
work_name=engine-unsafe
source "$(dirname "$0")/e2e_common.sh"

install_fixture "$fixture"
user=$(ls "$prefix/drive_c/users" | grep -v -x -e Public | head -n 1)
case $kind in
  drive_root) folder='C:\' unix=drive_c reason='drive root' ;;
  windows) folder='C:\windows' unix=drive_c/windows reason='Windows folder or above' ;;
  program_files) folder='C:\Program Files' unix='drive_c/Program Files' reason='Program Files folder' ;;
  program_files_x86) folder='C:\Program Files (x86)' unix='drive_c/Program Files (x86)' reason='Program Files folder' ;;
  profile) folder="C:\\users\\$user" unix="drive_c/users/$user" reason='user profile root' ;;
  profiles) folder='C:\users' unix=drive_c/users reason='user profile root' ;;
  *) fail "unknown kind $kind" ;;
esac

# The bait: what the engine would delete or stop in an accepted folder.
bait="$prefix/$unix"
mkdir -p "$bait/skin"
echo bait >"$bait/skin/bait.skin"
echo bait >"$bait/voro_bait.tmp"
[ -e "$bait/config.set" ] || printf '[auto_run]\r\nopen=1\r\n' >"$bait/config.set"
cp "$fixture/bin/vorotool.exe" "$bait/voro_bait_signed.exe"
cp "$fixture/bin/voropendant.exe" "$bait/voro_bait_pendant.exe"
harness_run "$prefix" reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\vorowp.exe' \
  /v path /d "$folder" /f /reg:32 >/dev/null || fail "App Paths"
rm -f "$work/calls.txt"

harness_run "$prefix" "$driver" --prime || fail "priming the prefix"
harness_kill_prefix "$prefix"
check snapshot "$prefix" "$work/before.json"
harness_run "$prefix" "$driver" --app-paths --summary --events "$(winpath "$work/events.txt")" \
  --start "${folder%\\}\\voro_bait_pendant.exe" >"$work/summary.txt" || fail "engine driver, code $?"
grep -q "voro_bait_pendant.exe: still running" "$work/summary.txt" || fail "the bait program was stopped"
harness_kill_prefix "$prefix"
check snapshot "$prefix" "$work/after.json"
cp "$prefix/drive_c/users/$user/Temp/tesk_uninst.log" "$work/tesk_uninst.log" || fail "no log"

W=$work U=$user F=$folder R=$reason python3 - "$work/config.json" <<'EOF'
import json, os, sys
w = os.environ["W"]
json.dump({
    "before": w + "/before.json", "after": w + "/after.json",
    "user": os.environ["U"], "install": "C:\\Program Files (x86)\\VoroWallPaper",
    "install_unix": "drive_c/Program Files (x86)/VoroWallPaper",
    "refused_folder": os.environ["F"], "reason": os.environ["R"],
    "calls": w + "/calls.txt", "events": w + "/events.txt", "log": w + "/tesk_uninst.log",
}, open(sys.argv[1], "w"))
EOF
check unsafe "$work/config.json" || fail "refused folder $folder"
echo "PASS"
