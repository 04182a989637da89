#!/bin/bash
# brastow-fresh-prefix DIR BITS: DIR becomes a fresh BITS-bit Wine prefix.
set -eu
dir=$(realpath -m "$1") bits=$2
template=/var/lib/brastow-guest/prefix$bits
[ -f "$template/system.reg" ] || { echo "brastow-fresh-prefix: no $template" >&2; exit 1; }
# One at a time: two trees' suites ask for prefixes at once, and the first one to come
# must not mount the layers' tmpfs over the other's layer.
exec 8>/run/brastow-fresh-prefix.lock
flock 8
while mountpoint -q "$dir"; do umount -l "$dir"; done  # an earlier fresh prefix here
mkdir -p "$dir"
# The overlay's upper layer must not itself be on an overlay (the root is one): a tmpfs.
layers=/run/brastow-prefixes
mountpoint -q "$layers" || { mkdir -p "$layers" && mount -t tmpfs -o mode=700 tmpfs "$layers"; }
layer=$(mktemp -d "$layers/prefix.XXXXXX")
mkdir "$layer/data" "$layer/work"
mount -t overlay -o "lowerdir=$template,upperdir=$layer/data,workdir=$layer/work" overlay "$dir"
