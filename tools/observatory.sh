#!/usr/bin/env bash
# The simulated observatory, visible: MaxIm DL's part played by the host driver with its
# windows on the X display in $DISPLAY; you fill in the setup form, click the guide star
# after each exposure and read the results. Options go to the host driver
# (sim/hostdriver.cpp), e.g. --angle 40 --exposure-ms 1500.
#   bash tools/observatory.sh [OPTIONS]     on your X display
#   bash tools/observatory.sh --demo DIR    without a screen: a scripted calibration on a
#                                           virtual display, with a screenshot of every step in DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = --demo ]; then
  dir=${2:?"--demo needs a folder for the screenshots"}
  source "$root/tools/use-prefix.sh"
  bash "$root/tools/build.sh" >/dev/null
  wine_edition "$root"
  env -u DISPLAY BRASTOW_GUI_VERBOSE=1 bash "$root/tests/gui-test.sh" "$bits" "$tree" --shots "$dir"
  echo "Screenshots of every step: $(cd "$dir" && pwd)/step-*.png"
  exit
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "No X display. Run it on a desktop (or in a nested X server: Xephyr :1 -screen 1024x768 &" \
       "then DISPLAY=:1 bash tools/observatory.sh), or watch a scripted calibration:" \
       "bash tools/observatory.sh --demo DIR" >&2
  exit 2
fi
source "$root/tools/use-prefix.sh"
use_wine_prefix wineprefix-gui x11
"$WINE" hostdriver.exe --visible "$@" </dev/null
