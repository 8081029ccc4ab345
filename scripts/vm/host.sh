# Host side of the virtual-machine check (sourced by scripts/vm-check.sh):
# the kernel and the first stage, the disk images, the boots and the changes
# made from outside between them. Uses $root, $work, pass and fail.

kernel_version=
kernel=
kmods=
initrd=
qemu_pid=
fuse_dir=

# quiet COMMAND...: its output only when it fails.
quiet() {
  local out
  if out=$("$@" 2>&1); then return 0; fi
  printf '%s\n' "$out" >&2
  return 1
}

# The kernel of linux-image-amd64 from its package, unpacked with its
# module list, and the first stage: busybox with what reaching the host's
# root needs (virtio, 9p, overlay).
prepare_kernel() {
  local cache=$1 pkg dir
  pkg=$(apt-cache depends linux-image-amd64 | awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }')
  [ -n "$pkg" ] || { echo "vm-check: no kernel package behind linux-image-amd64" >&2; exit 1; }
  kernel_version=${pkg#linux-image-}
  dir=$cache/$pkg
  if [ ! -e "$dir/ready" ]; then
    rm -rf "$dir" "$cache"/linux-image-*
    mkdir -p "$dir"
    (cd "$cache" && { apt-get download "$pkg" 2>/dev/null || { apt-get update -qq && apt-get download "$pkg" 2>/dev/null; }; })
    dpkg-deb -x "$cache/${pkg}_"*.deb "$dir/root"
    rm -f "$cache/${pkg}_"*.deb
    quiet depmod -b "$dir/root" "$kernel_version"
    local stage=$dir/initrd
    mkdir -p "$stage/bin" "$stage/modules" "$stage/proc" "$stage/sys" "$stage/dev"
    cp /bin/busybox "$stage/bin/"
    install -m 755 "$root/scripts/vm/initramfs-init" "$stage/init"
    local m
    for m in virtio_pci 9pnet_virtio 9p overlay; do
      modprobe -d "$dir/root" -S "$kernel_version" --show-depends "$m"
    done | awk '$1 == "insmod" && !seen[$2]++ { print $2 }' | while read -r m; do
      cp "$m" "$stage/modules/"
      basename "$m"
    done >"$stage/modules.order"
    (cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) >"$dir/initrd.gz"
    rm -rf "$stage"
    touch "$dir/ready"
  fi
  kernel=$dir/root/boot/vmlinuz-$kernel_version
  kmods=$dir/root/lib/modules/$kernel_version
  initrd=$dir/initrd.gz
}

# ---- disks --------------------------------------------------------------------

# The AHCI disk (MiB): NTFS "SYSTEM" with the Windows directory, ext4
# "DATA", FAT "BOOT".
ntfs_start=1 ntfs_size=40
ext4_start=41 ext4_size=24
fat_start=65 fat_size=12
disk_size=80
ext4_uuid=3f5d6a2e-8c41-4b7e-9a0d-2c6e1b9f7a10
fat_uuid=4A1F0C2B

# put_part FILE IMAGE START: FILE into IMAGE at START MiB; get_part IMAGE
# FILE START SIZE: the reverse.
put_part() { dd if="$1" of="$2" bs=1M seek="$3" conv=notrunc,sparse status=none; }
get_part() { dd if="$1" of="$2" bs=1M skip="$3" count="$4" status=none; }

make_check_disks() {
  local w=$1 t=$1/parts
  mkdir -p "$t"
  truncate -s "${disk_size}M" "$w/disk.img"
  sfdisk -q "$w/disk.img" <<EOF
label: dos
label-id: 0x4f525641
start=${ntfs_start}MiB, size=${ntfs_size}MiB, type=7, bootable
start=${ext4_start}MiB, size=${ext4_size}MiB, type=83
start=${fat_start}MiB, size=${fat_size}MiB, type=c
EOF
  # NTFS: the Windows directory with hives written by simcomputer's REGF
  # writer, filled through ntfs-3g.
  truncate -s "${ntfs_size}M" "$t/ntfs.img"
  quiet mkntfs -q -F -Q -L SYSTEM -p $((ntfs_start * 2048)) -H 255 -S 63 "$t/ntfs.img"
  "$root/build/tools/simcomputer/simcomputer" "$root/scripts/vm/windows.txt" "$t/windows"
  fuse_dir=$t/mnt
  mkdir -p "$fuse_dir"
  ntfs-3g "$t/ntfs.img" "$fuse_dir"
  cp -r "$t/windows/Windows" "$fuse_dir/"
  mkdir -p "$fuse_dir/Windows/System32/drivers/etc"
  printf '127.0.0.1 localhost\r\n' >"$fuse_dir/Windows/System32/drivers/etc/hosts"
  head -c 16384 /dev/zero | tr '\0' 'B' >"$fuse_dir/bootmgr"
  umount "$fuse_dir"
  fuse_dir=
  put_part "$t/ntfs.img" "$w/disk.img" "$ntfs_start"
  # ext4 and FAT without mounting.
  mkdir -p "$t/ext4/orva" "$t/fat/EFI/BOOT"
  printf 'Welcome to the protected station.\n' >"$t/ext4/orva/motd"
  printf 'root:x:0:0::/root:/bin/sh\n' >"$t/ext4/orva/passwd"
  quiet mke2fs -q -t ext4 -L DATA -U "$ext4_uuid" -d "$t/ext4" -E root_owner=0:0 "$t/ext4.img" "${ext4_size}M"
  put_part "$t/ext4.img" "$w/disk.img" "$ext4_start"
  mkfs.fat -C -n BOOT -i "$fat_uuid" "$t/fat.img" $((fat_size * 1024)) >/dev/null
  printf 'set timeout=5\n' >"$t/fat/EFI/BOOT/grub.cfg"
  mcopy -s -i "$t/fat.img" "$t/fat/EFI" ::/
  put_part "$t/fat.img" "$w/disk.img" "$fat_start"
  # The USB stick: one FAT partition.
  truncate -s 16M "$w/stick.img"
  printf 'label: dos\nstart=1MiB, type=c\n' | sfdisk -q "$w/stick.img"
  mkfs.fat -C -n STICK "$t/stick.img" $((15 * 1024)) >/dev/null
  put_part "$t/stick.img" "$w/stick.img" 1
  rm -rf "$t"
}

# From outside, between two boots: one MBR byte (boot code), one ext4 file
# (its data block overwritten in place, so only the contents change) and
# one NTFS file (rewritten through ntfs-3g's ntfscp).
change_disk() {
  local img=$1 t=$work/change
  mkdir -p "$t"
  printf '\x4f' | dd of="$img" bs=1 seek=100 conv=notrunc status=none
  get_part "$img" "$t/ext4.img" "$ext4_start" "$ext4_size"
  local block size
  block=$(debugfs -R "bmap /orva/motd 0" "$t/ext4.img" 2>/dev/null)
  size=$(dumpe2fs -h "$t/ext4.img" 2>/dev/null | awk -F: '/^Block size/ { print $2 + 0 }')
  printf 'Welcome to the tampered station.\n' |
    dd of="$img" bs=1 seek=$((ext4_start * 1048576 + block * size)) conv=notrunc status=none
  get_part "$img" "$t/ntfs.img" "$ntfs_start" "$ntfs_size"
  printf '127.0.0.1 localhost\r\n10.0.0.66 update.microsoft.com\r\n' >"$t/hosts"
  ntfscp -q -f "$t/ntfs.img" "$t/hosts" /Windows/System32/drivers/etc/hosts
  put_part "$t/ntfs.img" "$img" "$ntfs_start"
  rm -rf "$t"
}

# ---- machines -----------------------------------------------------------------

# The checked computer: the AHCI disk on the chipset's controller, the USB
# stick and keyboard on an xHCI controller, stdvga with EDID.
check_devices() {
  local w=$1 fw=$2
  qemu_devices=(
    -drive "if=none,id=disk,format=raw,file=$w/disk-$fw.img"
    -device "ide-hd,drive=disk,bus=ide.0,model=ORVA SATA DISK,serial=ORVA-0001,ver=1.0"
    -device qemu-xhci,id=xhci
    -drive "if=none,id=stick,format=raw,file=$w/stick.img"
    -device "usb-storage,bus=xhci.0,drive=stick,removable=on,serial=ORVA-STICK-01"
    -device usb-kbd,bus=xhci.0
  )
}

# A disk on every bus udev describes: ATA (disk and CD), SCSI behind
# virtio-scsi, virtio-blk, NVMe, USB mass storage (fixed and removable).
make_record_disks() {
  local w=$1 name
  for name in ata scsi vblk nvme usb stick; do
    truncate -s 8M "$w/$name.img"
    printf 'label: dos\nlabel-id: 0x0dd5eed5\nstart=1MiB, type=83\n' | sfdisk -q "$w/$name.img"
  done
  truncate -s 4M "$w/cd.iso"
}
record_devices() {
  local w=$1
  qemu_devices=(
    -drive "if=none,id=ata,format=raw,file=$w/ata.img"
    -device "ide-hd,drive=ata,bus=ide.0,model=ORVA SATA DISK,serial=ORVA-0001,ver=1.0"
    -drive "if=none,id=cd,format=raw,readonly=on,file=$w/cd.iso"
    -device "ide-cd,drive=cd,bus=ide.1,model=ORVA DVD-ROM,serial=ORVA-CD-01"
    -device virtio-scsi-pci,id=vscsi
    -drive "if=none,id=scsi,format=raw,file=$w/scsi.img"
    -device "scsi-hd,drive=scsi,bus=vscsi.0,vendor=ORVA,product=SCSI DISK,ver=2.5,serial=ORVA-SCSI-01"
    -drive "if=none,id=vblk,format=raw,file=$w/vblk.img"
    -device "virtio-blk-pci,drive=vblk,serial=ORVA-VBLK-01"
    -drive "if=none,id=nvme,format=raw,file=$w/nvme.img"
    -device "nvme,drive=nvme,serial=ORVA-NVME-01"
    -device qemu-xhci,id=xhci
    -drive "if=none,id=usb,format=raw,file=$w/usb.img"
    -device "usb-storage,bus=xhci.0,drive=usb,serial=ORVA-USB-01"
    -drive "if=none,id=stick,format=raw,file=$w/stick.img"
    -device "usb-storage,bus=xhci.0,drive=stick,removable=on,serial=ORVA-STICK-01"
  )
}

monitor() { printf '%s\n' "$1" | socat - "UNIX-CONNECT:$work/monitor.sock" >/dev/null; }

# wait_file FILE SECONDS: true when FILE appears while QEMU runs.
wait_file() {
  local i
  for ((i = 0; i < $2 * 4; i++)); do
    [ -e "$1" ] && return 0
    kill -0 "$qemu_pid" 2>/dev/null || return 1
    sleep 0.25
  done
  return 1
}

# The guest shows the program on linuxfb and asks for the password: type it
# on the USB keyboard, wait for the report, save the screen.
gui_session() {
  local dir=$1 key
  wait_file "$dir/gui-keys" 240 || return 0
  for key in s e c r e t ret; do
    monitor "sendkey $key"
    sleep 0.2
  done
  wait_file "$dir/gui-shot" 240 || return 0
  # The report ends scrolled to its last lines: focus it and scroll back up
  # to the disk section, so one picture shows the disk and file lines.
  monitor "sendkey shift-tab"
  sleep 0.3
  for key in up up up up up up up up; do
    monitor "sendkey $key"
    sleep 0.1
  done
  sleep 1
  monitor "screendump $work/screendump.ppm"
  sleep 1
  convert "$work/screendump.ppm" "$work/screendump.png" && rm -f "$work/screendump.ppm"
  touch "$dir/gui-done"
}

# boot NAME FIRMWARE STEPS [GUI]: one boot of the machine in qemu_devices;
# true when the guest ran its steps to the end.
boot() {
  local name=$1 fw=$2 steps=$3 gui=${4:-no} firmware=()
  case "$fw" in
    seabios) firmware=(-bios /usr/share/seabios/bios-256k.bin) ;;
    ovmf)
      cp /usr/share/OVMF/OVMF_VARS_4M.fd "$work/ovmf-vars.fd"
      firmware=(-drive if=pflash,format=raw,readonly=on,file=/usr/share/OVMF/OVMF_CODE_4M.fd
                -drive "if=pflash,format=raw,file=$work/ovmf-vars.fd")
      ;;
  esac
  rm -rf "$work/share/$name" "$work/monitor.sock"
  mkdir -p "$work/share/$name"
  local t0=$SECONDS
  timeout "${ORVA_VM_TIMEOUT:-300}" qemu-system-x86_64 -machine q35 -accel tcg -cpu max -m 1536 -smp 1 \
    -nodefaults -no-user-config -no-reboot -display none \
    "${firmware[@]}" \
    -device VGA,edid=on,xres=1024,yres=768 \
    -serial "file:$work/$name.console" \
    -monitor "unix:$work/monitor.sock,server=on,wait=off" \
    -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 quiet panic=1 orva.init=$root/scripts/vm/guest.sh orva.kmods=$kmods orva.boot=$name orva.steps=$steps orva.gui=$gui" \
    -fsdev "local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap" \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    -fsdev "local,id=vm,path=$work/share,security_model=none,multidevs=remap" \
    -device virtio-9p-pci,fsdev=vm,mount_tag=vm \
    "${qemu_devices[@]}" &
  qemu_pid=$!
  [ "$gui" = yes ] && gui_session "$work/share/$name"
  local status=0
  wait "$qemu_pid" || status=$?
  qemu_pid=
  echo "     $name: QEMU ended with $status after $((SECONDS - t0)) s" >&2
  [ -e "$work/share/$name/done" ]
}

# Whatever a failed step left: QEMU, the FUSE mount of the NTFS image.
cleanup_all() {
  [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null && wait "$qemu_pid" 2>/dev/null
  [ -n "$fuse_dir" ] && umount "$fuse_dir" 2>/dev/null
  return 0
}

# The records of the --udev-records boot under the fixtures' names
# (transport, then -partN for partitions) with the attributes the rules read.
collect_records() {
  local from=$1 to=$2 f dev path name
  mkdir -p "$to"
  for f in "$from"/*.syspath; do
    dev=$(basename "$f" .syspath)
    path=$(cat "$f")
    case "$path" in
      */ata*/block/sr*) name=ata-cdrom ;;
      */ata*) name=ata-disk ;;
      */virtio*/host*) name=scsi-disk ;;
      */usb*) name=usb-disk ;;
      */virtio*/block/*) name=virtio-disk ;;
      */nvme/*) name=nvme-disk ;;
      */virtual/block/loop0) name=loop ;;
      *) continue ;;
    esac
    if ! grep -q '^removable=' "$from/$dev.attrs"; then
      name=$name-partition${dev##*[a-z]}
    elif [ "$name" = usb-disk ] && grep -q '^removable=\[1\]' "$from/$dev.attrs"; then
      name=usb-stick
    fi
    [ "$name" = usb-disk-partition1 ] && grep -q '^removable=\[1\]' "$from/${dev%[0-9]}.attrs" && name=usb-stick-partition1
    cp "$from/$dev" "$to/$name"
    case "$name" in
      *-partition*) ;;
      *) { echo "syspath=[$path]"; cat "$from/$dev.attrs"; } >"$to/$name.sysfs" ;;
    esac
  done
  pass "udev records of every transport in $to"
}
