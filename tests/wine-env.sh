# Sourced by the scripts that run Windows programs: how to run a program of one edition
# (32 or 64 bits) under Wine in a given prefix.
#   wine_env BITS PREFIX
# exports WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES and WINE, the loader to start
# that edition's programs with ("$WINE" prog.exe). Debian's `wine` wrapper and its
# winepath, wineboot, ... links always pick the 32-bit loader when it is installed, even
# in a 64-bit prefix, so the scripts call "$WINE" themselves. Returns 77 with the reason
# on stderr when this machine cannot run programs of that width.
wine_env() {
  export WINEPREFIX=$2 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
  if [ "$1" = 64 ]; then
    export WINEARCH=win64 WINE=/usr/lib/wine/wine64 WINELOADER=/usr/lib/wine/wine64
  else
    export WINEARCH=win32 WINE=/usr/lib/wine/wine
    unset WINELOADER
  fi
  wine_can_run "$1"
}

# 0 when Wine can start programs of that width here. A 32-bit loader is a 32-bit Linux
# program: a kernel without 32-bit support refuses it ("Exec format error").
wine_can_run() {
  local loader=/usr/lib/wine/wine
  [ "$1" = 64 ] && loader=/usr/lib/wine/wine64
  if [ ! -x "$loader" ]; then
    echo "skipped: $loader is not installed" >&2
    return 77
  fi
  if ! "$loader" --version >/dev/null 2>&1; then
    echo "skipped: this machine cannot run $1-bit Wine programs ($loader does not start;" \
         "a kernel without 32-bit support refuses 32-bit Linux programs)" >&2
    return 77
  fi
  return 0
}

# Removes a prefix folder; in the emulated PC a fresh prefix is an overlay mounted there
# (brastow-fresh-prefix), unmounted first.
wine_discard_prefix() {
  while mountpoint -q "$1" 2>/dev/null; do umount -l "$1"; done
  rm -rf --one-file-system "$1"
}

# winepath -w through the right loader.
wine_path() { "$WINE" winepath.exe -w "$1" 2>/dev/null | tr -d '\r'; }

# The build folder under ROOT of an edition (32 or 64 bits) built with mingw-w64 GCC.
edition_tree() { if [ "$2" = 64 ]; then echo "$1/build-x64"; else echo "$1/build"; fi; }

# The edition this machine runs, for the tool scripts: sets `bits` and `tree` (the build
# folder under ROOT): the 32-bit one, the primary product, where 32-bit programs run;
# else the 64-bit one.
wine_edition() {
  bits=32
  wine_can_run 32 2>/dev/null || bits=64
  tree=$(edition_tree "$1" $bits)
}

# "$WINE" PROGRAM ARGS... with a time limit (BRASTOW_CALL_LIMIT seconds, default 180): a
# program that hangs is ended and the status is 124.
wine_limited() { timeout -k 10 "${BRASTOW_CALL_LIMIT:-180}" "$WINE" "$@"; }
