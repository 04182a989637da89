# Sourced by the tool scripts: builds, prepares a Wine prefix of the build tree and
# starts its wineserver (stopped again when the script exits).
#   use_wine_prefix NAME [x11]   NAME: folder in build/; x11: windows on $DISPLAY
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
use_wine_prefix() {
  bash "$root/tools/build.sh" >/dev/null
  export WINEPREFIX="$root/build/$1" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ "${2:-}" = x11 ]; then export BRASTOW_DISPLAY=1; else unset BRASTOW_DISPLAY; fi
  bash "$root/tests/wine-prefix.sh" start "$root/build" >/dev/null
  trap 'bash "$root/tests/wine-prefix.sh" stop "$root/build"' EXIT
  cd "$root/build"
}
