#!/usr/bin/env bash
# Screenshots of the setup form, the guide image, the calibration panel (during the run
# and at the result), the result message and the whole observatory, taken during a real-input calibration on a virtual display, into docs/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tests/wine-env.sh"
bash "$root/tools/build.sh" >/dev/null
wine_edition "$root"
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
env -u DISPLAY LC_ALL=en_US.UTF-8 bash "$root/tests/gui-test.sh" "$bits" "$tree" --shots "$shots"
cp "$shots/setup-form.png" "$shots/guide-image.png" "$shots/result-message.png" "$shots/panel-run.png" \
   "$shots/panel-result.png" "$root/docs/"
cp "$shots/step-2-clicked-2-of-5.png" "$root/docs/observatory.png"
