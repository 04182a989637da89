#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix.
# BRASTOW_PREFIX overrides the prefix folder (default: <build>/wineprefix).
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${BRASTOW_PREFIX:-${WINEPREFIX:-$PWD/wineprefix}}
export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=${BRASTOW_LANG:-en_US.UTF-8}
exec wine "$@"
