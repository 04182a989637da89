#!/usr/bin/env bash
# The test command: install, build, and run every test under Wine, for each edition and
# each toolchain in a Wine prefix of its own; then compare the numbers of all four builds.
# Tests of an edition this machine cannot run report as skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh"
status=0
trees=(build build-x64 build-clang build-clang-x64)
for tree in "${trees[@]}"; do
  echo "== $tree"
  rm -f "$root/$tree/elementary-results.txt"
  (cd "$root/$tree" && ctest --output-on-failure --timeout 900 "$@") || status=1
done
echo "== the same numbers in every build"
(cd "$root" && bash tests/same-bits.sh "${trees[@]}") || status=1
exit $status
