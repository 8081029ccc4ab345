#!/bin/bash
# Second stage of the guest, process 1 on the host's userland (read-only,
# under a tmpfs overlay): mounts the kernel file systems and the shared
# directory, starts systemd-udevd, installs our package and runs the steps of
# the boot named by orva.boot= (scripts/vm/steps.sh), then powers off.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export LANG=C.UTF-8 HOME=/root TERM=linux

arg() { tr ' ' '\n' </proc/cmdline | sed -n "s/^orva\\.$1=//p"; }
power_off() {
  sync
  umount /vm 2>/dev/null
  echo o >/proc/sysrq-trigger
  sleep 30
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t tmpfs -o mode=0755 tmpfs /run
mount -t tmpfs -o mode=1777 tmpfs /tmp
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
[ -d /sys/firmware/efi/efivars ] && mount -t efivarfs efivarfs /sys/firmware/efi/efivars
# The kernel's modules come from its unpacked package on the host.
mkdir -p "/lib/modules/$(uname -r)"
mount --bind "$(arg kmods)" "/lib/modules/$(uname -r)"
# The directory shared with the host, read-write: the package, the simulated
# module and what each boot reports. No cache: the host writes into it too.
mkdir -p /vm
if ! mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288,cache=none vm /vm; then
  echo "vm-guest: the shared directory cannot be mounted" >/dev/console
  power_off
fi

boot=$(arg boot)
out="/vm/$boot"
mkdir -p "$out"
exec >"$out/guest.log" 2>&1
echo "up at $(cut -d' ' -f1 /proc/uptime) s"

/lib/systemd/systemd-udevd --daemon
udevadm trigger --type=subsystems --action=add
udevadm trigger --type=devices --action=add
udevadm settle --timeout=120
# What udev does not load by itself: FUSE (ntfs-3g) and loop devices.
modprobe fuse
modprobe loop
echo "udev settled at $(cut -d' ' -f1 /proc/uptime) s"

. "$(dirname "$0")/steps.sh"
"step_$(arg steps)"
echo "done at $(cut -d' ' -f1 /proc/uptime) s"
dmesg >"$out/dmesg.txt"
touch "$out/done"
power_off
