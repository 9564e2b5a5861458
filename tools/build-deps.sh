#!/usr/bin/env bash
# Cross-builds the third-party pieces from Debian's source packages into a cache outside the
# source tree, once: cJSON as a static library and 7-Zip's 7z.dll. Prints the cache folder.
#   build-deps.sh ARCH [cache-dir]      ARCH: i686 or x86_64
# Layout: CACHE/src/<package>, CACHE/<ARCH>/cjson/{include,lib}, CACHE/<ARCH>/7zip/7z.dll.
set -euo pipefail
arch=${1:?usage: build-deps.sh i686|x86_64 [cache-dir]}
case "$arch" in
  i686) triple=i686-w64-mingw32; march=-m32 ;;
  x86_64) triple=x86_64-w64-mingw32; march=-m64 ;;
  *) echo "build-deps: unknown architecture $arch" >&2; exit 2 ;;
esac
cache=${2:-${VORO_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/voro-uninstall-deps}}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
out="$cache/$arch"
log="$cache/build-$arch.log"

fetch_source() {  # package -> prints the unpacked source folder
  local pkg=$1 dir="$cache/src/$1"
  if [ ! -f "$dir/.unpacked" ]; then
    rm -rf "$dir"; mkdir -p "$dir"
    (cd "$dir" && apt-get source -qq "$pkg") >>"$log" 2>&1 || { echo "build-deps: apt-get source $pkg failed, see $log" >&2; exit 1; }
    touch "$dir/.unpacked"
  fi
  find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

(
  flock 9
  if [ ! -f "$out/cjson/lib/libcjson.a" ]; then
    src=$(fetch_source cjson)
    mkdir -p "$out/cjson/include" "$out/cjson/lib" "$out/cjson/obj"
    $triple-gcc-posix -O2 -std=c89 -c "$src/cJSON.c" -o "$out/cjson/obj/cJSON.o" >>"$log" 2>&1
    $triple-ar rcs "$out/cjson/lib/libcjson.a" "$out/cjson/obj/cJSON.o"
    cp "$src/cJSON.h" "$out/cjson/include/"
  fi

  if [ ! -f "$out/7zip/7z.dll" ]; then
    src=$(fetch_source 7zip)
    # Build from a private copy so that both architectures can be built from one unpacked source.
    work="$cache/work-$arch/7zip"
    rm -rf "$work"; mkdir -p "$(dirname "$work")"; cp -a "$src" "$work"
    bundle="$work/CPP/7zip/Bundles/Format7zF"
    rm -rf "$bundle/_o"
    (cd "$bundle" && make -j"$(nproc)" -f makefile.gcc IS_MINGW=1 DISABLE_RAR=1 \
        CROSS_COMPILE=$triple- MY_ARCH=$march CC=$triple-gcc CXX=$triple-g++ \
        RC=$triple-windres) >>"$log" 2>&1 || { echo "build-deps: 7z.dll build failed, see $log" >&2; exit 1; }
    mkdir -p "$out/7zip"
    cp "$bundle/_o/7z.dll" "$out/7zip/7z.dll"
    rm -rf "$work"
  fi
  # 7-Zip's interface headers are read from the unpacked source.
  ln -sfn "$(fetch_source 7zip)" "$cache/7zip-src"
) 9>"$cache/.lock"
echo "$out"
