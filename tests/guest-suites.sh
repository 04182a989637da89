#!/usr/bin/env bash
# Run in the emulated PC (tools/guest.sh) by tools/test.sh: the Windows programs' entries
# of the 32-bit trees, side by side (each tree has its own prefix and wineserver; a Wine
# program in the emulator keeps one of the guest's two processors busy, so two trees at
# once take little longer than the longer one). The GCC tree (build): every entry with the
# label "wine"; the clang tree (build-clang): the core suites (module, COM helpers,
# numbers, the dispatch sweep, whole runs), which is what its second compiler can change.
# Each tree's output comes whole, one after the other, with its time.
#   guest-suites.sh ROOT TREE... [-- CTEST-ARGS...]
set -u
root=$1; shift
trees=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do trees+=("$1"); shift; done
[ $# -gt 0 ] && shift  # the --
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
tree_suite() {  # TREE [CTEST-ARGS...]: its output to $logs/TREE, its status as the status
  local tree=$1 start=$SECONDS rc=0; shift
  local filter=()
  [ "$tree" = build-clang ] && filter=(-R '^(test_module|test_comhelp|test_math|test_invoke_sweep|test_run)$')
  {
    echo "== $tree (in the emulated PC)"
    (cd "$root/$tree" && ctest --output-on-failure --timeout 900 -L wine "${filter[@]}" "$@") || rc=$?
    [ $rc = 0 ] || echo "== $tree: ctest ended with status $rc"
    echo "($tree in the emulated PC: $((SECONDS - start)) s)"
  } >"$logs/$tree" 2>&1
  return $rc
}
jobs=()
for tree in "${trees[@]}"; do
  tree_suite "$tree" "$@" &
  jobs+=($!)
done
status=0
for i in "${!trees[@]}"; do
  wait "${jobs[$i]}" || status=1
  cat "$logs/${trees[$i]}"
done
exit $status
