#!/bin/bash
# PID 1 of the emulated PC for one command of tools/guest.sh, in the root: the shared
# folders, the command with its environment, folder and time limit, its status, power off.
# The job folder holds what `boot` wrote: mounts, tmpfs, env, command, cwd, hostname,
# timeout, msize (the 9p message size).
job=/run/brastow-job
off() { sync; echo o >/proc/sysrq-trigger; while :; do sleep 60; done; }
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /dev/pts
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
mount -t tmpfs -o mode=1777 tmpfs /tmp
hostname "$(cat $job/hostname)" 2>/dev/null  # the host's: Wine writes it into each prefix
ip link set lo up 2>/dev/null
# Shared folders with the page cache (cache=loose): without it (cache=none or mmap) Wine
# loads the larger .exe files from them with pages of zeros (test_comhelp.exe, 3 MB, faults
# in main; a 230 KB one runs), while the same file copied to /tmp runs. The price: changes
# the host makes to a shared folder while the guest runs may not be seen in the guest.
while IFS= read -r -d '' tag && IFS= read -r -d '' path; do
  mkdir -p "$path"
  mount -t 9p -o trans=virtio,version=9p2000.L,msize="$(cat $job/msize)",cache=loose "$tag" "$path" ||
    echo "guest: cannot mount $path" >>$job/stderr
done <$job/mounts
made=()
while IFS= read -r -d '' path; do
  [ -d "$path" ] || { mkdir -p "$path" && made+=("$path"); }
  mount -t tmpfs -o mode=755 tmpfs "$path" || echo "guest: no tmpfs on $path" >>$job/stderr
done <$job/tmpfs
cmd=()
while IFS= read -r -d '' arg; do cmd+=("$arg"); done <$job/command
env=()
while IFS= read -r -d '' v; do env+=("$v"); done <$job/env
cd "$(cat $job/cwd)" 2>/dev/null || cd /
env -i "${env[@]}" timeout --kill-after=10 "$(cat $job/timeout)" "${cmd[@]}" </dev/null >$job/stdout 2>>$job/stderr
status=$?
cd /
# Folders made only to lay a tmpfs on are not left in the host's tree.
for path in "${made[@]}"; do umount "$path" 2>/dev/null && rmdir "$path" 2>/dev/null; done
echo $status >$job/status.new && mv $job/status.new $job/status
off
