# Sourced by the scripts that install Debian packages: whether one is installed, and the
# packages this machine needs to make and run the emulated PC (tools/guest.sh).
have_package() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
guest_host_packages=(qemu-system-x86 qemu-user-static debootstrap busybox-static)

# Installs those of the packages that are missing (as root). An old index can name files
# the mirror no longer has: then it updates (what can be updated) and tries once more.
install_missing() {
  local need=() p
  for p in "$@"; do have_package "$p" || need+=("$p"); done
  [ ${#need[@]} -eq 0 ] && return 0
  echo "installing ${need[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null && return 0
  apt-get update -qq || true
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
}
