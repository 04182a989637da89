#!/usr/bin/env bash
# Run by tools/guest.sh in a user+mount+pid namespace of its own, as its root (every uid
# below 65536 mapped to itself): a private binfmt_misc with qemu-i386-static, the
# debootstrap second stage and the packages.
#   namespace.sh ROOT PACKAGE...
set -euo pipefail
root=$1; shift
mount -t proc proc /proc
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
# 32-bit x86 ELF executables and shared objects; F: the interpreter is opened now, so it
# need not exist inside the root.
printf "%s" ":brastow-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F" \
  >/proc/sys/fs/binfmt_misc/register
mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/tmp"
env -i container=lxc PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  chroot "$root" /debootstrap/debootstrap --second-stage
in_root() { env -i container=lxc PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
  DEBIAN_FRONTEND=noninteractive chroot "$root" "$@"; }
cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root dpkg --add-architecture amd64
printf "#!/bin/sh\nexit 101\n" >"$root/usr/sbin/policy-rc.d"; chmod 755 "$root/usr/sbin/policy-rc.d"
in_root apt-get -q -o APT::Sandbox::User=root update
in_root apt-get -q -y -o APT::Sandbox::User=root install --no-install-recommends "$@"
in_root apt-get clean
rm -f "$root/usr/sbin/policy-rc.d"
rm -rf "$root"/var/lib/apt/lists/* "$root"/tmp/* "$root"/var/log/*.log
