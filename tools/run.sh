#!/usr/bin/env bash
# The main job: install what is missing, build, prepare the Wine prefix, and run a
# complete calibration against the simulated host with its simulated user (headless).
# Options are passed to the host driver (see sim/hostdriver.cpp), e.g. --angle 40 --dec 30.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
use_wine_prefix wineprefix
"$WINE" hostdriver.exe "$@" </dev/null
