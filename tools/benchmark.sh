#!/usr/bin/env bash
# Speed and resource figures of Brastow under Wine (see docs/benchmark.md). Also
# reports the processor time wineserver spent meanwhile, since every message check
# of a Wine program is a call to it.
set -euo pipefail
source "$(dirname "$0")/use-prefix.sh"
use_wine_prefix wineprefix
server=$(pgrep -n wineserver || true)
ticks() { [ -n "$server" ] && awk '{print $14 + $15}' "/proc/$server/stat" || echo 0; }
before=$(ticks); start=$(date +%s.%N)
"$WINE" benchmark.exe "$@" </dev/null
after=$(ticks); end=$(date +%s.%N)
hz=$(getconf CLK_TCK)
awk -v t=$((after - before)) -v hz="$hz" -v s="$start" -v e="$end" \
  'BEGIN { printf "wineserver meanwhile: %.2f s processor time over %.1f s\n", t / hz, e - s }'
