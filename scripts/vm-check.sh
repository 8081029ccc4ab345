#!/usr/bin/env bash
# Checks the program on real firmware and a real kernel: QEMU (TCG) boots
# Debian's kernel on SeaBIOS and on OVMF with an AHCI disk (MBR by sfdisk,
# NTFS with a Windows directory, ext4, FAT), a USB stick, a USB keyboard and
# a stdvga with EDID. The guest runs on this machine's userland, shared
# read-only over virtio-9p under a tmpfs overlay, with a real systemd-udevd,
# and installs our Debian package. Each firmware gets two boots: the first
# takes the inventories, compares them with dmidecode, lspci, lsusb, sfdisk
# and blkid, approves the reference into a simulated module and checks (pass);
# between the boots one NTFS file, one ext4 file and one MBR byte are changed
# from here; the second boot checks again (it must fail naming the three) and
# on SeaBIOS also shows the report in orva-ng-gui on linuxfb, saved as PNG.
#
#   scripts/vm-check.sh                 the whole check (as root)
#   scripts/vm-check.sh --udev-records DIR
#                                       one boot with a disk on every bus:
#                                       the guest's udev records into DIR
#
# Downloads (the kernel package) are kept in build/vm-cache; each run works
# in build/vm-run. One line per measure, then "N passed, M failed"; the exit
# status is 0 only when nothing failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

records_dir=
case "${1:-}" in
  "") ;;
  --udev-records) records_dir=$(realpath -m "${2:?--udev-records needs a directory}") ;;
  -h|--help) sed -n '2,/^set -e/p' "$0" | grep '^#' | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "vm-check.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
esac
[ "$(id -u)" = 0 ] || { echo "vm-check.sh: run as root: the guest shares this machine's root, the NTFS volume is filled through FUSE" >&2; exit 2; }

started=$(date +%s)
./scripts/setup.sh
cache=$root/build/vm-cache
work=$root/build/vm-run
mkdir -p "$cache"

passed=0
failed=0
pass() { echo "ok   $*"; passed=$((passed + 1)); }
fail() { echo "FAIL $*"; failed=$((failed + 1)); }
# measure TEXT COMMAND...: one line, pass when the command succeeds.
measure() {
  local text=$1
  shift
  if "$@"; then pass "$text"; else fail "$text"; fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}

# ---- build and package ------------------------------------------------------
. scripts/vm/host.sh
quiet cmake -S . -B build -G Ninja -DORVA_WERROR=ON
quiet cmake --build build --target orva-ng-gui orva-ic orva-sim orva tmid simcomputer-bin
rm -f build/orva_*.deb
(cd build && quiet cpack -G DEB)
deb=$(ls build/orva_*.deb)

# ---- kernel and first stage ---------------------------------------------------
prepare_kernel "$cache"

mkdir -p "$work"
trap cleanup_all EXIT
rm -rf "$work"
mkdir -p "$work/share"
cp "$deb" "$work/share/orva.deb"

if [ -n "$records_dir" ]; then
  make_record_disks "$work"
  record_devices "$work"
  boot records seabios records || true
  collect_records "$work/share/records" "$records_dir"
  finish
  exit
fi

. scripts/vm/compare.sh
make_check_disks "$work"
for fw in seabios ovmf; do
  rm -rf "$work/share/module"
  cp "$work/disk.img" "$work/disk-$fw.img"
  check_devices "$work" "$fw"
  measure "$fw: first boot (inventories, approval, check) finished" boot "$fw-1" "$fw" first
  compare_first "$work/share/$fw-1" "$fw"
  change_disk "$work/disk-$fw.img"
  gui=no
  [ "$fw" = seabios ] && gui=yes
  measure "$fw: second boot (check after the changes) finished" boot "$fw-2" "$fw" second "$gui"
  compare_second "$work/share/$fw-1" "$work/share/$fw-2" "$fw"
  if [ "$gui" = yes ]; then
    measure "$fw: orva-ng-gui showed the report on linuxfb: $work/screendump.png" [ -s "$work/screendump.png" ]
  fi
done
echo "time: $(($(date +%s) - started)) s"
finish
