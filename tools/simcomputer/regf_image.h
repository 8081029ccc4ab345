// Pieces of the REGF writer shared by the hive file and its logs.
#ifndef SIMCOMPUTER_REGF_IMAGE_H
#define SIMCOMPUTER_REGF_IMAGE_H

#include "simcomputer/regf.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace simcomputer::regf {

void put16(std::vector<uint8_t> &b, size_t at, uint16_t v);
void put32(std::vector<uint8_t> &b, size_t at, uint32_t v);
void put64(std::vector<uint8_t> &b, size_t at, uint64_t v);
uint32_t get32(const std::vector<uint8_t> &b, size_t at);

// Key and value names compared as the hive orders them (case-insensitively).
bool same_name(const std::u16string &a, const std::u16string &b);

// The hive bins of the hive's root and the root key's cell offset.
struct Bins {
    std::vector<uint8_t> bytes;
    uint32_t root = 0;
};
Bins write_bins(const RegHive &hive);

// The base block's time: written, or the root key's timestamp.
uint64_t written_time(const RegHive &hive);

// Fields of a base block that differ between a hive file and its logs.
struct Block {
    uint32_t primary, secondary; // sequence numbers
    uint64_t time;               // last written
    uint32_t type;               // 0 hive file, 1 old-format log, 6 new-format log
    uint32_t root, bins_size;
};
// The 4096-byte base block with its checksum.
std::vector<uint8_t> base_block(const RegHive &hive, const Block &fields);
// The XOR of the first 127 dwords into offset 508 (never 0 or 0xFFFFFFFF).
void set_checksum(std::vector<uint8_t> &block);

// The hive file of a hive with logs (regf_log.cpp).
std::vector<uint8_t> write_dirty_base(const RegHive &hive);

} // namespace simcomputer::regf

#endif
