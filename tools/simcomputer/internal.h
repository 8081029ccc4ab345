// Pieces of the generator shared between its units.
#ifndef SIMCOMPUTER_INTERNAL_H
#define SIMCOMPUTER_INTERNAL_H

#include "simcomputer/simcomputer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace simcomputer {

// SMBIOS structure table and its entry point.
struct SmbiosTable {
    std::vector<uint8_t> bytes;
    uint16_t count = 0;
    uint16_t max_structure = 0;
};
SmbiosTable make_smbios_table(const Computer &computer);
// The entry point for the table at table_addr: "_SM_" (31 bytes), "_DMI_"
// (15 bytes) or "_SM3_" (24 bytes).
std::vector<uint8_t> make_smbios_entry(const Smbios &smbios, const SmbiosTable &table, uint64_t table_addr);

// Video BIOS code assembled from vbios.S.
extern const unsigned char vbios_code[];
extern const std::size_t vbios_code_size;
// The option ROM for the computer's monitors, size byte and checksum set.
std::vector<uint8_t> make_video_rom(const Computer &computer, uint16_t &handler_offset);

// Deterministic bytes: SplitMix64 seeded by FNV-1a of a text.
class SeedBytes {
public:
    explicit SeedBytes(const std::string &seed)
    {
        for (unsigned char ch : seed) {
            state_ ^= ch;
            state_ *= 0x100000001b3ull;
        }
    }
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }

private:
    uint64_t state_ = 0xcbf29ce484222325ull;
};

// s cut or filled with blanks to width characters, as fixed-width device
// strings are.
inline std::string padded(const std::string &s, size_t width)
{
    std::string r = s.substr(0, width);
    r.resize(width, ' ');
    return r;
}

// MBR partition types that hold logical partitions.
inline bool extended_type(uint8_t type)
{
    return type == 0x05 || type == 0x0F || type == 0x85;
}

// Disk contents (disk_image.cpp). check_disk throws description_error at
// line for a table that cannot be written; image_size makes an image path
// absolute and gives the file's size rounded up to whole sectors; write_disks fills the device nodes.
void check_disk(const BlockDevice &disk, int line);
// The identifier in the MBR at offset 440 (label_id=, else the seeded bytes), 0 for none.
uint32_t mbr_disk_id(const BlockDevice &disk);
uint64_t image_size(std::string &path, int line);
class Tree;
void write_disks(const Computer &computer, Tree &tree);

void put16(uint8_t *p, uint16_t v);
void put32(uint8_t *p, uint32_t v);

} // namespace simcomputer

#endif
