#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix.
#   wine-run.sh BITS PROGRAM [ARGS...]   BITS: 32 or 64, the width of the program
# BRASTOW_PREFIX overrides the prefix folder (default: ./wineprefix). Exits 77 (a skipped
# test) when this machine cannot run programs of that width.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/wine-env.sh"
bits=$1; shift
wine_env "$bits" "${BRASTOW_PREFIX:-${WINEPREFIX:-$PWD/wineprefix}}" || exit
export LANG=${BRASTOW_LANG:-en_US.UTF-8}
exec "$WINE" "$@"
