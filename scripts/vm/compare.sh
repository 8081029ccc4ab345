# Measures of the virtual-machine check (sourced by scripts/vm-check.sh): what
# the program found in the guest against what the system's own tools found
# there, and the verdicts of the checks. Uses pass, fail, measure.

# status DIR FILE: the exit status the guest recorded for FILE.
status() { cat "$1/$2.status" 2>/dev/null || echo missing; }

# dmi_field TEXT-FILE TYPE FIELD: the values of FIELD in the structures of
# TYPE in dmidecode's output, one a line.
dmi_field() {
  awk -v type="$2" -v field="$3" '
    /^Handle / { in_type = ($0 ~ ("DMI type " type ",")) }
    in_type && index($0, "\t" field ": ") == 1 { sub("^\t" field ": ", ""); print }
  ' "$1"
}

# hw_values DIR CLASS PARAM: the value of PARAM of each device of CLASS.
hw_values() {
  jq -r --arg c "$2" --arg p "$3" \
    '.classes[] | select(.name == $c) | .devices[] | (.params[] | select(.name == $p) | .value | tostring)' "$1/hw.json"
}

# Hexadecimal numbers ("0x7", "46f4") in decimal, for awk without strtonum.
awk_hex='function hex(s,  i, n) { s = tolower(s); sub(/^0x/, "", s); n = 0
  for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return n }'

# A measured fact that follows the rules but may surprise a user.
note() { echo "     fact: $*"; }

same() { [ "$1" = "$2" ] || { echo "     program: ${1//$'\n'/ | }" >&2; echo "     system:  ${2//$'\n'/ | }" >&2; return 1; }; }

# Memory devices of the arrays on the system board used as system memory
# (dmidecode names what the program reads as codes).
dmi_board_memory() {
  awk '
    /^Handle / { handle = $2; sub(",", "", handle); type = $0; sub(/.*DMI type /, "", type); sub(/,.*/, "", type) }
    type == 16 && /^\tLocation: / { loc[handle] = $0 }
    type == 16 && /^\tUse: / { use[handle] = $0 }
    type == 17 && /^\tArray Handle: / { arr[++n] = $3 }
    END {
      count = 0
      for (i = 1; i <= n; i++)
        if (loc[arr[i]] ~ /System Board/ && use[arr[i]] ~ /System Memory/) count++
      print count
    }' "$1"
}

compare_hardware() {
  local d=$1 fw=$2
  measure "$fw: orva-ic hw reads the hardware" [ "$(status "$d" hw.json)" = 0 ]
  [ "$(status "$d" hw.json)" = 0 ] || return 0
  measure "$fw: BIOS vendor, version and date as dmidecode shows them" same \
    "$(hw_values "$d" BIOS vendor; hw_values "$d" BIOS version; hw_values "$d" BIOS date)" \
    "$(dmi_field "$d/dmidecode.txt" 0 Vendor; dmi_field "$d/dmidecode.txt" 0 Version; dmi_field "$d/dmidecode.txt" 0 "Release Date")"
  measure "$fw: processors (model, speed) as dmidecode shows them" same \
    "$(paste -d' ' <(hw_values "$d" CPU model) <(hw_values "$d" CPU speed))" \
    "$(paste -d' ' <(dmi_field "$d/dmidecode.txt" 4 Version) <(dmi_field "$d/dmidecode.txt" 4 "Current Speed" | sed 's/ MHz//'))"
  measure "$fw: memory devices on the system board as dmidecode shows them" same \
    "$(hw_values "$d" MEMORY size | wc -l)" "$(dmi_board_memory "$d/dmidecode.txt")"
  # lspci -n -D -mm: slot "class" "vendor" "device" [-rREV] [-pPROGIF] ...;
  # the program keeps the sub-class and the programming interface.
  measure "$fw: PCI functions (address, vendor, device, class) as lspci shows them" same \
    "$(jq -r '.classes[] | select(.name == "PCI") | .devices[] |
        [.name, (.params[] | select(.name == "vendor_id" or .name == "device_id" or .name == "class") | .value)] | @tsv' \
        "$d/hw.json" | awk -F'\t' '{ printf "%s %04x %04x %04x\n", $1, $2, $3, $4 }')" \
    "$(awk '{ gsub(/"/, ""); p = "00"; for (i = 5; i <= NF; i++) if ($i ~ /^-p/) p = substr($i, 3);
              printf "%s %s %s %s%s\n", $1, $3, $4, substr($2, 3, 2), p }' "$d/lspci.txt")"
  measure "$fw: USB devices (vendor, product, serial) as lsusb shows them" same \
    "$(jq -r '.classes[] | select(.name == "USB") | .devices[] |
        [(.params[] | select(.name == "id_vendor" or .name == "id_product" or .name == "serial") | .value | tostring)] |
        join(" ")' "$d/hw.json" | sort)" \
    "$(awk "$awk_hex"'
            /^Device Descriptor:/ { if (v != "") print v, p, s; v = p = s = "" }
            /^  idVendor/ { v = hex($2) } /^  idProduct/ { p = hex($2) } /^  iSerial/ { s = $3 }
            END { if (v != "") print v, p, s }' "$d/lsusb.txt" | awk '$1 != 7531' | sort)"
  measure "$fw: fixed disks (vendor, model, serial) as lsblk shows them" same \
    "$(jq -r '.classes[] | select(.name == "MEDIA") | .devices[] |
        [(.params[] | select(.name == "vendor" or .name == "model" or .name == "serial") | .value)] | join("|")' "$d/hw.json")" \
    "$(jq -r '.blockdevices[] | select(.type == "disk" and .rm == false) |
        [(.vendor // "" | sub(" +$"; "")), (.model // ""), (.serial // "")] | join("|")' "$d/lsblk.json")"
  if [ "$(hw_values "$d" MONITOR edid_hash | wc -l)" -gt 1 ]; then
    note "$fw: $(hw_values "$d" MONITOR edid_hash | wc -l) monitors for the one screen: the video BIOS answers DDC on ports $(jq -r '[.classes[] | select(.name == "MONITOR") | .devices[].name | capture("Port (?<p>[0-9])").p] | join(",")' "$d/hw.json")"
  fi
  note "$fw: memory arrays (dmidecode): $(dmi_field "$d/dmidecode.txt" 16 Location | sort | uniq -c | xargs), so $(hw_values "$d" MEMORY size | wc -l) memory devices are inventoried"
  if [ "$(cat "$d/vbios-signature")" != 55aa ]; then
    # UEFI without a compatibility module shadows no video BIOS at C0000.
    measure "$fw: no video BIOS at C0000, no monitor inventoried (the kernel reads the EDID itself)" \
      [ "$(hw_values "$d" MONITOR edid_hash | wc -l)" = 0 ]
  elif [ -s "$d/edid.gost" ]; then
    measure "$fw: monitor EDID digest as the kernel's EDID gives it" same \
      "$(hw_values "$d" MONITOR edid_hash | sort -u)" "$(cat "$d/edid.gost")"
  else
    fail "$fw: the kernel gives no EDID to compare with"
  fi
}

compare_disks() {
  local d=$1 fw=$2 disk
  measure "$fw: orva-ic hd reads the partition tables" [ "$(status "$d" hd.json)" = 0 ]
  [ "$(status "$d" hd.json)" = 0 ] || return 0
  disk=$(jq -r '.blockdevices[] | select(.type == "disk" and .rm == false and (.name | startswith("sd"))) | .name' "$d/lsblk.json" | head -1)
  measure "$fw: MBR digest as rhash gives it for /dev/$disk" same \
    "$(jq -r '.disks[0].mbr_digest' "$d/hd.json")" "$(cat "$d/mbr-$disk.gost")"
  measure "$fw: partitions (start, size, type) as sfdisk shows them" same \
    "$(jq -r '.disks[0].partitions[] | "\(.start) \(.size) \(.type)"' "$d/hd.json")" \
    "$(jq -r '.partitiontable.partitions[] | "\(.start) \(.size) \(.type)"' "$d/sfdisk-$disk.json" |
       awk "$awk_hex"'{ print $1, $2, hex($3) }')"
  measure "$fw: orva-ic volumes lists the volumes" [ "$(status "$d" volumes.json)" = 0 ]
  measure "$fw: volumes (file-system type, UUID) as blkid shows them" same \
    "$(jq -r '.disks[].partitions[] | select(.fs_type != null) | "\(.node) \(.fs_type) \(.uuid)"' "$d/volumes.json" | sort)" \
    "$(awk -F= '/^DEVNAME=/ { dev = $2 } /^TYPE=/ { type = $2 } /^UUID=/ { uuid = $2 }
               /^$/ { if (dev ~ /^\/dev\/sd/ && type) print dev, type, uuid; dev = type = uuid = "" }
               END { if (dev ~ /^\/dev\/sd/ && type) print dev, type, uuid }' "$d/blkid.txt" |
         grep -v -F -f <(jq -r '.blockdevices[] | select(.rm == true) | "/dev/" + .name' "$d/lsblk.json") | sort)"
}

compare_first() {
  local d=$1 fw=$2
  measure "$fw: our package installs in the guest" [ "$(status "$d" dpkg.log)" = 0 ]
  compare_hardware "$d" "$fw"
  compare_disks "$d" "$fw"
  measure "$fw: the reference is approved into the module" [ "$(status "$d" approve.log)" = 0 ]
  measure "$fw: the check passes on the approved computer (exit 0)" [ "$(status "$d" check.json)" = 0 ]
}

# check_names DIR: the failed sections and the files the check names.
check_failures() {
  jq -r '.sections[] | select(.passed | not) | .title' "$1/check.json"
  jq -r '.file_records[].path' "$1/check.json"
}

# The hardware inventory without the BIOS image's digests.
hw_without_bios_image() {
  jq -c '.classes[] | .devices[] |= (.params |= map(select(.name | test("^hash[0-9]+$") | not)))' "$1/hw.json"
}

compare_second() {
  local first=$1 d=$2 fw=$3
  measure "$fw: the check fails after the changes (exit 3)" [ "$(status "$d" check.json)" = 3 ]
  [ -s "$d/check.json" ] || return 0
  measure "$fw: the check names the MBR" grep -q 'MBR' <(jq -r '.sections[].lines[]' "$d/check.json")
  measure "$fw: the check names the NTFS file" grep -q -i 'hosts' <(jq -r '.file_records[].path' "$d/check.json")
  measure "$fw: the check names the ext4 file" grep -q 'motd' <(jq -r '.file_records[].path' "$d/check.json")
  measure "$fw: between the boots the hardware is the same but for the BIOS image" same \
    "$(hw_without_bios_image "$d")" "$(hw_without_bios_image "$first")"
  local changed
  changed=$(jq -r '.sections[].lines[] | select(test("^[0-9a-f]{5} \\([0-9]+K\\)-"))' "$d/check.json" | cut -d- -f1 | xargs)
  if [ -n "$changed" ]; then
    note "$fw: BIOS image blocks that changed between the boots: $changed; bytes (offset from E0000, hex):" \
      "$(cmp -l "$first/bios-area.bin" "$d/bios-area.bin" | awk '{ printf "%x ", $1 - 1 }' | cut -c1-400)"
  else
    note "$fw: the BIOS image is the same at both boots"
  fi
}
