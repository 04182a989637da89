# Sourced by the scripts that install Debian packages: whether one is installed, and the
# packages this machine needs to make and run the emulated PC (tools/guest.sh).
have_package() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
guest_host_packages=(qemu-system-x86 qemu-user-static debootstrap busybox-static)
