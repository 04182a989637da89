#!/usr/bin/env bash
# The test command's own runners, on made-up trees: tests/guest-suites.sh (trees side by
# side) must fail when any tree fails and show each tree's output whole, in the order given;
# tests/same-bits.sh must fail on a tree whose results differ or are missing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() {  # WHAT CONDITION
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1"; fi
}
tree() {  # NAME COMMAND: a tree whose one Windows entry runs COMMAND
  mkdir -p "$work/$1"
  printf 'add_test(entry_of_%s %s)\nset_tests_properties(entry_of_%s PROPERTIES LABELS wine)\n' \
    "$1" "$2" "$1" >"$work/$1/CTestTestfile.cmake"
}
tree slow "sh -c \"sleep 2; true\""
tree quick true
tree broken false
out=$(bash "$here/guest-suites.sh" "$work" slow quick 2>&1); status=$?
check "trees that pass: status 0 (was $status)" '[ $status = 0 ]'
check "each tree's output, in the order given" \
  '[ "$(grep -o "^== [a-z]* (in the emulated PC)" <<<"$out" | tr "\n" " ")" = "== slow (in the emulated PC) == quick (in the emulated PC) " ]'
out=$(bash "$here/guest-suites.sh" "$work" broken quick 2>&1); status=$?
check "a tree that fails: status 1 (was $status)" '[ $status = 1 ]'
check "the failing tree says so" 'grep -q "^== broken: ctest ended with status" <<<"$out"'
check "the other tree's output is there too" 'grep -q "entry_of_quick .*Passed" <<<"$out"'

results() {  # TREE TEXT
  printf '%s\n' "$2" >"$work/$1/elementary-results.txt"
}
results slow "sin 3ff0000000000000 3feaed548f090cee"
results quick "sin 3ff0000000000000 3feaed548f090cee"
results broken "sin 3ff0000000000000 3feaed548f090cef"
(cd "$work" && bash "$here/same-bits.sh" slow quick >/dev/null); status=$?
check "the same results: status 0 (was $status)" '[ $status = 0 ]'
out=$(cd "$work" && bash "$here/same-bits.sh" slow quick broken); status=$?
check "a result one unit off: status 1 (was $status)" '[ $status = 1 ] && grep -q "FAIL: broken/elementary-results.txt differs" <<<"$out"'
rm "$work/quick/elementary-results.txt"
out=$(cd "$work" && bash "$here/same-bits.sh" slow quick); status=$?
check "a tree without results: status 1 (was $status)" '[ $status = 1 ] && grep -q "FAIL: quick/elementary-results.txt is missing" <<<"$out"'
echo "$passed passed, $failed failed"
exit "$failed"
