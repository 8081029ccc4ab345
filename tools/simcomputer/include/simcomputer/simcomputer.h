// Simulated computers: a description file turned into a system-root directory
// (sysfs, udev database, device nodes, physical memory, kernel command line).
// The format is documented in tools/simcomputer/README.md.
#ifndef SIMCOMPUTER_SIMCOMPUTER_H
#define SIMCOMPUTER_SIMCOMPUTER_H

#include "simcomputer/regf.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace simcomputer {

struct Error {
    int line = 0; // 0 when the error is not tied to a line
    std::string message;
    std::string text() const;
};

struct PciFunction {
    uint16_t domain = 0;
    uint8_t bus = 0, device = 0, function = 0;
    uint16_t vendor = 0, device_id = 0;
    uint32_t class_code = 0; // base class, sub-class, programming interface
    uint8_t revision = 0;
    uint16_t subsystem_vendor = 0, subsystem_device = 0;
    std::string bridge; // address of the bridge it sits behind, or empty
    std::string address() const; // "DDDD:BB:DD.F"
};

struct UsbBus {
    unsigned number = 0;
    std::string controller; // PCI address, or empty
};

struct UsbDevice {
    std::string name; // "1-1", "1-1.2"
    unsigned bus = 0;
    uint16_t vendor = 0, product = 0;
    std::optional<std::string> serial;
    std::string manufacturer, product_name;
    uint8_t device_class = 0;
    uint8_t interface_class = 0xff;
    unsigned interfaces = 1;
    unsigned speed = 480;
};

struct Property {
    std::string key, value;
};

struct FileSystem;

struct Partition {
    unsigned number = 0; // 1-4 primary slots of the MBR, 5... logical partitions in chain order
    uint64_t start = 0, sectors = 0;
    std::vector<Property> properties;
    // Table entry and contents (disk_image.cpp).
    uint8_t type = 0x83;
    uint8_t boot = 0x00;                 // boot indicator byte
    std::string seed;                    // first sector and the 62 after it from seeded bytes
    unsigned next = 0;                   // logical: its record links to the record of this logical
    std::optional<uint64_t> next_at;     // logical: its record links to this byte offset in the extended partition
    bool ebr_signature = true;           // logical: its extended boot record ends in 55 AA
    std::shared_ptr<FileSystem> fs; // made with the real tools, or none
};

// What a file system holds: directories, files, symbolic links, named pipes,
// sockets and device nodes (these three on ext only) and virtual-disk image
// files (raw disk images with a DOS partition table and their own file
// systems). An entry replaces what an earlier one put at its path.
struct FsEntry {
    enum Kind { dir, file, image, link, fifo, socket, device } kind = file;
    std::string path;                   // absolute inside the file system
    unsigned mode = 0;                  // 0: 0755 for directories, 0644 for the others
    std::optional<std::string> content; // file: the bytes
    uint64_t size = 0;                  // file without content: patterned bytes; image: its size
    std::vector<Partition> partitions;  // image
    std::string target;                 // link: what it points at
    bool block = false;                 // device: a block device (else a character device)
    unsigned major = 0, minor = 0;      // device: its number
};

struct FileSystem {
    std::string type;  // ext2, ext3, ext4, vfat, ntfs
    std::string label;
    std::string uuid;  // ext: 36-character UUID; vfat: XXXX-XXXX; ntfs: 16 hex digits; empty: derived from seed
    std::string seed;  // where the volume lies, for derived UUIDs
    uint64_t first_sector = 0; // ntfs: the partition's first sector on its disk (hidden sectors)
    bool dirty = false;        // ntfs: the volume's dirty flag set
    std::vector<FsEntry> entries;
    std::string id_uuid() const; // as udev's ID_FS_UUID shows it
};

// An active LVM logical volume: device-mapper device dm-N backed by a file.
struct LvmVolume {
    std::string group, name;
    uint64_t size = 0;
    unsigned minor = 0;  // dm-N, 253:N
    bool udev_names = true; // DM_VG_NAME/DM_LV_NAME in the udev database
    std::shared_ptr<FileSystem> fs;
    std::string dm_name() const; // "vg--data-lv--1"
};

enum class BlockKind { disk, cdrom, floppy, loop };

struct BlockDevice {
    BlockKind kind = BlockKind::disk;
    std::string name;
    unsigned major = 0, minor = 0;
    uint64_t size = 0; // bytes
    bool removable = false;
    bool is_virtual = false;
    std::string controller; // PCI address or USB device name, or empty
    std::string bus;        // transport: ata, scsi, usb, virtio, nvme; empty: from the controller and name
    std::string vendor, model, revision, serial;
    std::vector<Property> properties;
    std::vector<std::string> links; // below /dev
    std::vector<Partition> partitions;
    // Contents of the device node (disk_image.cpp).
    bool table = false;   // an MBR (and EBR chain) from the partitions
    bool signature = true; // the MBR ends in 55 AA
    std::string seed;     // MBR boot code and sectors 1-62 from seeded bytes
    std::string image;    // contents (and size) from this file
    std::optional<uint32_t> label_id; // disk identifier at MBR offset 440
};

struct Bios {
    bool described = false; // a type-0 structure is written
    std::string vendor, version, date;
    uint16_t segment = 0xF000; // 0: as UEFI firmware gives it
    uint32_t rom_size = 0; // 0: the image size
    std::string seed = "orva-simcomputer-bios";
    uint8_t release_major = 1, release_minor = 0;
    // Where the image starts: segment:0000, or F000:0000 for segment 0.
    uint32_t image_start() const { return segment ? uint32_t(segment) * 16 : 0xF0000; }
};

// sm3/efi3: the 64-bit "_SM3_" entry point in the legacy area or named by
// the EFI system table's "SMBIOS3=" line.
enum class SmbiosEntry { sm, legacy, efi, none, sm3, efi3 };
enum class SmbiosDamage { none, checksum, structure, strings };

struct Smbios {
    SmbiosEntry entry = SmbiosEntry::sm;
    uint8_t major = 2, minor = 7;
    uint32_t entry_addr = 0; // 0: default for the entry kind
    uint64_t table_addr = 0; // 0: right after the entry point
    SmbiosDamage damage = SmbiosDamage::none;
    bool sm3() const { return entry == SmbiosEntry::sm3 || entry == SmbiosEntry::efi3; }
    bool efi() const { return entry == SmbiosEntry::efi || entry == SmbiosEntry::efi3; }
};

struct Cpu {
    std::string socket, manufacturer, version, serial, part;
    uint16_t speed = 0, max_speed = 0, external_clock = 100;
    uint8_t family = 0x01, cores = 1, threads = 1;
    bool populated = true;
    uint64_t id = 0;
};

struct MemoryDevice {
    std::string locator, bank, manufacturer, serial, part;
    uint16_t size = 0;          // SMBIOS size word
    uint32_t extended_size = 0; // MiB, with size 0x7FFF
    uint8_t type = 0x02;        // unknown
    uint16_t speed = 0;
};

struct MemoryArray {
    uint8_t location = 3, use = 3, ecc = 3;
    uint32_t capacity_kb = 0; // 0: the sum of the devices
    std::vector<MemoryDevice> devices;
};

// DMI structures in the order of the description.
struct DmiItem {
    enum Kind { bios, cpu, memory_array } kind;
    size_t index;
};

struct Monitor {
    unsigned port = 0;
    std::array<uint8_t, 128> edid{};
};

enum class VideoBiosMode { answer, hang, absent };

struct Computer {
    std::optional<std::string> cmdline;
    std::vector<PciFunction> pci;
    std::vector<UsbBus> usb_buses;
    std::vector<UsbDevice> usb;
    std::vector<BlockDevice> blocks;
    Bios bios;
    Smbios smbios;
    std::vector<Cpu> cpus;
    std::vector<MemoryArray> memory_arrays;
    std::vector<DmiItem> dmi_order;
    std::vector<Monitor> monitors;
    VideoBiosMode video_bios = VideoBiosMode::answer;
    std::vector<Windows> windows; // Windows directories in the system root
    std::vector<LvmVolume> lvm;
};

// Description text to model. False with err filled on any error.
bool parse(const std::string &text, Computer &computer, Error &err);
bool parse_file(const std::string &path, Computer &computer, Error &err);

// Writes the computer into root, which must not exist or be an empty
// directory. The tree is built beside it and renamed into place, so a
// failure leaves nothing behind.
bool build(const Computer &computer, const std::string &root, Error &err);

// Pieces, for tests and for the generator itself.
struct EdidSpec {
    std::string manufacturer; // three letters A-Z
    uint16_t product = 0;
    uint32_t serial = 0;
    uint8_t week = 1;
    uint16_t year = 2014;
    uint8_t width_cm = 52, height_cm = 29;
    std::string name;        // display product name descriptor, empty: none
    std::string serial_text; // serial number descriptor, empty: none
};
std::array<uint8_t, 128> make_edid(const EdidSpec &spec);

// Physical memory image: the first MiB and, when the SMBIOS data lie above
// it, the regions beyond (offset, bytes), with the total size of the file.
struct MemoryImage {
    std::vector<uint8_t> low; // 0x00000 - 0xFFFFF
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> high;
    uint64_t size = 0;
    uint32_t smbios_entry = 0; // address of the entry point, 0 when none
};
bool make_memory_image(const Computer &computer, MemoryImage &image, Error &err);

// A file system of size bytes with the entries of fs, made with the real
// tools (mkfs.ext4 -d, mkfs.fat and mcopy, mkntfs and libntfs-3g) into the file at path, which is
// created or truncated. The same description gives the same bytes.
bool make_file_system(const FileSystem &fs, uint64_t size, const std::string &path, Error &err);

// Loop devices behind the volume nodes of a built computer (root only):
// every partition and device-mapper node holding a file system becomes a
// block-device node of a read-only loop device bound to its bytes, kept in
// ROOT/.loops; the nodes named in `writable` ("sdb1") get read-write ones.
// detach_loops undoes it (also after a partial attach).
bool attach_loops(const std::string &root, Error &err, const std::vector<std::string> &writable = {});
bool detach_loops(const std::string &root, Error &err);

// One file on a free loop device, read-only unless writable ("/dev/loopN"),
// and its release.
bool loop_attach(const std::string &file, std::string &device, Error &err, bool writable = false);
bool loop_detach(const std::string &device, Error &err);

} // namespace simcomputer

#endif
