#!/usr/bin/env bash
# The main job: installs what is missing and builds; installs the fixture product into a fresh Wine
# prefix, starts its programs and removes it through the uninstall engine (the way Uninstall.exe's
# progress window starts it; the uninstall report goes to a closed loopback port), then prints what
# was removed, what is scheduled for the reboot and what is left in place, and the log. With
# --reboot it also simulates the reboot and lists what is left of the product afterwards.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
reboot=0
[ "${1:-}" = --reboot ] && reboot=1
bash "$root/tools/bootstrap.sh"
arch=$(bash "$root/tools/test-arch.sh")
build="$root/build/$arch"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" >/dev/null
cmake --build "$build" --target voro_fixture_setup EngineDriver >/dev/null

source "$build/wine-env.sh"
source "$root/tools/harness.sh"
source "$root/tools/reboot.sh"
bash "$root/tools/harness.sh" template >/dev/null
prefix=$(harness_fresh_prefix)
trap 'harness_kill_prefix "$prefix"; rm -rf "$prefix"' EXIT
install_unix="$prefix/drive_c/Program Files (x86)/VoroWallPaper"

echo "== Installing the fixture product into a fresh prefix"
harness_run "$prefix" "$build/fixture/bin/voro_fixture_setup.exe"
before=$(find "$install_unix" -type f | wc -l)
echo "   $before files in C:\\Program Files (x86)\\VoroWallPaper"

echo "== Removing it (product programs running: vorowp.exe, vorowpctrl.exe, voropendant.exe, vorohost.exe)"
rc=0
harness_run "$prefix" "$build/tests/e2e/driver/EngineDriver.exe" --app-paths --summary \
  --start vorowp.exe --start vorowpctrl.exe --start voropendant.exe --start vorohost.exe || rc=$?
echo "   engine driver exit code: $rc"

echo "== Scheduled for the reboot (PendingFileRenameOperations)"
harness_run "$prefix" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
  /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' | grep -v '^$' || echo "   (none)"
echo "== RunOnce entries"
harness_run "$prefix" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' /reg:32 2>/dev/null \
  | tr -d '\r' | grep -v '^$' || echo "   (none)"

log=$(ls "$prefix"/drive_c/users/*/Temp/tesk_uninst.log 2>/dev/null | head -n 1 || true)
if [ -n "$log" ]; then
  echo "== tesk_uninst.log"
  iconv -f GBK -t UTF-8 "$log" | tr -d '\r'
fi

if [ "$reboot" = 1 ]; then
  echo "== After the reboot"
  harness_reboot "$prefix"
  if [ -d "$install_unix" ]; then
    find "$install_unix" | sed "s|^$prefix/drive_c|C:|"
  else
    echo "   the install folder is gone"
  fi
fi
