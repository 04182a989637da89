#!/usr/bin/env bash
# Run in the emulated PC's first boot by tools/guest.sh: a 32-bit (win32) and a 64-bit
# (win64) Wine prefix, side by side, made on the guest's tmpfs and copied into FOLDER (in
# the root), with the Wine versions on stdout. Wine copies its own DLLs into a prefix
# (700 MB, 1.3 GB for win64, which the guest writes over 9p at 3 MB/s): the copies become
# links to Wine's files (measured: a prefix so made runs the suites), and a prefix is some
# tens of MB.
#   make-prefixes.sh FOLDER
set -e
out=$1
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" HOME=/root
links() {  # FOLDER WINE-DLL-FOLDER: each file the same as Wine's own becomes a link to it
  local f src
  for f in "$1"/*; do
    [ -f "$f" ] && [ ! -L "$f" ] || continue
    src=$2/${f##*/}
    if [ -f "$src" ] && cmp -s "$f" "$src"; then ln -sf "$src" "$f"; fi
  done
}
make_prefix() {  # BITS: the prefix, and its line in /tmp/madeBITS
  local bits=$1 windows
  export WINEPREFIX=/tmp/prefix$bits
  if [ $bits = 32 ]; then export WINEARCH=win32 WINE=/usr/lib/wine/wine; else export WINEARCH=win64 WINE=/usr/lib/wine/wine64; fi
  "$WINE" wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
  [ -f $WINEPREFIX/system.reg ] || { echo "no $bits-bit prefix" >&2; exit 1; }
  windows=$WINEPREFIX/drive_c/windows
  if [ $bits = 32 ]; then
    links $windows/system32 /usr/lib/i386-linux-gnu/wine/i386-windows
    links $windows /usr/lib/i386-linux-gnu/wine/i386-windows
  else
    links $windows/system32 /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
    links $windows/syswow64 /usr/lib/i386-linux-gnu/wine/i386-windows
    links $windows /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  fi
  cp -a $WINEPREFIX "$out/prefix$bits"
  echo "$("$WINE" --version) ($bits-bit, $(du -sh "$out/prefix$bits" | cut -f1))" >/tmp/made$bits
}
# Both at once: each keeps about one of the two processors busy.
make_prefix 32 & first=$!
make_prefix 64 & second=$!
wait $first; wait $second
cat /tmp/made32 /tmp/made64
