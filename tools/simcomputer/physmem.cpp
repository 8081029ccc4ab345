// Physical memory of a simulated computer: interrupt vectors, BIOS data area,
// video memory, the video BIOS with the monitors' EDIDs, the system BIOS image
// and the SMBIOS entry point and table.
#include "internal.h"

#include <algorithm>
#include <cstring>

namespace simcomputer {
namespace {

constexpr uint32_t mib = 0x100000;
constexpr uint32_t rom_base = 0xC0000;
constexpr uint32_t video_base = 0xA0000;
constexpr uint16_t bios_segment = 0xF000;
constexpr uint16_t iret_offset = 0xFF53; // the conventional dummy handler
constexpr unsigned ports = 6;
constexpr size_t data_header = 16;

uint16_t get16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

void fill_bios_image(std::vector<uint8_t> &low, const Bios &bios)
{
    const uint32_t start = bios.image_start();
    SeedBytes rng(bios.seed);
    for (uint32_t a = start; a < mib; a += 8) {
        uint64_t v = rng.next();
        for (int i = 0; i < 8; ++i)
            low[a + i] = uint8_t(v >> (8 * i));
    }
    // No stray SMBIOS anchor on a paragraph boundary.
    for (uint32_t a = start; a < mib; a += 16)
        if (std::memcmp(&low[a], "_SM", 3) == 0 || std::memcmp(&low[a], "_DM", 3) == 0)
            low[a] = 0;
    low[bios_segment * 16u + iret_offset] = 0xCF; // iret
    static const uint8_t reset[5] = {0xEA, 0x5B, 0xE0, 0x00, 0xF0}; // jmp far F000:E05B
    std::memcpy(&low[0xFFFF0], reset, 5);
    // Release date MM/DD/YY from a date written MM/DD/YYYY, as BIOSes keep it.
    char date[9] = "01/01/14";
    if (bios.date.size() == 10 && bios.date[2] == '/' && bios.date[5] == '/') {
        std::memcpy(date, bios.date.data(), 6);
        std::memcpy(date + 6, bios.date.data() + 8, 2);
    }
    std::memcpy(&low[0xFFFF5], date, 8);
    low[0xFFFFD] = 0;
    low[0xFFFFE] = 0xFC; // AT
}

void fill_bda(std::vector<uint8_t> &low)
{
    uint8_t *bda = &low[0x400];
    put16(bda + 0x00, 0x03F8); // COM1
    put16(bda + 0x08, 0x0378); // LPT1
    put16(bda + 0x0E, 0x9FC0); // extended BIOS data area segment
    put16(bda + 0x10, 0x0027); // equipment: floppy, FPU, 80x25 colour
    put16(bda + 0x13, 639);    // KiB of conventional memory
    bda[0x49] = 0x03;          // video mode
    put16(bda + 0x4A, 80);     // columns
    put16(bda + 0x4C, 0x1000); // page size
    put16(bda + 0x63, 0x03D4); // CRT controller port
    bda[0x84] = 24;            // rows - 1
    put16(bda + 0x85, 16);     // character height
    // Text screen: blanks, grey on black.
    for (uint32_t a = 0xB8000; a < 0xB8000 + 80 * 25 * 2; a += 2) {
        low[a] = 0x20;
        low[a + 1] = 0x07;
    }
}

struct Range {
    uint64_t start, end;
    const char *what;
};

bool overlaps(const Range &a, const Range &b)
{
    return a.start < b.end && b.start < a.end;
}

} // namespace

std::vector<uint8_t> make_video_rom(const Computer &c, uint16_t &handler_offset)
{
    const uint16_t data = get16(&vbios_code[0x2E]);
    handler_offset = get16(&vbios_code[0x2C]);
    size_t size = data + data_header + ports * 128 + 1; // and a checksum byte
    size = (size + 511) / 512 * 512;
    std::vector<uint8_t> rom(size, 0);
    std::memcpy(rom.data(), vbios_code, vbios_code_size);
    rom[2] = uint8_t(size / 512);
    rom[data] = c.video_bios == VideoBiosMode::hang ? 1 : 0;
    for (const Monitor &m : c.monitors) {
        rom[data + 1 + m.port] = 1;
        std::memcpy(&rom[data + data_header + m.port * 128], m.edid.data(), 128);
    }
    unsigned sum = 0;
    for (uint8_t b : rom)
        sum += b;
    rom.back() = uint8_t((256 - sum % 256) % 256);
    return rom;
}

bool make_memory_image(const Computer &c, MemoryImage &image, Error &err)
{
    image = MemoryImage{};
    image.low.assign(mib, 0);
    std::vector<uint8_t> &low = image.low;

    uint32_t rom_end = rom_base;
    uint16_t handler = 0;
    if (c.video_bios != VideoBiosMode::absent) {
        std::vector<uint8_t> rom = make_video_rom(c, handler);
        std::memcpy(&low[rom_base], rom.data(), rom.size());
        rom_end = rom_base + uint32_t(rom.size());
    }
    if (c.bios.image_start() < rom_end) {
        err = {0, "the BIOS image at segment overlaps the video BIOS"};
        return false;
    }

    for (unsigned v = 0; v < 256; ++v) {
        put16(&low[v * 4], iret_offset);
        put16(&low[v * 4 + 2], bios_segment);
    }
    if (c.video_bios != VideoBiosMode::absent) {
        put16(&low[0x10 * 4], handler);
        put16(&low[0x10 * 4 + 2], uint16_t(rom_base >> 4));
    }
    fill_bda(low);
    fill_bios_image(low, c.bios);

    image.size = mib;
    const Smbios &s = c.smbios;
    if (s.entry != SmbiosEntry::none) {
        SmbiosTable table = make_smbios_table(c);
        const bool efi = s.efi();
        const uint32_t entry_size = s.entry == SmbiosEntry::legacy ? 15 : s.sm3() ? 24 : 0x1F;
        const uint32_t entry = s.entry_addr ? s.entry_addr : (efi ? 0x9F000 : 0xF0000);
        const uint64_t table_addr = s.table_addr ? s.table_addr : entry + 0x20;
        if (!efi && (entry % 16 || entry < 0xF0000 || entry + entry_size > mib)) {
            err = {0, "smbios: the entry point must lie on a 16-byte boundary in 0xF0000-0xFFFFF"};
            return false;
        }
        const Range e{entry, uint64_t(entry) + entry_size, "entry point"};
        const Range t{table_addr, table_addr + table.bytes.size(), "table"};
        const Range fixed[] = {{0, 0x500, "interrupt vectors and BIOS data area"},
                               {video_base, rom_end, "video memory and video BIOS"}};
        if (overlaps(e, t)) {
            err = {0, "smbios: entry point and table overlap"};
            return false;
        }
        for (const Range &r : {e, t}) {
            // A 64-bit entry point may place its table above 4 GiB.
            const bool above_4g = s.sm3() && r.start == table_addr;
            if ((r.end > 0x100000000ull && !above_4g) || (r.start < mib && r.end > mib)) {
                err = {0, std::string("smbios: the ") + r.what + " crosses 1 MiB or 4 GiB"};
                return false;
            }
            for (const Range &f : fixed)
                if (overlaps(r, f)) {
                    err = {0, std::string("smbios: the ") + r.what + " overlaps the " + f.what};
                    return false;
                }
        }
        std::vector<uint8_t> entry_bytes = make_smbios_entry(s, table, table_addr);
        for (auto [addr, bytes] : {std::make_pair(uint64_t(entry), &entry_bytes),
                                   std::make_pair(table_addr, &table.bytes)}) {
            if (addr < mib) {
                std::memcpy(&low[addr], bytes->data(), bytes->size());
            } else {
                image.high.emplace_back(addr, *bytes);
                image.size = std::max<uint64_t>(image.size, (addr + bytes->size() + 4095) / 4096 * 4096);
            }
        }
        image.smbios_entry = entry;
    }
    return true;
}

} // namespace simcomputer
