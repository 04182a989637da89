# Sourced by the tool scripts: builds, picks the edition this machine can run (the 32-bit
# one, the primary product, where 32-bit programs run; else the 64-bit one), prepares a
# Wine prefix of its build tree and starts its wineserver (stopped again on exit).
#   use_wine_prefix NAME [x11] [EDITION]   NAME: prefix folder in the build tree; x11:
#   windows on $DISPLAY; EDITION: 32 or 64 (default: the one this machine runs). With
#   BRASTOW_NO_BUILD set (in the emulated PC, which has no compilers) nothing is built.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tests/wine-env.sh"
use_wine_prefix() {
  [ -n "${BRASTOW_NO_BUILD:-}" ] || bash "$root/tools/build.sh" >/dev/null
  if [ -n "${3:-}" ]; then
    bits=$3 tree=$(edition_tree "$root" "$bits")
    wine_can_run "$bits" || exit 1
  else
    wine_edition "$root"
    [ "$bits" = 64 ] && echo "(this machine cannot run 32-bit programs: using the 64-bit edition, $tree; bash tools/run.sh --edition 32 runs the 32-bit one in an emulated PC)" >&2
  fi
  wine_env "$bits" "$tree/$1"
  if [ "${2:-}" = x11 ]; then export BRASTOW_DISPLAY=1; else unset BRASTOW_DISPLAY; fi
  bash "$root/tests/wine-prefix.sh" start "$bits" "$tree" >/dev/null
  trap 'bash "$root/tests/wine-prefix.sh" stop "$bits" "$tree"' EXIT
  cd "$tree"
}
