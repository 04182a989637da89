#!/usr/bin/env bash
# The main job: install, build, prepare the Wine prefix and run Brastow as a host would.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh" >/dev/null
export WINEPREFIX="$root/build/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$root/tests/wine-prefix.sh" start "$root/build" >/dev/null
trap 'bash "$root/tests/wine-prefix.sh" stop "$root/build"' EXIT
wine cscript.exe //nologo "$(winepath -w "$root/tools/demo.vbs")" </dev/null
