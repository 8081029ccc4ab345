#!/usr/bin/env bash
# Installs every Debian package the build, tests, demo and benchmarks need. Idempotent.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build ccache pkg-config git
  # libraries
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libqt6svg6
  zlib1g-dev libudev-dev libx86emu-dev libssl-dev libblkid-dev
  # NTFS volumes: the FUSE driver the program starts (with fuse3), and its
  # library and tools that write the simulated computers' NTFS volumes
  ntfs-3g fuse3 ntfs-3g-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # peers and fixtures
  rhash time libgcrypt20-dev libhivex-bin unicode-data python3 e2fsprogs dosfstools mtools fdisk udev aide dmidecode edid-decode pciutils jq
  # icons for the application resources
  adwaita-icon-theme
  # the virtual-machine check: QEMU with SeaBIOS and OVMF, the guest's first
  # stage, Debian's kernel modules, NTFS, USB tools and the QEMU monitor
  qemu-system-x86 ovmf seabios busybox-static cpio kmod ntfs-3g usbutils socat
  # looking at the program without a display
  xvfb x11-apps imagemagick xdotool
  # the program's platform plugins (vnc among them) and a font with Cyrillic
  qt6-qpa-plugins fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
