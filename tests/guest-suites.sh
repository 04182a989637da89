#!/usr/bin/env bash
# Run in the emulated PC (tools/guest.sh) by tools/test.sh: the Windows programs' entries
# of the 32-bit trees, both trees in one boot. The GCC tree's every entry with the label
# "wine"; the clang tree's core suites (module, COM helpers, numbers, the dispatch sweep,
# whole runs), which is what its second compiler can change. Extra arguments go to ctest.
#   guest-suites.sh ROOT [CTEST-ARGS...]
set -u
root=$1; shift
status=0
echo "== build (in the emulated PC)"
(cd "$root/build" && ctest --output-on-failure --timeout 900 -L wine "$@") || status=1
echo "== build-clang (in the emulated PC)"
(cd "$root/build-clang" && ctest --output-on-failure --timeout 900 -L wine \
   -R '^(test_module|test_comhelp|test_math|test_invoke_sweep|test_run)$' "$@") || status=1
exit $status
