#!/usr/bin/env bash
# The same numbers from every build: compares the results test_math wrote in each build
# tree (elementary-results.txt: sine, cosine and arctangent of the reference table and the
# random set, and the numeric members through IDispatch), bit for bit.
#   same-bits.sh TREE...
# Fails when a tree has no results (its test_math did not run; where this machine cannot
# run a tree's programs, tools/test.sh runs them in the emulated PC) or any result differs.
set -u
first="" status=0 compared=0
for tree in "$@"; do
  file=$tree/elementary-results.txt
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
