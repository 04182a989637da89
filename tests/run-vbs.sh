#!/usr/bin/env bash
# Runs a VBScript test under Wine's cscript with a helper that reads and closes the
# plug-in's message boxes (logged to boxes.log beside the script's working folder).
# The script's exit code is its failure count.
set -u
script=$1 closer=$2
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > "$work/boxes.log"
wine "$closer" "$(winepath -w "$work/boxes.log")" "$(winepath -w "$work/stop")" 120 </dev/null >/dev/null 2>&1 &
closer_pid=$!
BOXES_LOG=$(winepath -w "$work/boxes.log") wine cscript.exe //nologo "$(winepath -w "$script")" "$(winepath -w "$work/boxes.log")" </dev/null
rc=$?
touch "$work/stop"
wait "$closer_pid"
exit $rc
