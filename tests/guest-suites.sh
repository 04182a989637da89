#!/usr/bin/env bash
# Run in the emulated PC (tools/guest.sh) by tools/test.sh: the Windows programs' entries
# of one 32-bit tree. The GCC tree (build): every entry with the label "wine"; the clang
# tree (build-clang): the core suites (module, COM helpers, numbers, the dispatch sweep,
# whole runs), which is what its second compiler can change. Extra arguments go to ctest.
#   guest-suites.sh ROOT TREE [CTEST-ARGS...]
set -u
root=$1 tree=$2; shift 2
echo "== $tree (in the emulated PC)"
cd "$root/$tree" || exit 1
case $tree in
  build-clang) exec ctest --output-on-failure --timeout 900 -L wine \
                 -R '^(test_module|test_comhelp|test_math|test_invoke_sweep|test_run)$' "$@";;
  *) exec ctest --output-on-failure --timeout 900 -L wine "$@";;
esac
