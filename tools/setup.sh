#!/usr/bin/env bash
# Installs what building and testing Brastow needs on a Debian 12 machine (run as root).
# Does nothing for packages that are already there.
set -euo pipefail
need=()
source "$(dirname "$0")/packages.sh"
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
         wine wine64 xvfb xauth fonts-wine imagemagick xdotool nsis googletest python3-mpmath; do
  have_package "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ] || [ "${updated:-1}" = 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in the middle of a sync fails the update for a while ("File has unexpected
  # size"): try again, and go on with the indexes there are if it keeps failing.
  for attempt in 1 2 3 4; do
    apt-get update -qq && break
    echo "setup: apt-get update failed (attempt $attempt)" >&2
    sleep $((attempt * 10))
  done
  [ ${#need[@]} -gt 0 ] && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
# The 32-bit Wine loader on its own: its i386 libraries must match the amd64 ones version
# for version, which fails while the i386 index lags behind (a mirror in sync), and a
# machine whose kernel runs no 32-bit programs has no use for it. Without it the 32-bit
# edition's Windows programs run in the emulated PC below, as where the kernel refuses them.
if ! have_package wine32:i386; then
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null 2>&1; then
    echo "setup: wine32:i386 could not be installed: the 32-bit edition's tests run in the emulated PC" >&2
  fi
fi
# Where the 32-bit Wine cannot run (a kernel without 32-bit support), the 32-bit edition's
# tests run in an emulated PC (tools/guest.sh): its emulator, the user-mode emulator its
# root is made with, debootstrap and the initramfs's busybox.
source "$(dirname "$0")/../tests/wine-env.sh"
if ! wine_can_run 32 2>/dev/null; then install_missing "${guest_host_packages[@]}"; fi
# The 32-bit type library build needs the 32-bit stdole2.tlb, which only libwine:i386
# holds: without that package, its file alone, out of the package's archive.
tlb=usr/lib/i386-linux-gnu/wine/i386-windows/stdole2.tlb
copy=/usr/local/share/brastow/i386-windows/stdole2.tlb
if [ ! -f "/$tlb" ] && [ ! -f "$copy" ]; then
  scratch=$(mktemp -d); chmod 755 "$scratch"  # apt downloads as its own user
  (cd "$scratch" && apt-get download -qq libwine:i386 >/dev/null &&
   dpkg-deb --fsys-tarfile libwine_*_i386.deb | tar -x "./$tlb") &&
    install -D -m 644 "$scratch/$tlb" "$copy"
  rm -rf "$scratch"
  [ -f "$copy" ] || { echo "setup: no 32-bit stdole2.tlb (package libwine:i386)" >&2; exit 1; }
fi
exit 0
