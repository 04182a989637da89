#!/usr/bin/env bash
# Every shell script of the project parses: the tool and test scripts with bash, the
# emulated PC's initramfs init with a POSIX shell (it runs under busybox sh).
#   script-syntax.sh ROOT
set -u
root=$1 failed=0
for f in "$root"/tools/*.sh "$root"/tools/guest/*.sh "$root"/tests/*.sh "$root"/cmake/*.sh "$root"/.ci/run; do
  bash -n "$f" || { echo "FAIL: $f"; failed=1; }
done
sh -n "$root/tools/guest/initramfs-init" || { echo "FAIL: tools/guest/initramfs-init"; failed=1; }
exit $failed
