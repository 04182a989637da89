#!/usr/bin/env bash
# Builds brastow.dll twice from this source tree, in two clean folders, with one
# toolchain, and compares the two modules byte for byte.
#   reproducible.sh TOOLCHAIN-FILE WORK-FOLDER
set -u
source=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$1 work=$2
rm -rf "$work"
for side in a b; do
  cmake -S "$source" -B "$work/$side" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DBRASTOW_TESTS=OFF >/dev/null || exit 1
  cmake --build "$work/$side" --target brastow -j"$(nproc)" >/dev/null || exit 1
done
if cmp -s "$work/a/brastow.dll" "$work/b/brastow.dll"; then
  echo "1 passed, 0 failed: two builds give the same $(stat -c %s "$work/a/brastow.dll") bytes"
  rm -rf "$work"
  exit 0
fi
echo "FAIL: the two builds differ:"
cmp -l "$work/a/brastow.dll" "$work/b/brastow.dll" | head -20
exit 1
