#!/usr/bin/env bash
# The test command: install, build, and run every test under Wine, for each edition and
# each toolchain in a Wine prefix of its own. Tests of an edition this machine cannot run report as skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh"
status=0
for tree in build build-x64 build-clang build-clang-x64; do
  echo "== $tree"
  (cd "$root/$tree" && ctest --output-on-failure --timeout 900 "$@") || status=1
done
exit $status
