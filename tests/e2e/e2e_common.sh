# Shared set-up of the engine's end-to-end scripts. Source it with the build folder in $build and a
# name for the scratch folder in $work_name. It gives: $here, $root, a fresh prefix in $prefix, a
# scratch folder in $work (kept with VORO_E2E_KEEP=1), $server_pid (set it when a server is
# started: the cleanup ends it), the cleanup on exit, and fail, winpath, check and
# install_fixture.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$build/wine-env.sh"
source "$root/tools/harness.sh"

prefix=$(harness_fresh_prefix)
work=$(mktemp -d "${TMPDIR:-/tmp}/$work_name.XXXXXX")
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  harness_kill_prefix "$prefix"
  rm -rf "$prefix"
  if [ "${VORO_E2E_KEEP:-0}" = 1 ]; then echo "kept: $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/summary.txt" ] && cat "$work/summary.txt" >&2; exit 1; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
check() { python3 "$here/check_acceptance.py" "$@"; }

# The fixture product, with its calls file outside the prefix (so that it is no change of the
# prefix). Argument: the fixture build folder.
install_fixture() {
  export VORO_FIXTURE_CALLS
  VORO_FIXTURE_CALLS=$(winpath "$work/calls.txt")
  harness_run "$prefix" "$1/bin/voro_fixture_setup.exe" || fail "fixture setup"
}
