#!/usr/bin/env bash
# The removal benchmark: builds what it needs, then times, side by side in one run, the whole
# silent removal of the fixture product padded to 1,000 and to 10,000 files (our engine), a plain
# FindFirstFileW/DeleteFileW deletion of the same tree (the floor) and an NSIS uninstaller of the
# same footprint run in place, with two what-if variants of ours (the log writer that reopens its
# file per line; no UI-thread deliveries); then the per-call costs of the log writer and the other
# per-file calls. Prints medians and ratios.
# See bench/README.md.
#
#   bash bench/run.sh
#   BENCH_REPS=7 BENCH_SIZES="1000 10000" BENCH_CPU=0 BENCH_ARCH=x86_64 bash bench/run.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
reps=${BENCH_REPS:-5}
sizes=${BENCH_SIZES:-"1000 10000"}
cpu=${BENCH_CPU:-0}
cost_lines=${BENCH_COST_LINES:-10000}

VORO_BOOTSTRAP_BENCH=1 bash "$root/tools/bootstrap.sh"
# 64-bit programs under Wine's 64-bit loader by default: they run on every machine of this kind,
# also where the kernel cannot run 32-bit programs. BENCH_ARCH=i686 measures the 32-bit build.
arch=${BENCH_ARCH:-x86_64}
# A build tree of its own, without the tests: the benchmark needs the uninstaller's library, the
# fixture product and the test signing, nothing else.
build=${BENCH_BUILD:-$root/build/bench-run-$arch}
echo "bench: building in $build" >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" >/dev/null
cmake --build "$build" --target bench_all >/dev/null
for f in bench_launch.exe bench_plain_delete.exe bench_costs.exe bench_engine_removal.exe \
         bench_engine_removal_reopen.exe voro_nsis_writer.exe; do
  [ -f "$build/bench/$f" ] || { echo "bench: $build/bench/$f was not built" >&2; exit 1; }
done

# The build tree's harness: its template prefix, its private display.
source "$build/wine-env.sh"
source "$root/tools/harness.sh"
harness_template
work=$build/bench-run
prefix=$work/prefix
results=$work/results.tsv
costs=$work/costs.tsv
[ -d "$prefix" ] && harness_kill_prefix "$prefix"
rm -rf "$work"
mkdir -p "$work"
harness_copy_template "$prefix"
DISPLAY=$(harness_display)
export DISPLAY WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
  harness_kill_prefix "$prefix"
  rm -rf "$prefix"
  harness_stop  # this tree's template server and display
}
trap cleanup EXIT

# One CPU for the wineserver and every program: calls between them otherwise cross CPUs.
setsid taskset -c "$cpu" "$WINESERVER" -p </dev/null >/dev/null 2>&1 7>&- 8>&- 9>&-
# Output through a file: Wine's background processes inherit it and would hold a pipe open.
pinned() {
  local rc=0
  taskset -c "$cpu" "$WINELOADER" "$@" </dev/null >"$work/wine.out" 2>&1 7>&- 8>&- 9>&- || rc=$?
  harness_filter <"$work/wine.out"
  return $rc
}

bench_dir=$prefix/drive_c/bench
mkdir -p "$bench_dir"
cp "$build"/bench/*.exe "$build"/bench/*.dll "$bench_dir/"
pinned 'C:\bench\voro_nsis_writer.exe' /S
[ -f "$bench_dir/voro_nsis_uninstall.exe" ] || { echo "bench: the NSIS uninstaller was not written" >&2; exit 1; }

if [ -d "$prefix/drive_c/Program Files (x86)" ]; then
  install_win='C:\Program Files (x86)\VoroWallPaper'
  install_unix="$prefix/drive_c/Program Files (x86)/VoroWallPaper"
else
  install_win='C:\Program Files\VoroWallPaper'
  install_unix="$prefix/drive_c/Program Files/VoroWallPaper"
fi
temp_unix=$(find "$prefix/drive_c/users" -mindepth 2 -maxdepth 4 -type d -name Temp | head -n1)

command_of() {  # variant -> the command line bench_launch starts
  case $1 in
    plain) echo "C:\\bench\\bench_plain_delete.exe \"$install_win\"" ;;
    engine) echo "C:\\bench\\bench_engine_removal.exe \"$install_win\"" ;;
    engine_reopen) echo "C:\\bench\\bench_engine_removal_reopen.exe \"$install_win\"" ;;
    engine_noui) echo "C:\\bench\\bench_engine_removal.exe --without-ui-deliveries \"$install_win\"" ;;
    nsis) echo "C:\\bench\\voro_nsis_uninstall.exe /S _?=$install_win" ;;  # _?= must stay unquoted
  esac
}

# A fresh product: what the previous run left is cleared, the fixture installed again, padded to
# the size, and everything synced to the disk.
lay_down() {  # size
  rm -rf "$install_unix"
  if [ -n "$temp_unix" ]; then
    rm -f "$temp_unix/tesk_uninst.log" "$temp_unix"/tvn*.bat
    find "$temp_unix" -maxdepth 1 -name '{*}.tmp' -exec rm -rf {} + 2>/dev/null || true
  fi
  pinned reg delete 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations /f >/dev/null || true
  pinned "$build/fixture/bin/voro_fixture_setup.exe" >"$work/setup.out" || true
  python3 "$root/bench/make_payload.py" "$install_unix" "$1" >/dev/null
  sync
}

files_left() { if [ -d "$install_unix" ]; then find "$install_unix" -type f | wc -l; else echo 0; fi; }

run_one() {  # variant size rep
  local variant=$1 size=$2 rep=$3 out t0 t1 launch detail
  lay_down "$size"
  t0=$(date +%s%N)
  out=$(pinned 'C:\bench\bench_launch.exe' "$(command_of "$variant")" || true)
  t1=$(date +%s%N)
  launch=$(sed -n 's/^launch exit=[0-9]* ms=\([0-9.]*\).*/\1/p' <<<"$out" | tail -n1)
  detail=$(grep -v '^launch ' <<<"$out" | tr -d '\r' | tr '\t\n' '  ' || true)
  [ -n "$launch" ] || { echo "bench: $variant at $size files did not run: $out" >&2; exit 1; }
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$size" "$rep" "$variant" "$launch" \
    "$(( (t1 - t0) / 1000 ))" "$(files_left)" "$detail" >>"$results"
  printf 'bench: %5s files  rep %d  %-6s %9.1f ms\n' "$size" "$rep" "$variant" "$launch" >&2
}

echo "bench: load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
printf 'size\trep\tvariant\tlaunch_ms\twall_us\tfiles_left\tdetail\n' >"$results"
# One untimed round starts the prefix's services and warms the program files.
variants=(plain engine engine_reopen engine_noui nsis)
for v in "${variants[@]}"; do run_one "$v" 1000 0; done
sed -i '2,$d' "$results"

for size in $sizes; do
  for rep in $(seq 1 "$reps"); do
    # Each repetition rotates the order, so that a drift of the machine hits every variant alike.
    for i in "${!variants[@]}"; do run_one "${variants[$(( (i + rep) % ${#variants[@]} ))]}" "$size" "$rep"; done
  done
done

# The log writer and the removal's other per-file calls.
printf 'rep\tname\tn\ttotal_ms\tus_each\n' >"$costs"
for rep in 1 2 3; do
  pinned 'C:\bench\bench_costs.exe' "$cost_lines" 'C:\bench\costs' |
    sed -n "s/^cost \([a-z_]*\) *n=\([0-9]*\) total_ms=\([0-9.-]*\) us_each=\([0-9.-]*\).*/$rep\t\1\t\2\t\3\t\4/p" >>"$costs"
done
echo "bench: load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

python3 "$root/bench/report.py" "$results" "$costs"
