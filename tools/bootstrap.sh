#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine needs to cross-build and test the uninstaller.
# Idempotent: prints nothing and touches nothing when everything is already present.
set -euo pipefail

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools wine wine32:i386 wine64 xvfb cmake ninja-build
          openssl osslsigncode 7zip dpkg-dev googletest python3 xauth)
# The benchmark's peer (bench/run.sh sets VORO_BOOTSTRAP_BENCH=1): makensis builds an uninstaller.
if [ "${VORO_BOOTSTRAP_BENCH:-0}" = 1 ]; then packages+=(nsis); fi

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=1
fi

# deb-src entries so that `apt-get source` can fetch cJSON and 7-Zip.
src_list=/etc/apt/sources.list.d/debian-src.sources
if [ ! -f "$src_list" ]; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | as_root tee "$src_list" >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list 2>/dev/null | sed 's/^deb /deb-src /' | as_root tee /etc/apt/sources.list.d/debian-src.list >/dev/null
    as_root touch "$src_list"
  fi
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  echo "bootstrap: installing ${missing[*]:-(source lists only)}" >&2
  as_root apt-get update -qq >/dev/null
  if [ ${#missing[@]} -gt 0 ]; then
    as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi
