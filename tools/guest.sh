#!/usr/bin/env bash
# An emulated PC that runs 32-bit programs, for the 32-bit edition's tests on machines whose
# kernel refuses them. Everything in it is Debian's: the amd64 kernel of Debian 12 (32-bit
# emulation built in), a small initramfs of static busybox and the kernel's 9p modules, and a
# 32-bit Debian 12 root with Wine, shared read-only over 9p (each run writes to a tmpfs laid
# over it, so runs never change it).
#
#   guest.sh build
#       Makes the machine in the cache folder, or reuses it when it is there and current (its
#       stamp names the kernel package and version and the root's package list). Installs the
#       host packages it needs (guest_host_packages, tools/packages.sh)
#       when they are missing. About fifteen minutes and 2.1 GB from nothing on a 2-core
#       machine (measured 2026-12-10: 877 s, most of it the first boot's Wine prefixes).
#   guest.sh run [--timeout SECONDS] [--share DIR]... [--tmpfs DIR]... [--env NAME[=VALUE]]...
#                [--memory MB] [--console] -- COMMAND [ARGS...]
#       Boots the machine (building it first if needed), runs COMMAND as root in it and powers
#       it off; COMMAND's output comes to this terminal as it is written (stdout to stdout,
#       stderr to stderr) and its exit status is guest.sh's. Each --share DIR is the host
#       folder at the same path in the guest, read-write (cached in the guest: what the host
#       changes there while the guest runs may go unseen); --tmpfs DIR lays a fresh tmpfs over
#       DIR in the guest only (a Wine prefix inside a shared build tree, say); the guest's /tmp
#       is a tmpfs of its own. COMMAND runs in the current folder when that is inside a shared
#       one (else in /), with HOME, PATH, LANG, LC_ALL, TERM and TZ as here, when set, and the
#       variables named by --env. --timeout (default 3600) bounds COMMAND: when it runs out the
#       command is ended, and the status is 124; a guest that does not power off within 60 s
#       more is killed. Status 125: the guest failed before COMMAND ended (its console is
#       printed). --console: the guest's console on stderr as well.
#   guest.sh status
#       Where the cache is, whether it is current, its size.
#
# Cache folder: $BRASTOW_GUEST_CACHE, default /var/cache/brastow-guest. Kept outside every
# work tree; made in a temporary folder beside it and renamed into place when complete, so
# an interrupted build never leaves a cache that looks current. A lock beside it keeps a
# rebuild from replacing the machine under a running guest.
#
# Needs root for `build` (apt-get, debootstrap); the debootstrap second stage runs under
# qemu-i386-static registered in a binfmt_misc of a user namespace of its own (kernels from
# 6.7 give each user namespace its own), so nothing is registered for the whole machine.
#
# The programs that run elsewhere are files of their own in guest/: the initramfs's init,
# the namespace's script, the first boot's prefix maker, the root's fresh-prefix command
# and the init of each run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/packages.sh"
cache=${BRASTOW_GUEST_CACHE:-/var/cache/brastow-guest}
cache=${cache%/}
mirror=${BRASTOW_GUEST_MIRROR:-http://deb.debian.org/debian}
suite=bookworm
# Bumped whenever the way the machine is made changes in a way its stamp does not show.
recipe=5
# The root's packages, beyond minbase: the 32-bit Wine and the 64-bit one (amd64, beside
# the i386 root: the installer's 64-bit Windows, with both registry views); ctest (the i386
# cmake) to run a build tree's suite in the guest; what the test scripts call (the GUI
# test's virtual display, X input and screenshots, and the installer test's makensis, the
# amd64 one: a 32-bit makensis, built without large-file support, cannot list a folder
# served over 9p, whose directory offsets overflow its readdir()).
guest_packages=(wine wine32 wine64:amd64 cmake xvfb xauth xdotool imagemagick fonts-wine fonts-dejavu-core
                nsis:amd64 procps iproute2)
# Kernel modules the initramfs loads (with what they depend on): the 9p root, its virtio
# transport and the overlay that makes the read-only root writable in the guest.
initrd_modules=(virtio_pci 9pnet_virtio 9p overlay)
msize=512000  # the largest 9p message the 6.1 kernel's virtio transport takes

say() { echo "guest: $*" >&2; }
die() { echo "guest: $*" >&2; exit 1; }

install_host_packages() {
  local p
  for p in "${guest_host_packages[@]}"; do
    have_package "$p" || [ "$(id -u)" = 0 ] || die "missing host package $p; install it as root"
  done
  install_missing "${guest_host_packages[@]}"
}

# The kernel package Debian 12's linux-image-amd64 depends on now, and its version.
kernel_package() {
  local pkg=${BRASTOW_GUEST_KERNEL:-}
  [ -n "$pkg" ] || pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9.]*-[0-9]*-amd64\)$/\1/p' | head -1)
  [ -n "$pkg" ] || die "no linux-image-*-amd64 in the package index (apt-get update?)"
  local version
  version=$(apt-cache show --no-all-versions "$pkg" 2>/dev/null | sed -n 's/^Version: //p' | head -1)
  [ -n "$version" ] || die "no version of $pkg in the package index"
  echo "$pkg $version"
}

# What the cache must say it holds to be current. The kernel's line needs the package
# index (some seconds): `run` checks the others only.
expected_stamp() {
  printf 'recipe %s\nsuite %s i386 minbase\nmirror %s\n' "$recipe" "$suite" "$mirror"
  [ "${1:-}" = --without-kernel ] || printf 'kernel %s\n' "$(kernel_package)"
  printf 'packages %s\n' "$(printf '%s\n' "${guest_packages[@]}" | sort | xargs)"
}
cache_usable() {
  cache_complete && [ "$(grep -v '^kernel ' "$cache/stamp")" = "$(expected_stamp --without-kernel)" ]
}
cache_complete() { [ -f "$cache/stamp" ] && [ -f "$cache/vmlinuz" ] && [ -f "$cache/initrd.img" ] && [ -x "$cache/root/bin/bash" ]; }
cache_current() { cache_complete && [ "$(cat "$cache/stamp")" = "$(expected_stamp)" ]; }

# ---- build ------------------------------------------------------------------------------

# Kernel and initramfs into folder $1.
make_kernel() {
  local out=$1 pkg version scratch
  read -r pkg version <<<"$(kernel_package)"
  scratch=$out/kernel-package
  mkdir -p "$scratch"; chmod 755 "$scratch"  # apt downloads as its own user
  (cd "$scratch" && apt-get download -qq "$pkg=$version" >/dev/null)
  dpkg-deb -x "$scratch"/"${pkg}"_*.deb "$scratch/x"
  local kver=${pkg#linux-image-}
  local mods=$scratch/x/lib/modules/$kver
  [ -f "$scratch/x/boot/vmlinuz-$kver" ] && [ -f "$mods/modules.builtin" ] || die "$pkg: no kernel or no modules"
  # The package leaves modules.dep to its installation's depmod.
  [ -f "$mods/modules.dep" ] || busybox depmod -b "$scratch/x" "$kver"
  cp "$scratch/x/boot/vmlinuz-$kver" "$out/vmlinuz"

  # The modules in dependency order: each after everything it needs (modules.dep lists a
  # module's dependencies, transitively); built-in ones are left out.
  local order=() seen=" "
  add_module() {
    local name=$1 path deps d
    grep -q "/$name.ko" "$mods/modules.builtin" 2>/dev/null && return 0
    path=$(grep -E "(^|/)$name\.ko(\.[a-z]+)?:" "$mods/modules.dep" | head -1)
    [ -n "$path" ] || die "$pkg has no module $name"
    deps=${path#*:}; path=${path%%:*}
    for d in $deps; do
      d=${d##*/}; d=${d%%.ko*}
      add_module "$d"
    done
    case $seen in *" $path "*) ;; *) order+=("$path"); seen="$seen$path ";; esac
  }
  local m
  for m in "${initrd_modules[@]}"; do add_module "$m"; done

  local ird=$scratch/initrd
  mkdir -p "$ird"/{bin,dev,proc,sys,lower,upper,newroot,lib/modules}
  mknod -m 600 "$ird/dev/console" c 5 1  # the kernel opens it for /init's output
  cp /bin/busybox "$ird/bin/busybox"
  : >"$ird/modules"
  for m in "${order[@]}"; do
    local base=${m##*/}
    case $base in
      *.ko.xz) xz -dc "$mods/$m" >"$ird/lib/modules/${base%.xz}"; base=${base%.xz};;
      *.ko.zst) zstd -qdc "$mods/$m" >"$ird/lib/modules/${base%.zst}"; base=${base%.zst};;
      *.ko.gz) gzip -dc "$mods/$m" >"$ird/lib/modules/${base%.gz}"; base=${base%.gz};;
      *) cp "$mods/$m" "$ird/lib/modules/$base";;
    esac
    echo "$base" >>"$ird/modules"
  done
  # /init (guest/initramfs-init): load the modules, lay a tmpfs over the read-only 9p root,
  # mount the run's job folder, and hand over to the job's own init script in the root.
  sed "s/@MSIZE@/$msize/g" "$here/guest/initramfs-init" >"$ird/init"
  chmod 755 "$ird/init"
  (cd "$ird" && find . | sort | busybox cpio -o -H newc 2>/dev/null) | gzip -9 >"$out/initrd.img"
  say "kernel $pkg $version; initramfs modules: $(tr '\n' ' ' <"$ird/modules")"
  rm -rf "$scratch"
}

# Runs guest/namespace.sh (the debootstrap second stage and the packages) in a namespace. `unshare --map-root-user` maps uid 0 alone, and dpkg must give
# files to other users and groups (shadow, _apt, ...): the map is written from out here
# once the namespace exists.
in_namespace() {
  local me; me=$(readlink /proc/self/ns/user)
  unshare --user --mount --pid --fork --kill-child --propagation private \
    bash -c 'until grep -q . /proc/self/uid_map; do sleep 0.05; done; exec bash "$0" "$@"' \
    "$here/guest/namespace.sh" "$@" >>"$log" 2>&1 &
  ns_pid=$!
  local i
  for i in $(seq 1 200); do
    [ "$(readlink "/proc/$ns_pid/ns/user" 2>/dev/null)" != "$me" ] && break
    sleep 0.05
  done
  echo "0 0 65536" >"/proc/$ns_pid/uid_map"
  echo "0 0 65536" >"/proc/$ns_pid/gid_map"
  local rc=0
  wait "$ns_pid" || rc=$?
  ns_pid=""
  return $rc
}

build() {
  [ "$(id -u)" = 0 ] || die "build needs root"
  install_host_packages
  mkdir -p "$(dirname "$cache")"
  exec 9>"$cache.lock"
  flock 9
  if cache_current; then
    say "reusing $cache ($(du -sh "$cache" 2>/dev/null | cut -f1))"
    return 0
  fi
  # Under the lock, folders beside the cache are what a killed build left.
  rm -rf --one-file-system "$cache".new.* "$cache".old.*
  if cache_complete; then say "rebuilding $cache: its stamp differs"; else say "building $cache"; fi
  local start=$SECONDS
  log=$cache.build.log
  : >"$log"
  tmp=$(mktemp -d "$cache.new.XXXXXX")
  chmod 755 "$tmp"
  make_kernel "$tmp" 2>>"$log"
  say "debootstrap, first stage ($((SECONDS - start)) s)"
  # In the background, so that a signal is acted on at once (bash waits for a foreground
  # command before it runs a trap).
  debootstrap --arch=i386 --variant=minbase --foreign "$suite" "$tmp/root" "$mirror" >>"$log" 2>&1 &
  child_pid=$!
  wait "$child_pid"
  child_pid=""
  say "second stage and packages under qemu-i386-static ($((SECONDS - start)) s)"
  in_namespace "$tmp/root" "${guest_packages[@]}"
  install_fresh_prefix "$tmp/root"
  # The new machine must boot and run both Wines before it takes the old one's place; that
  # first boot makes the Wine prefixes every run starts from (a prefix takes 40 to 150 s
  # to make in the guest, and 700 MB: Wine copies its DLLs into it).
  say "first boot: Wine prefixes ($((SECONDS - start)) s)"
  # (The folder is shared into the guest at its host path: the root itself is read-only there.)
  local prefixes=$tmp/root/var/lib/brastow-guest
  mkdir -p "$prefixes"
  # (The script goes as text: the first boot shares the prefixes' folder alone.)
  boot "$tmp" --timeout 900 --memory 4096 --share "$prefixes" -- \
    bash -c "$(cat "$here/guest/make-prefixes.sh")" make-prefixes "$prefixes" >"$tmp/first-boot" 2>>"$log" ||
    die "the new machine does not run Wine (see $log)"
  local answer; answer=$(tr '\n' ' ' <"$tmp/first-boot"); rm "$tmp/first-boot"
  echo "first boot: $answer" >>"$log"
  expected_stamp >"$tmp/stamp"
  # Into place: the old machine out of the way first, then the new one in.
  local old=""
  if [ -e "$cache" ]; then old=$(mktemp -d "$cache.old.XXXXXX"); mv "$cache" "$old/"; fi
  mv "$tmp" "$cache"
  tmp=""
  if [ -n "$old" ]; then rm -rf --one-file-system "$old"; fi
  say "built $cache in $((SECONDS - start)) s ($(du -sh "$cache" | cut -f1)): $answer"
}

# A command in the root (guest/fresh-prefix.sh) that gives a folder a fresh Wine prefix from those made at the
# first boot, copy-on-write in RAM (an overlay over the read-only one): a prefix in
# no time instead of a minute or two. tests/wine-prefix.sh uses it where it is there.
install_fresh_prefix() {
  install -m 755 "$here/guest/fresh-prefix.sh" "$1/usr/local/bin/brastow-fresh-prefix"
}

# On every exit: nothing left running, no temporary folder left.
cleanup() {
  local rc=${signal_status:-$?}
  if [ -n "${child_pid:-}" ]; then kill -TERM "$child_pid" 2>/dev/null || true; wait "$child_pid" 2>/dev/null || true; fi
  if [ -n "${qemu_pid:-}" ]; then kill -KILL "$qemu_pid" 2>/dev/null || true; wait "$qemu_pid" 2>/dev/null || true; fi
  local t
  for t in "${tails[@]}"; do kill "$t" 2>/dev/null || true; done
  if [ -n "${job:-}" ]; then rm -rf "$job" || true; fi
  if [ -n "${ns_pid:-}" ]; then
    # The namespace's first process, killed, takes every process of the namespace with it
    # before it is gone; unshare then ends.
    local first
    first=$(cat "/proc/$ns_pid/task/$ns_pid/children" 2>/dev/null || true)
    if [ -n "$first" ]; then kill -KILL $first 2>/dev/null || true; fi
    wait "$ns_pid" 2>/dev/null || true
  fi
  if [ -n "${tmp:-}" ]; then
    if [ $rc -ne 0 ]; then
      say "build failed (status $rc); last lines of $log:"
      tail -n 30 "$log" >&2 || true
    fi
    # The namespace's mounts went with its processes: only plain files are left.
    rm -rf --one-file-system "$tmp"
  fi
  exit $rc
}
qemu_pid="" ns_pid="" child_pid="" job="" tmp="" tails=()
trap cleanup EXIT
trap 'signal_status=130; exit 130' INT
trap 'signal_status=143; exit 143' TERM

# ---- run --------------------------------------------------------------------------------

run() {
  # A newer kernel in the package index is taken up by the next `build`, not here.
  if ! cache_usable; then
    if cache_complete && [ "$(id -u)" != 0 ]; then
      say "warning: $cache is not current; using it as it is"
    else
      build
    fi
  fi
  mkdir -p "$(dirname "$cache")"
  exec 9>>"$cache.lock"
  flock -s 9
  boot "$cache" "$@"
}

# boot MACHINE [run's options] -- COMMAND...: one guest of the machine in folder MACHINE,
# for one command.
boot() {
  local machine=$1; shift
  local timeout=3600 memory=4096 console=0 shares=() tmpfs=() envs=()
  while [ $# -gt 0 ]; do
    case $1 in
      --timeout) timeout=${2:?}; shift 2;;
      --share) shares+=("$(cd "${2:?}" && pwd -P)") || die "no folder $2"; shift 2;;
      --tmpfs) tmpfs+=("$(realpath -m "${2:?}")"); shift 2;;
      --env) envs+=("${2:?}"); shift 2;;
      --memory) memory=${2:?}; shift 2;;
      --console) console=1; shift;;
      --) shift; break;;
      *) die "unknown option $1 (guest.sh run [--timeout S] [--share DIR]... [--tmpfs DIR]... [--env NAME[=VALUE]]... -- COMMAND...)";;
    esac
  done
  [ $# -gt 0 ] || die "no command (guest.sh run [OPTIONS] -- COMMAND...)"
  [[ $timeout =~ ^[0-9]+$ ]] || die "--timeout takes whole seconds"
  local s
  for s in "${shares[@]}" "${tmpfs[@]}"; do [ "$s" != / ] || die "/ cannot be shared or covered"; done

  job=$(mktemp -d "${TMPDIR:-/tmp}/brastow-guest.XXXXXX")

  # What the guest is to do, NUL-separated so that any text survives.
  local i name arg
  : >"$job/mounts"
  for i in "${!shares[@]}"; do printf 's%d\0%s\0' "$i" "${shares[$i]}" >>"$job/mounts"; done
  : >"$job/tmpfs"
  for i in "${tmpfs[@]}"; do printf '%s\0' "$i" >>"$job/tmpfs"; done
  : >"$job/env"
  for name in HOME PATH LANG LC_ALL TERM TZ; do
    if [ -n "${!name+set}" ]; then printf '%s=%s\0' "$name" "${!name}" >>"$job/env"; fi
  done
  for arg in "${envs[@]}"; do
    if [[ $arg == *=* ]]; then printf '%s\0' "$arg" >>"$job/env"
    elif [ -n "${!arg+set}" ]; then printf '%s=%s\0' "$arg" "${!arg}" >>"$job/env"; fi
  done
  printf '%s\0' "$@" >"$job/command"
  printf '%s' "$(pwd -P)" >"$job/cwd"
  hostname >"$job/hostname"
  echo "$timeout" >"$job/timeout"
  echo "$msize" >"$job/msize"
  : >"$job/stdout"; : >"$job/stderr"; : >"$job/console"
  cp "$here/guest/job-init.sh" "$job/init"

  local virtfs=(-virtfs "local,path=$(qemu_escape "$machine/root"),mount_tag=root,security_model=passthrough,readonly=on,id=root"
                -virtfs "local,path=$(qemu_escape "$job"),mount_tag=job,security_model=passthrough,id=job")
  for i in "${!shares[@]}"; do
    virtfs+=(-virtfs "local,path=$(qemu_escape "${shares[$i]}"),mount_tag=s$i,security_model=passthrough,id=s$i")
  done
  qemu-system-x86_64 -accel tcg,thread=multi -smp 2 -m "$memory" \
    -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt \
    -net none -nographic -no-reboot -monitor none -serial "file:$job/console" \
    -kernel "$machine/vmlinuz" -initrd "$machine/initrd.img" \
    -append "console=ttyS0 quiet panic=-1" "${virtfs[@]}" </dev/null >"$job/qemu.log" 2>&1 &
  qemu_pid=$!
  tail -n +1 -F -s 0.2 --pid="$qemu_pid" "$job/stdout" 2>/dev/null &
  tails+=($!)
  tail -n +1 -F -s 0.2 --pid="$qemu_pid" "$job/stderr" >&2 2>/dev/null &
  tails+=($!)
  if [ "$console" = 1 ]; then tail -n +1 -F -s 0.2 --pid="$qemu_pid" "$job/console" >&2 2>/dev/null & tails+=($!); fi

  # The guest ends the command itself at the time limit; this is the limit for the guest.
  local limit=$((SECONDS + timeout + 60)) killed=0
  while kill -0 "$qemu_pid" 2>/dev/null; do
    if [ $SECONDS -ge $limit ]; then
      say "the guest did not power off in time: killing it (pid $qemu_pid)"
      kill -KILL "$qemu_pid" 2>/dev/null || true
      killed=1
      break
    fi
    sleep 0.5
  done
  local qemu_status=0 status=125
  wait "$qemu_pid" 2>/dev/null || qemu_status=$?
  qemu_pid=""
  for i in "${tails[@]}"; do wait "$i" 2>/dev/null || true; done
  tails=()
  if [ -s "$job/status" ]; then
    status=$(cat "$job/status")
    if [ "$status" = 124 ]; then say "the command ran out of time (${timeout} s) and was ended"; fi
  elif [ $killed = 1 ]; then
    status=124
  else
    say "the guest stopped without the command's status (qemu status $qemu_status); its console:"
    tail -n 40 "$job/console" >&2 || true
    if [ -s "$job/qemu.log" ]; then say "qemu said:"; cat "$job/qemu.log" >&2; fi
  fi
  rm -rf "$job"
  job=""
  return "$status"
}

# qemu's option values double a comma.
qemu_escape() { printf '%s' "${1//,/,,}"; }

status() {
  echo "cache: $cache"
  if ! cache_complete; then echo "state: missing"; return 0; fi
  if cache_current; then echo "state: current"; else echo "state: not current (stamp differs)"; fi
  echo "size: $(du -sh "$cache" | cut -f1)"
  sed 's/^/stamp: /' "$cache/stamp"
}

case ${1:-} in
  build) shift; build "$@";;
  run) shift; run "$@";;
  status) shift; status;;
  *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2;;
esac
