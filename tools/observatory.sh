#!/usr/bin/env bash
# The simulated observatory, visible: MaxIm DL's part played by the host driver with its
# windows on the X display in $DISPLAY; you fill in the setup form, click the guide star
# after each exposure and read the results. Without a display, run it under Xvfb:
#   xvfb-run -a -s "-screen 0 1024x768x24" bash tools/observatory.sh
# Options go to the host driver (sim/hostdriver.cpp), e.g. --angle 40 --exposure-ms 1500.
# The simulated truth printed at the end assumes the form's default values, or the ones
# given as options (--x-time, --y-time, --percent, --dec).
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  echo "No X display. Set DISPLAY, or run: xvfb-run -a -s \"-screen 0 1024x768x24\" bash tools/observatory.sh" >&2
  exit 2
fi
source "$(dirname "$0")/wine-env.sh"
use_wine_prefix wineprefix-gui x11
"$WINE" hostdriver.exe --visible "$@" </dev/null
