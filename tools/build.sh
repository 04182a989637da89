#!/usr/bin/env bash
# Installs what is missing (as root), then configures and builds both editions with both
# toolchains: build/ the 32-bit edition (the primary product) and build-x64/ the 64-bit one
# with mingw-w64 GCC, build-clang/ and build-clang-x64/ the same with clang and lld.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" = 0 ]; then bash "$root/tools/setup.sh"; fi
build() {  # build FOLDER TOOLCHAIN [CMAKE-OPTIONS...]
  local folder=$1 toolchain=$2; shift 2
  cmake -S "$root" -B "$root/$folder" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$root/$folder" -j"$(nproc)"
}
# The 64-bit trees first: the 32-bit trees' installer holds both editions.
build build-x64 mingw-x86_64
build build mingw-i686 -DBRASTOW_X64_BUILD="$root/build-x64"
build build-clang-x64 clang-x86_64
build build-clang clang-i686 -DBRASTOW_X64_BUILD="$root/build-clang-x64"
