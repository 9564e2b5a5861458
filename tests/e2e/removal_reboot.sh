#!/usr/bin/env bash
# The fixture product installed into a fresh prefix is removed with its DLLs still loaded (one in
# the install folder, one on a second drive D:); after a simulated reboot nothing that was
# scheduled is left. Then every removal operation runs on folders holding symbolic links, and the
# links' target stays intact.
# Usage: removal_reboot.sh BUILD_DIR REMOVAL_TEST_EXE FIXTURE_DIR
set -euo pipefail
build=$1 tests_exe=$2 fixture=$3
source "$build/wine-env.sh"
source "$(dirname "$0")/../../tools/harness.sh"
source "$(dirname "$0")/../../tools/reboot.sh"

prefix=$(harness_fresh_prefix)
trap 'harness_kill_prefix "$prefix"; rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A second drive.
mkdir -p "$prefix/drive_d/data"
ln -s ../drive_d "$prefix/dosdevices/d:"
cp "$fixture/bin/voroplug.dll" "$prefix/drive_d/data/voroplug.dll"

harness_run "$prefix" "$fixture/bin/voro_fixture_setup.exe" || fail "fixture setup"
install='C:\Program Files (x86)\VoroWallPaper'
unix_install="$prefix/drive_c/Program Files (x86)/VoroWallPaper"
[ -f "$unix_install/vorowp.exe" ] || fail "fixture not installed"

harness_run "$prefix" "$tests_exe" --child RemoveInstalledFixture "$install" || fail "removal, code $?"
[ ! -e "$unix_install" ] || fail "install folder left"
harness_kill_prefix "$prefix"
grep -q . "$prefix/drive_c/e2e-scheduled.txt" || fail "nothing was scheduled"

harness_reboot "$prefix" || fail "reboot"
harness_run "$prefix" "$tests_exe" --child ScheduledItemsAreGone "" || fail "scheduled items left after reboot, code $?"
[ -z "$(ls -A "$prefix/drive_d/.temp")" ] || fail "D:\\.temp not emptied"

# Links: C:\outside is the target; every case folder holds files and a link to it.
mkdir -p "$prefix/drive_c/outside/deep" "$prefix/drive_c/links"
echo keep >"$prefix/drive_c/outside/keep.txt"
echo keep >"$prefix/drive_c/outside/deep/keep2.tmp"
for n in $(seq 1 11); do
  d="$prefix/drive_c/links/case$n"
  mkdir -p "$d/sub"
  echo x >"$d/a.tmp"
  echo x >"$d/sub/b.txt"
  ln -s ../../outside "$d/linked"
  ln -s ../../../outside "$d/sub/linked"
done
harness_run "$prefix" "$tests_exe" --child LinksAreNeverFollowed 'C:\links' || fail "a link was followed, code $?"
[ -f "$prefix/drive_c/outside/keep.txt" ] && [ -f "$prefix/drive_c/outside/deep/keep2.tmp" ] || fail "link target touched"
# The cases that delete a whole folder or its .tmp files still delete the plain files around links.
for n in 1 2 3 4 5 9 10; do
  [ ! -e "$prefix/drive_c/links/case$n/a.tmp" ] || fail "case $n: plain file not deleted"
done
echo "PASS"
