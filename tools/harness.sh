# Wine test harness: a template prefix made once per build tree, copies of it for tests, one
# persistent wineserver per prefix, a private Xvfb display. Sourced by wine-run and by the
# end-to-end test scripts; `bash tools/harness.sh template|stop HARNESS_DIR` runs one step.
#
# Layout of the harness folder (inside the build tree):
#   template/   booted prefix, never used directly by a test
#   shared/     copy used by tests that leave no machine state behind
#   fresh/*     one copy per state-changing run, removed afterwards
#   xvfb.*      the private display

: "${VORO_HARNESS:?VORO_HARNESS must name the harness folder}"
mkdir -p "$VORO_HARNESS" && VORO_HARNESS=$(cd "$VORO_HARNESS" && pwd)
# The Wine loader for the programs under test (wine64 for 64-bit builds) and the native server.
: "${VORO_WINE_LOADER:=/usr/lib/wine/wine}"
export WINELOADER=$VORO_WINE_LOADER
if [ -x /usr/lib/wine/wineserver64 ]; then WINESERVER=/usr/lib/wine/wineserver64; else WINESERVER=wineserver; fi
export WINESERVER
wine() { "$VORO_WINE_LOADER" "$@"; }
wineserver() { "$WINESERVER" "$@"; }

# The harness's lock descriptors 7, 8 and 9 are closed for every process it starts: a daemon
# that inherited one would hold the lock for its whole life.
harness_filter() { grep -Ev '^[0-9a-f]{4}:(err|fixme|warn|trace):' || true; }

# Prefix set-up steps that every test prefix needs; they run once, on the template.
harness_prepare_template() {
  local prefix=$1
  [ -n "${DISPLAY:-}" ] || DISPLAY=$(harness_display)
  export DISPLAY
  # Skip the Mono and Gecko download prompts: nothing here needs them.
  WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all wine wineboot -i </dev/null >"$prefix.boot.log" 2>&1 7>&- 8>&- 9>&-
  local hook
  for hook in $(harness_hooks); do
    [ -f "$hook" ] || continue
    WINEPREFIX=$prefix WINEDEBUG=-all VORO_WINE_LOADER=$VORO_WINE_LOADER bash "$hook" "$prefix" </dev/null >>"$prefix.boot.log" 2>&1 7>&- 8>&- 9>&-
  done
  harness_kill_prefix "$prefix"
}

# Set-up hooks: the tree's own (tools/template.d) and the build's ($VORO_TEMPLATE_HOOKS).
harness_hooks() {
  local dir
  for dir in "$(dirname "${BASH_SOURCE[0]}")/template.d" "${VORO_TEMPLATE_HOOKS:-$VORO_HARNESS/template.d}"; do
    ls "$dir"/*.sh 2>/dev/null || true
  done
}

# Identifies the set-up hooks; a template made with other hooks is made again.
harness_hooks_stamp() {
  { cat $(harness_hooks) 2>/dev/null || true; } | cksum
}

harness_template() {
  mkdir -p "$VORO_HARNESS"
  (
    flock 9
    local stamp
    stamp=$(harness_hooks_stamp)
    if [ "$(cat "$VORO_HARNESS/template/.ready" 2>/dev/null)" != "$stamp" ]; then
      rm -rf "$VORO_HARNESS/template"
      mkdir -p "$VORO_HARNESS/template"
      harness_prepare_template "$VORO_HARNESS/template"
      if [ ! -f "$VORO_HARNESS/template/system.reg" ]; then
        echo "harness: the template prefix did not boot, see $VORO_HARNESS/template.boot.log" >&2
        exit 1
      fi
      echo "$stamp" >"$VORO_HARNESS/template/.ready"
    fi
  ) 9>"$VORO_HARNESS/.lock"
}

# Copies the template into a new folder and prints its path.
harness_copy_template() {
  local dest=$1
  harness_template
  rm -rf "$dest"
  mkdir -p "$(dirname "$dest")"
  cp -a "$VORO_HARNESS/template" "$dest"
  rm -f "$dest/.ready"
}

harness_shared_prefix() {
  harness_template
  local stamp
  stamp=$(cat "$VORO_HARNESS/template/.ready")
  (
    flock 8
    if [ "$(cat "$VORO_HARNESS/shared/.copied" 2>/dev/null)" != "$stamp" ]; then
      [ -d "$VORO_HARNESS/shared" ] && harness_kill_prefix "$VORO_HARNESS/shared"
      harness_copy_template "$VORO_HARNESS/shared"
      echo "$stamp" >"$VORO_HARNESS/shared/.copied"
    fi
  ) 8>"$VORO_HARNESS/.shared.lock"
  echo "$VORO_HARNESS/shared"
}

harness_fresh_prefix() {
  mkdir -p "$VORO_HARNESS/fresh"
  local dest
  dest=$(mktemp -d "$VORO_HARNESS/fresh/p.XXXXXX")
  harness_copy_template "$dest"
  echo "$dest"
}

# Starts (once) a private Xvfb and prints its DISPLAY value.
harness_display() {
  mkdir -p "$VORO_HARNESS"
  (
    flock 7
    local pid
    pid=$(cat "$VORO_HARNESS/xvfb.pid" 2>/dev/null || true)
    if [ -z "$pid" ] || ! kill -0 "$pid" 2>/dev/null; then
      rm -f "$VORO_HARNESS/xvfb.display"
      setsid Xvfb -displayfd 6 -screen 0 1280x1024x24 -nolisten tcp \
        6>"$VORO_HARNESS/xvfb.display" </dev/null >/dev/null 2>"$VORO_HARNESS/xvfb.log" 7>&- 8>&- 9>&- &
      echo $! >"$VORO_HARNESS/xvfb.pid"
      local i
      for i in $(seq 1 100); do
        [ -s "$VORO_HARNESS/xvfb.display" ] && break
        sleep 0.1
      done
    fi
  ) 7>"$VORO_HARNESS/.xvfb.lock"
  echo ":$(tr -d '\n' <"$VORO_HARNESS/xvfb.display")"
}

# Keeps one wineserver alive for the prefix; it ends by itself two minutes after its last client,
# or when harness_stop kills it.
harness_server() {
  WINEPREFIX=$1 setsid "$WINESERVER" -p120 </dev/null >/dev/null 2>&1 7>&- 8>&- 9>&- || true
}

harness_kill_prefix() {
  WINEPREFIX=$1 wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX=$1 wineserver -w >/dev/null 2>&1 || true
}

# Runs a Windows program in a prefix; output goes through a file, Wine's own lines are dropped,
# the program's exit code is returned.
harness_run() {
  local prefix=$1; shift
  local out rc=0
  out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
  [ -n "${DISPLAY:-}" ] || DISPLAY=$(harness_display)
  export DISPLAY
  harness_server "$prefix"
  WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=" wine "$@" </dev/null >"$out" 2>&1 || rc=$?
  harness_filter <"$out"
  rm -f "$out"
  return $rc
}

harness_stop() {
  local p
  for p in "$VORO_HARNESS/shared" "$VORO_HARNESS"/fresh/* "$VORO_HARNESS/template"; do
    [ -d "$p" ] && harness_kill_prefix "$p"
  done
  rm -rf "$VORO_HARNESS"/fresh
  local pid
  pid=$(cat "$VORO_HARNESS/xvfb.pid" 2>/dev/null || true)
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -f "$VORO_HARNESS/xvfb.pid" "$VORO_HARNESS/xvfb.display"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    template) harness_template ;;
    stop) harness_stop ;;
    *) echo "usage: VORO_HARNESS=dir bash $0 template|stop" >&2; exit 2 ;;
  esac
fi
