#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs Uninstall.exe under Wine in a fresh
# prefix, then prints its exit code and its log.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/tools/bootstrap.sh"
arch=$(bash "$root/tools/test-arch.sh")
build="$root/build/$arch"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" >/dev/null
cmake --build "$build" --target Uninstall

export VORO_HARNESS="$build/wine"
source "$build/wine-env.sh"
source "$root/tools/harness.sh"
prefix=$(harness_fresh_prefix)
trap 'harness_kill_prefix "$prefix"; rm -rf "$prefix"' EXIT

rc=0
harness_run "$prefix" "$build/Uninstall/Uninstall.exe" "$@" || rc=$?
echo "Uninstall.exe exit code: $rc"
log=$(ls "$prefix"/drive_c/users/*/AppData/Local/Temp/tesk_uninst.log "$prefix"/drive_c/users/*/Temp/tesk_uninst.log 2>/dev/null | head -n 1 || true)
if [ -n "$log" ]; then
  echo "---- tesk_uninst.log ----"
  iconv -f GBK -t UTF-8 "$log" | tr -d '\r'
else
  echo "(no log lines were written)"
fi
