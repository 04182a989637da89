#!/usr/bin/env bash
# Screenshots of the setup form, the guide image and the result message, taken during a
# real-input calibration on a virtual display, into docs/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh" >/dev/null
env -u DISPLAY bash "$root/tests/gui-test.sh" "$root/build" --shots "$root/docs"
