#!/usr/bin/env bash
# Test fixture: prepares the Wine prefix of the build tree, starts one persistent
# wineserver for the whole run, and registers the servers under test.
#   wine-prefix.sh start <build-dir>   set up, start, register
#   wine-prefix.sh stop  <build-dir>   stop the wineserver
set -euo pipefail
mode=$1; build=$(cd "$2" && pwd)
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
quiet() { "$@" </dev/null >/dev/null 2>&1; }

if [ "$mode" = stop ]; then
  quiet wineserver -k || true
  exit 0
fi

# Headless unless a display is asked for: message boxes and dialogs still run their
# modal loops, unseen.
driver=null
[ -n "${BRASTOW_DISPLAY:-}" ] && driver=x11
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  quiet wineboot -i
  quiet wineserver -w || true
fi
quiet wineserver -p || true
quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d "$driver" /f
quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
# The display driver is chosen when the desktop starts: restart it with the setting.
quiet wineserver -k || true
quiet wineserver -w || true
quiet wineserver -p || true
quiet wine wineboot
[ -n "${BRASTOW_NO_REGISTER:-}" ] && exit 0
for dll in "$build/brastow.dll" "$build/maximsim.dll"; do
  if [ -f "$dll" ]; then
    wine regsvr32 /s "$(winepath -w "$dll" 2>/dev/null)" </dev/null >/dev/null 2>&1 || {
      echo "registration of $dll failed" >&2; exit 1; }
  fi
done
echo "wine prefix ready: $WINEPREFIX"
