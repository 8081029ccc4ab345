# Steps of the guest's boots (sourced by guest.sh, $out is this boot's
# directory in the shared one). Each command's output goes to a file of $out,
# its exit status to FILE.status; the host judges them.
export ORVA_SIM_DIR=/vm/module

# run FILE COMMAND...
run() {
  local file=$1
  shift
  "$@" >"$out/$file" 2>"$out/$file.err"
  echo $? >"$out/$file.status"
}

install_package() {
  run dpkg.log dpkg -i /vm/orva.deb
}

# What the program sees, and what the system's own tools say about the same.
inventory() {
  run hw.json timeout 120 orva-ic hw --json
  run hd.json timeout 60 orva-ic hd --json
  run volumes.json timeout 60 orva-ic volumes --json
  run dmidecode.txt dmidecode
  run lspci.txt lspci -n -D -mm
  run lsusb.txt lsusb -v
  run blkid.txt blkid -o export
  run lsblk.json lsblk -J -o NAME,TYPE,RM,VENDOR,MODEL,REV,SERIAL
  local d
  for d in /sys/block/sd*; do
    d=${d##*/}
    run "sfdisk-$d.json" sfdisk --json "/dev/$d"
    dd if="/dev/$d" bs=512 count=1 status=none | rhash --gost94-cryptopro --simple - | cut -d' ' -f1 >"$out/mbr-$d.gost"
  done
  # The EDID the kernel's driver read (sysfs gives its size as 0); the
  # program hashes its base block.
  for d in /sys/class/drm/card*-*/edid; do
    cat "$d" >/tmp/edid 2>/dev/null
    [ -s /tmp/edid ] || continue
    head -c 128 /tmp/edid | rhash --gost94-cryptopro --simple - | cut -d' ' -f1 >"$out/edid.gost"
    edid-decode /tmp/edid >"$out/edid.txt" 2>&1
  done
  # The first bytes of the video BIOS (55 aa when there is one).
  od -An -tx1 -N2 -j $((0xC0000)) /dev/mem | tr -d ' ' >"$out/vbios-signature"
  # The BIOS area the program hashes, to tell what changes between boots.
  dd if=/dev/mem bs=64k skip=14 count=2 of="$out/bios-area.bin" status=none
  [ -e /sys/firmware/efi/systab ] && cp /sys/firmware/efi/systab "$out/systab"
  records "$out/udev"
}

# The udev records of the block devices with their sysfs paths.
records() {
  local dir=$1 f dev
  mkdir -p "$dir"
  for f in /sys/class/block/*; do
    dev=$(cat "$f/dev")
    cp "/run/udev/data/b$dev" "$dir/${f##*/}"
    readlink -f "$f" >"$dir/${f##*/}.syspath"
  done
}

uuid_of() { blkid -s UUID -o value "/dev/disk/by-label/$1"; }

# A module that knows this computer: accounts, then the hardware, the
# partition tables, two files (ext4, NTFS) and two registry branches approved
# as the reference. Each part is tried; the status says whether all went in.
approve() {
  rm -rf "$ORVA_SIM_DIR"
  orva-sim init --class 1 &&
    orva-sim format &&
    orva-sim enroll SUPERVISOR --group ADMINS --id 0123456789AB --family 01 --password secret &&
    orva-ic module approve hw &&
    orva-ic module approve hd || return 1
  local ntfs ext4 status=0
  ntfs=$(uuid_of SYSTEM)
  ext4=$(uuid_of DATA)
  rm -f /tmp/files.icl /tmp/registry.rcl
  orva-ic fs add --list /tmp/files.icl "$ext4" /orva/motd --flags 12 || status=1
  orva-ic fs add --list /tmp/files.icl "$ntfs" /Windows/System32/drivers/etc/hosts --flags 12 || status=1
  [ -e /tmp/files.icl ] && { orva-ic module approve fs /tmp/files.icl || status=1; }
  mkdir -p /mnt/windows
  ntfs-3g -o ro /dev/disk/by-label/SYSTEM /mnt/windows || return 1
  orva-ic rcl add /tmp/registry.rcl /mnt/windows/Windows \
      key '\REGISTRY\MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' &&
    orva-ic rcl add /tmp/registry.rcl /mnt/windows/Windows \
      value '\REGISTRY\MACHINE\SYSTEM\ControlSet001\Services\Tcpip' ImagePath || status=1
  umount /mnt/windows
  orva-ic module approve reg "$ntfs" /Windows /tmp/registry.rcl || status=1
  return "$status"
}

step_first() {
  install_package
  inventory
  run approve.log approve
  run module.json orva-ic module show --json
  run check.json timeout 180 orva-ic check --json
}

# The program on the framebuffer: the administrator logs on (identifier
# here, password typed by the host on the USB keyboard); when the report is
# complete the host saves the screen.
gui() {
  mkdir -p /tmp/gui
  cd /tmp/gui || return 1
  local log_lines
  log_lines=$(orva-sim log | wc -l)
  QT_QPA_PLATFORM=linuxfb:fb=/dev/fb0 orva-ng-gui >"$out/gui.log" 2>&1 &
  local pid=$! i
  sleep 5
  orva-sim touch --user SUPERVISOR
  sleep 2
  touch "$out/gui-keys"
  # The check writes its outcome to the event log at its end.
  for ((i = 0; i < 240; i++)); do
    [ "$(orva-sim log | wc -l)" -gt "$((log_lines + 1))" ] && break
    sleep 1
  done
  sleep 3
  touch "$out/gui-shot"
  for ((i = 0; i < 60; i++)); do
    [ -e "$out/gui-done" ] && break
    sleep 1
  done
  orva-sim untouch
  kill "$pid"
  wait "$pid"
  orva-sim log >"$out/event.log"
  cd /
}

step_second() {
  install_package
  run hw.json timeout 120 orva-ic hw --json
  dd if=/dev/mem bs=64k skip=14 count=2 of="$out/bios-area.bin" status=none
  run check.json timeout 180 orva-ic check --json
  [ "$(arg gui)" = yes ] && gui
}

step_records() {
  modprobe loop
  truncate -s 8M /tmp/loop.img
  mkfs.fat -n LOOPFAT -i 10C0FA70 /tmp/loop.img >/dev/null
  losetup -f /tmp/loop.img
  udevadm settle --timeout=30
  records "$out"
  local f a
  for f in /sys/class/block/*; do
    udevadm info --query=all --path="$(readlink -f "$f")" >"$out/${f##*/}.info"
    # The sysfs attributes the rules read.
    for a in removable device/vendor device/model device/rev serial wwid device/serial device/firmware_rev; do
      [ -r "$f/$a" ] && printf '%s=[%s]\n' "$a" "$(cat "$f/$a")"
    done >"$out/${f##*/}.attrs"
  done
  losetup -D
}
