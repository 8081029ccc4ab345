// The udev database records of block devices, as systemd-udevd's
// persistent-storage rules and their helpers (ata_id, scsi_id, usb_id, blkid,
// path_id) write them for each transport.
#ifndef SIMCOMPUTER_UDEV_RULES_H
#define SIMCOMPUTER_UDEV_RULES_H

#include "simcomputer/simcomputer.h"

#include <string>
#include <vector>

namespace simcomputer {

enum class Transport { ata, scsi, usb, virtio, nvme, none };

// Where a block device sits, as the sysfs writer laid it out.
struct BlockPlace {
    Transport transport = Transport::none;
    std::string id_path;     // ID_PATH; empty: none
    std::string ata_compat;  // ID_PATH_ATA_COMPAT (ATA only)
    const UsbDevice *usb = nullptr; // the USB device of a USB disk
    std::string wwid;        // the NVMe namespace's wwid attribute
    std::string ata_serial;  // ATA, NVMe: the serial the drive reports
    unsigned diskseq = 0;
    unsigned sequence = 0;   // order of initialisation, for the I: line
};

struct UdevRecord {
    std::vector<std::string> links; // below /dev
    int link_priority = 0;
    std::vector<Property> properties;
    std::vector<std::string> tags;
    unsigned long long usec = 0;
};

// The record of a disk (cdrom, loop …) and of one of its partitions; the
// description's own properties and links come last and win.
UdevRecord disk_record(const BlockDevice &b, const BlockPlace &place);
UdevRecord partition_record(const UdevRecord &disk, const BlockDevice &b, const Partition &part,
                            const BlockPlace &place);
std::string record_text(const UdevRecord &record);

// udev's text forms: blanks collapsed into '_' and other characters outside
// [0-9A-Za-z#+-.:=@_] replaced by '_' (ID_MODEL), and \xHH escapes for them
// (ID_MODEL_ENC).
std::string udev_replaced(const std::string &s);
std::string udev_encoded(const std::string &s);

} // namespace simcomputer

#endif
