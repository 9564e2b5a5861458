#!/usr/bin/env bash
# The engine's acceptance run: the fixture product installed into a fresh prefix, its programs
# running (polite, deaf, one holding a DLL), is removed by the engine driver through
# IUninstallTask::StartUninstall; then check_acceptance.py checks the notifications, the calls
# file, that every product item is gone or scheduled, that nothing else in the prefix changed
# (files and registry, snapshots before and after), the log and the uninstall report (sent to the
# loopback server only); after a simulated reboot, that only what the engine keeps is left.
# Usage: engine_acceptance.sh BUILD_DIR DRIVER_EXE FIXTURE_DIR
set -euo pipefail
build=$1 driver=$2 fixture=$3
work_name=engine-acceptance
source "$(dirname "$0")/e2e_common.sh"
source "$root/tools/reboot.sh"

install_fixture "$fixture"
install='C:\Program Files (x86)\VoroWallPaper'
install_unix='drive_c/Program Files (x86)/VoroWallPaper'
[ -f "$prefix/$install_unix/vorowp.exe" ] || fail "fixture not installed"
# A link to a folder outside the product, which only a Unix tool makes here, named like a listed
# folder of the install folder. Its target must stay untouched; Wine cannot remove such a link from
# the Windows side (RemoveDirectoryW fails with 145), so it stays in place, logged.
mkdir -p "$prefix/drive_c/outside_target/deep"
echo keep >"$prefix/drive_c/outside_target/keep.txt"
echo keep >"$prefix/drive_c/outside_target/deep/keep.tmp"
ln -s ../../outside_target "$prefix/$install_unix/log"
# Keys of the product that step "remove registry" deletes and the fixture does not make: the App
# Paths entry the package's project names, and the product's class key.
harness_run "$prefix" reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Divizodaz.exe' \
  /v oem_f /d 0 /f /reg:32 >/dev/null || fail "Divizodaz App Paths"
harness_run "$prefix" reg add 'HKCR\VoroWallpaper\shell\open' /ve /d open /f /reg:32 >/dev/null || fail "class key"
cp "$prefix/$install_unix/config.set" "$work/config.set.before"
rm -f "$work/calls.txt"

# The report's only server: the loopback test server.
python3 "$root/tests/server/loopback_server.py" --port-file "$work/port" --log "$work/server.jsonl" \
  --lifetime 600 </dev/null >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "loopback server did not start"
port=$(cat "$work/port")

harness_run "$prefix" "$driver" --prime || fail "priming the prefix"
harness_kill_prefix "$prefix"
check snapshot "$prefix" "$work/before.json"

started=(vorowp.exe vorowpctrl.exe voropendant.exe vorohost.exe)
start_args=()
for program in "${started[@]}"; do start_args+=(--start "$program"); done
harness_run "$prefix" "$driver" "$install" --summary --events "$(winpath "$work/events.txt")" \
  --report-host "127.0.0.1:$port" "${start_args[@]}" >"$work/summary.txt" || fail "engine driver, code $?"
harness_kill_prefix "$prefix"
check snapshot "$prefix" "$work/after.json"

user=$(ls "$prefix/drive_c/users" | grep -v -x -e Public | head -n 1)
[ -f "$prefix/drive_c/users/$user/Temp/tesk_uninst.log" ] || fail "no log"
log="$work/tesk_uninst.log"
cp "$prefix/drive_c/users/$user/Temp/tesk_uninst.log" "$log"
python3 - "$work/config.json" <<EOF
import json, sys
json.dump({
    "before": "$work/before.json", "after": "$work/after.json", "rebooted": "$work/rebooted.json",
    "user": "$user", "install": r"$install", "install_unix": "$install_unix",
    "package": "$root/Uninstall/res/package/tesk.tvnprj",
    "root_list": "$root/Uninstall/res/package/UninstallRootDirFileList.xml",
    "calls": "$work/calls.txt", "events": "$work/events.txt", "log": "$log",
    "server_log": "$work/server.jsonl", "settings_before": "$work/config.set.before",
    "started": "${started[*]}".split(), "polite": ["vorowp.exe", "vorowpctrl.exe"],
}, open(sys.argv[1], "w"))
EOF
check after "$work/config.json" || fail "the run"

harness_reboot "$prefix" || fail "reboot"
check snapshot "$prefix" "$work/rebooted.json"
check reboot "$work/config.json" || fail "after the reboot"
echo "PASS"
