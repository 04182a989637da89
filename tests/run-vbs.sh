#!/usr/bin/env bash
# Runs a VBScript test under Wine's cscript with a helper that reads and closes the
# plug-in's message boxes (logged to boxes.log beside the script's working folder).
#   run-vbs.sh BITS SCRIPT BOXCLOSER   (BITS: the edition, 32 or 64; cscript of that width)
# The script's exit code is its failure count.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
bits=$1 script=$2 closer=$3
wine_env "$bits" "${WINEPREFIX:-$PWD/wineprefix}" || exit
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > "$work/boxes.log"
"$WINE" "$closer" "$(wine_path "$work/boxes.log")" "$(wine_path "$work/stop")" 120 </dev/null >/dev/null 2>&1 &
closer_pid=$!
"$WINE" cscript.exe //nologo "$(wine_path "$script")" "$(wine_path "$work/boxes.log")" </dev/null
rc=$?
touch "$work/stop"
wait "$closer_pid"
exit $rc
