#!/usr/bin/env bash
# The Wine prefix fixture when a Wine step fails every time (a display setting Wine's reg
# refuses): it names the step with its output, makes the prefix it made once more from
# nothing, and then fails, stopping the server it started. In a prefix of its own,
# removed afterwards.
#   prefix-failure-test.sh BITS <build-dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
bits=$1; build=$(cd "$2" && pwd)
wine_can_run "$bits" || exit
export WINEPREFIX=$build/wineprefix-failure
out=$(mktemp)
trap 'bash "$here/wine-prefix.sh" stop "$bits" "$build"; wine_discard_prefix "$WINEPREFIX"; rm -f "$WINEPREFIX.log" "$out"' EXIT
wine_discard_prefix "$WINEPREFIX"
rc=0
BRASTOW_DPI=not-a-number BRASTOW_NO_REGISTER=1 bash "$here/wine-prefix.sh" start "$bits" "$build" >"$out" 2>&1 || rc=$?
cat "$out"
failed=0
check() {  # WHAT CONDITION...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failed=1; fi
}
check "the fixture fails (status 1, was $rc)" [ $rc = 1 ]
check "the failing step is named" grep -q "failed (status [1-9]" "$out"
check "with its own output" grep -q "^== .*reg add .*LogPixels" "$out"
check "it prepares the prefix again" grep -q "preparing $WINEPREFIX again" "$out"
made=$(grep -c -E "^== .*(wineboot -i|brastow-fresh-prefix)" "$WINEPREFIX.log" 2>/dev/null)
check "the prefix it made is made again from nothing (made ${made:-0} times)" [ "${made:-0}" = 2 ]
check "and it gives up after that" grep -q "could not be prepared" "$out"
# (`wineserver -k` fails where there is no server to stop.)
check "leaving no Wine server running" eval '! wineserver -k >/dev/null 2>&1'
exit $failed
