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

# What each Wine step prints goes to a log beside the prefix; a step that fails is named,
# with the end of its output.
log=$WINEPREFIX.log
: >"$log"
step() {
  echo "== $*" >>"$log"
  local rc=0
  "$@" </dev/null >>"$log" 2>&1 || rc=$?
  if [ $rc != 0 ]; then
    echo "wine-prefix: '$*' failed (status $rc); its output:" >&2
    sed -n '/^== /h; /^== /!H; ${x; p}' "$log" | tail -n 25 >&2
  fi
  return $rc
}
# A server that is there and one that is gone both do.
stop_server() { quiet wineserver -k || true; quiet wineserver -w || true; }
# A start that fails leaves no server behind (the tool scripts stop it only after a start).
trap '[ $? = 0 ] || stop_server' EXIT

# Headless unless a display is asked for: message boxes and dialogs still run their
# modal loops, unseen.
driver=null
[ -n "${BRASTOW_DISPLAY:-}" ] && driver=x11
fresh=0
prepare() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    fresh=1
    # The emulated PC (tools/guest.sh) has prefixes made once, given copy-on-write.
    if command -v brastow-fresh-prefix >/dev/null; then
      step brastow-fresh-prefix "$WINEPREFIX" "$bits" || return
    else
      step "$WINE" wineboot -i || return
      quiet wineserver -w || true
    fi
  fi
  quiet wineserver -p || true
  step "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d "$driver" /f || return
  step "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f || return
  # A display of BRASTOW_DPI dots per inch (default 96).
  step "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${BRASTOW_DPI:-96}" /f || return
  # The display driver is chosen when the desktop starts: restart it with the setting.
  stop_server
  quiet wineserver -p || true
  step "$WINE" wineboot
}
# A Wine step can fail for a reason of the moment (measured once in CI, on a machine busy
# with the emulated PC: a fresh prefix's start failed within a second). The prefix is
# prepared a second time, from a stopped server, before the fixture gives up: a prefix
# made here is made again from nothing.
if ! prepare; then
  echo "wine-prefix: preparing $WINEPREFIX again" >&2
  stop_server
  [ $fresh = 0 ] || wine_discard_prefix "$WINEPREFIX"
  prepare || { echo "wine-prefix: $WINEPREFIX could not be prepared (log: $log)" >&2; exit 1; }
fi
[ -n "${BRASTOW_NO_REGISTER:-}" ] && exit 0
for dll in "$build/brastow.dll" "$build/maximsim.dll"; do
  if [ -f "$dll" ]; then
    step "$WINE" regsvr32 /s "$(wine_path "$dll")" || {
      echo "registration of $dll failed" >&2; exit 1; }
  fi
done
echo "wine prefix ready: $WINEPREFIX ($bits-bit)"
