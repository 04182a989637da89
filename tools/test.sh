#!/usr/bin/env bash
# The test command: install, build, and run every test under Wine, for each edition and
# each toolchain in a Wine prefix of its own; then compare the numbers of all four builds.
# Where this machine cannot run 32-bit programs, the 32-bit trees' Windows programs run in
# an emulated PC (tools/guest.sh, one boot for both trees) while this machine runs the
# 64-bit trees and the 32-bit trees' other entries. Extra arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tests/wine-env.sh"
can32=0
wine_can_run 32 2>/dev/null && can32=1
guest_build=""
# The exit trap's end for a background job that may have ended already (a failing kill
# there would otherwise, under set -e, become the script's status).
end_job() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }
if [ $can32 = 0 ]; then
  # The emulated PC is made (or found current) while the trees build: its packages first,
  # then the two side by side (the machine's build is mostly downloads and emulation).
  if [ "$(id -u)" = 0 ]; then bash "$root/tools/setup.sh"; fi
  bash "$root/tools/guest.sh" build &
  guest_build=$!
  trap 'end_job $guest_build' EXIT
fi
bash "$root/tools/build.sh"
# The form and whole-run entries without a locale suffix run in this machine's locale;
# where that is what Wine reads as English (United States), as it reads C and POSIX, the
# _en_US entries would run the very same tests: they are left out.
machine_locale=$(locale 2>/dev/null | sed -n 's/^LC_\(CTYPE\|NUMERIC\|MESSAGES\)="\{0,1\}\([^".]*\).*/\2/p' | sort -u)
if [ -z "$(grep -v -x -E 'C|POSIX|en_US' <<<"$machine_locale")" ]; then
  echo "== this machine's locale reads as en_US: test_dialog_en_US and test_run_en_US are test_dialog and test_run here"
  set -- -E '^(test_dialog|test_run)_en_US$' "$@"
fi
status=0 failed=()
# What failed is said again at the end, with its status: the suites' output is long.
failed() {  # WHAT STATUS
  failed+=("$1 (status $2)")
  status=1
}
trees=(build build-x64 build-clang build-clang-x64)
for tree in "${trees[@]}"; do rm -f "$root/$tree/elementary-results.txt"; done
suite() {  # TREE [CTEST-ARGS...]
  local tree=$1; shift
  (cd "$root/$tree" && ctest --output-on-failure --timeout 900 "$@")
}
if [ $can32 = 1 ]; then
  for tree in "${trees[@]}"; do
    echo "== $tree"
    suite "$tree" "$@" || failed "$tree" $?
  done
else
  echo "== this machine cannot run 32-bit programs: the 32-bit trees' Windows programs run in the emulated PC"
  # What this machine runs itself: the 64-bit trees, and the 32-bit trees' entries that need
  # no Windows program. While the emulated PC is still being made (from nothing: minutes
  # after the build), they run first, so that the guest then has the processors to itself;
  # when it is ready, they run beside the guest.
  host_suites() {
    for tree in build-x64 build-clang-x64; do
      echo "== $tree"
      suite "$tree" "$@" || failed "$tree" $?
    done
    for tree in build build-clang; do
      echo "== $tree (what needs no Windows program)"
      suite "$tree" -LE wine "$@" || failed "$tree (what needs no Windows program)" $?
    done
  }
  host_done=0
  if kill -0 "$guest_build" 2>/dev/null; then
    echo "== the emulated PC is still being made: this machine's suites first"
    host_suites "$@"
    host_done=1
  fi
  wait $guest_build || { echo "the emulated PC could not be made" >&2; exit 1; }
  trap - EXIT
  # One guest for both trees, side by side in it (tests/guest-suites.sh): two guests side by
  # side on two cores made test_math and test_run outrun their 600 s limits (measured).
  logs=$(mktemp -d)
  start=$SECONDS
  bash "$root/tools/guest.sh" run --timeout 3000 --memory 6144 --share "$root" -- \
    bash "$root/tests/guest-suites.sh" "$root" build build-clang -- "$@" >"$logs/guest" 2>&1 &
  guest=$!
  trap 'end_job $guest; rm -rf "$logs"' EXIT
  [ $host_done = 1 ] || host_suites "$@"
  echo "== waiting for the emulated PC"
  wait $guest || failed "the emulated PC's suites" $?
  cat "$logs/guest"
  echo "(emulated PC: $((SECONDS - start)) s)"
fi
echo "== the same numbers in every build"
(cd "$root" && bash tests/same-bits.sh "${trees[@]}") || failed "the same numbers in every build" $?
for what in "${failed[@]}"; do echo "FAILED: $what"; done
exit $status
