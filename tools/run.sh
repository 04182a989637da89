#!/usr/bin/env bash
# The main job: install what is missing, build, prepare the Wine prefix, and run a
# complete calibration against the simulated host with its simulated user (headless).
# Options are passed to the host driver (see sim/hostdriver.cpp), e.g. --angle 40 --dec 30.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh" >/dev/null
export WINEPREFIX="$root/build/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$root/tests/wine-prefix.sh" start "$root/build" >/dev/null
trap 'bash "$root/tests/wine-prefix.sh" stop "$root/build"' EXIT
cd "$root/build"
wine hostdriver.exe "$@" </dev/null
