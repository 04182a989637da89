#!/usr/bin/env bash
# Installs what building and testing Brastow needs on a Debian 12 machine (run as root).
# Does nothing for packages that are already there.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  updated=0
fi
# Both editions' cross compilers (mingw-w64 GCC, and clang with lld as the second
# toolchain) and Wine loaders (wine32 for the 32-bit edition, wine64 for the 64-bit one),
# the simulated user's tools, the installer's compiler, and mpmath for the correctly
# rounded references of the math tests.
for p in cmake make python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev \
         clang-19 lld-19 llvm-19 \
         wine wine32:i386 wine64 xvfb xauth fonts-wine imagemagick xdotool nsis googletest python3-mpmath; do
  have "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ] || [ "${updated:-1}" = 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  [ ${#need[@]} -gt 0 ] && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
exit 0
