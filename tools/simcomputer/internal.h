// Pieces of the generator shared between its units.
#ifndef SIMCOMPUTER_INTERNAL_H
#define SIMCOMPUTER_INTERNAL_H

#include "simcomputer/simcomputer.h"

#include <cstddef>
#include <cstdint>
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

void put16(uint8_t *p, uint16_t v);
void put32(uint8_t *p, uint32_t v);

} // namespace simcomputer

#endif
