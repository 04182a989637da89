#!/usr/bin/env bash
# The test command: install, build, and run every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh"
cd "$root/build"
ctest --output-on-failure --timeout 900 "$@"
