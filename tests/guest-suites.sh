#!/usr/bin/env bash
# Run in the emulated PC (tools/guest.sh) by tools/test.sh: the Windows programs' entries
# of the 32-bit trees, one tree after the other. The GCC tree (build): every entry with
# the label "wine"; the clang tree (build-clang): the core suites (module, COM helpers,
# numbers, the dispatch sweep, whole runs), which is what its second compiler can change.
#   guest-suites.sh ROOT TREE... [-- CTEST-ARGS...]
set -u
root=$1; shift
trees=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do trees+=("$1"); shift; done
[ $# -gt 0 ] && shift  # the --
status=0
for tree in "${trees[@]}"; do
  echo "== $tree (in the emulated PC)"
  filter=()
  [ "$tree" = build-clang ] && filter=(-R '^(test_module|test_comhelp|test_math|test_invoke_sweep|test_run)$')
  (cd "$root/$tree" && ctest --output-on-failure --timeout 900 -L wine "${filter[@]}" "$@") || {
    rc=$?
    echo "== $tree: ctest ended with status $rc"
    status=1
  }
done
exit $status
