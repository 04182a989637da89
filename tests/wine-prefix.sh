#!/usr/bin/env bash
# Test fixture: prepares the Wine prefix of the build tree, starts one persistent
# wineserver for the whole run, and registers the servers under test.
#   wine-prefix.sh start BITS <build-dir>   set up, start, register (BITS: 32 or 64)
#   wine-prefix.sh stop  BITS <build-dir>   stop the wineserver
# Exits 77 (skipped) when this machine cannot run programs of that width.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
mode=$1 bits=$2; build=$(cd "$3" && pwd)
quiet() { "$@" </dev/null >/dev/null 2>&1; }

if [ "$mode" = stop ]; then
  export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
  quiet wineserver -k || true
  exit 0
fi
wine_env "$bits" "${WINEPREFIX:-$build/wineprefix}" || exit

# Headless unless a display is asked for: message boxes and dialogs still run their
# modal loops, unseen.
driver=null
[ -n "${BRASTOW_DISPLAY:-}" ] && driver=x11
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # The emulated PC (tools/guest.sh) has prefixes made once, given copy-on-write.
  if command -v brastow-fresh-prefix >/dev/null; then
    brastow-fresh-prefix "$WINEPREFIX" "$bits"
  else
    quiet "$WINE" wineboot -i
    quiet wineserver -w || true
  fi
fi
quiet wineserver -p || true
quiet "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d "$driver" /f
quiet "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
# A display of BRASTOW_DPI dots per inch (default 96).
quiet "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${BRASTOW_DPI:-96}" /f
# The display driver is chosen when the desktop starts: restart it with the setting.
quiet wineserver -k || true
quiet wineserver -w || true
quiet wineserver -p || true
quiet "$WINE" wineboot
[ -n "${BRASTOW_NO_REGISTER:-}" ] && exit 0
for dll in "$build/brastow.dll" "$build/maximsim.dll"; do
  if [ -f "$dll" ]; then
    "$WINE" regsvr32 /s "$(wine_path "$dll")" </dev/null >/dev/null 2>&1 || {
      echo "registration of $dll failed" >&2; exit 1; }
  fi
done
echo "wine prefix ready: $WINEPREFIX ($bits-bit)"
