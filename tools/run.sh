#!/usr/bin/env bash
# The main job: install what is missing, build, prepare the Wine prefix, and run a
# complete calibration against the simulated host with its simulated user (headless).
#   run.sh [--edition 32|64] [HOST-DRIVER-OPTIONS...]
# --edition: the edition to run (default: the 32-bit one, the product, where this machine
# runs 32-bit programs; else the 64-bit one). --edition 32 on a machine that cannot run
# 32-bit programs runs it in the emulated PC (tools/guest.sh). Other options are passed to
# the host driver (see sim/hostdriver.cpp), e.g. --angle 40 --dec 30.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
edition=""
if [ "${1:-}" = --edition ]; then
  edition=${2:?--edition takes 32 or 64}; shift 2
  case $edition in 32|64) ;; *) echo "run.sh: --edition takes 32 or 64" >&2; exit 2;; esac
fi
source "$here/use-prefix.sh"
# Whether this machine runs 32-bit programs is known once the set-up (in the build) has
# installed the 32-bit Wine: the build first, then the decision.
# (BRASTOW_NO_BUILD set: in the emulated PC, built by the machine that started it.)
in_guest=${BRASTOW_NO_BUILD:-}
if [ -z "$in_guest" ]; then
  bash "$here/build.sh" >/dev/null
  export BRASTOW_NO_BUILD=1  # built: use_wine_prefix need not build again
fi
if [ "$edition" = 32 ] && [ -z "$in_guest" ] && ! wine_can_run 32 2>/dev/null; then
  echo "(this machine cannot run 32-bit programs: the 32-bit edition runs in the emulated PC)" >&2
  bash "$here/guest.sh" build
  exec bash "$here/guest.sh" run --timeout 900 --share "$root" --env BRASTOW_NO_BUILD=1 -- \
    bash "$here/run.sh" --edition 32 "$@"
fi
use_wine_prefix wineprefix "" "$edition"
"$WINE" hostdriver.exe "$@" </dev/null
