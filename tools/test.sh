#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test under Wine with ctest.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/tools/bootstrap.sh"

configure_and_build() {  # arch build-dir [cmake options]
  local arch=$1 dir=$2; shift 2
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" "$@" >/dev/null
  cmake --build "$dir"
}

arch=$(bash "$root/tools/test-arch.sh")
build="$root/build/$arch"
configure_and_build "$arch" "$build"
# The shipped uninstaller: 32-bit, without the test builds' server override and test signature.
configure_and_build i686 "$root/build/release-i686" -DBUILD_TESTING=OFF

ctest --test-dir "$build" --output-on-failure -j2 --timeout 900
