#!/usr/bin/env bash
# The same numbers from every build: compares the results test_math wrote in each build
# tree (elementary-results.txt: sine, cosine and arctangent of the reference table and the
# random set, and the numeric members through IDispatch), bit for bit.
#   same-bits.sh [--every] TREE...
# Fails when a tree has no results (its test_math did not run) or any result differs. A
# tree whose programs this machine cannot run is left out, unless --every says that every
# tree's suite ran (the 32-bit ones in the emulated PC).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
every=0
[ "${1:-}" = --every ] && { every=1; shift; }
first="" status=0 compared=0
for tree in "$@"; do
  file=$tree/elementary-results.txt
  bits=32
  grep -q '^CMAKE_TOOLCHAIN_FILE:.*x86_64' "$tree/CMakeCache.txt" 2>/dev/null && bits=64
  if [ ! -s "$file" ] && [ $every = 0 ] && ! wine_can_run "$bits" 2>/dev/null; then
    echo "not compared: $tree (this machine cannot run $bits-bit programs)"
    continue
  fi
  if [ ! -s "$file" ]; then
    echo "FAIL: $file is missing: test_math did not run in $tree"
    status=1
    continue
  fi
  compared=$((compared + 1))
  if [ -z "$first" ]; then
    first=$file
    continue
  fi
  if ! cmp -s "$first" "$file"; then
    echo "FAIL: $file differs from $first:"
    diff "$first" "$file" | head -20
    status=1
  fi
done
[ -n "$first" ] && [ $status = 0 ] &&
  echo "same bits in $compared builds: $(wc -l < "$first") results each"
exit $status
