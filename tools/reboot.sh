# Reboot simulation for end-to-end tests; source it after tools/harness.sh.
#
#   harness_reboot PREFIX
#
# Ends every process of the prefix (as a shutdown would), then restarts it with `wineboot -r`:
# Wine carries out the PendingFileRenameOperations (deletions and moves scheduled for the next
# boot) and runs the RunOnce entries. Returns when the prefix's server has ended, so the registry
# is on disk for the checks that follow.
harness_reboot() {
  local prefix=$1
  harness_kill_prefix "$prefix"
  [ -n "${DISPLAY:-}" ] || DISPLAY=$(harness_display)
  export DISPLAY
  WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all wine wineboot -r </dev/null >/dev/null 2>&1 7>&- 8>&- 9>&- || return 1
  WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true
}
