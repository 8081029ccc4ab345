// SMBIOS structure table (types 0, 4, 16, 17, 127) and entry points (2.x, 3.x).
#include "internal.h"

#include <algorithm>
#include <string>

namespace simcomputer {

void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

namespace {

class Structure {
public:
    Structure(uint8_t type, uint8_t length, uint16_t handle) : formatted_(length, 0)
    {
        formatted_[0] = type;
        formatted_[1] = length;
        put16(&formatted_[2], handle);
    }
    uint8_t &operator[](size_t i) { return formatted_.at(i); }
    void word(size_t at, uint16_t v) { put16(&formatted_.at(at + 1) - 1, v); }
    void dword(size_t at, uint32_t v) { put32(&formatted_.at(at + 3) - 3, v); }
    void qword(size_t at, uint64_t v)
    {
        dword(at, uint32_t(v));
        dword(at + 4, uint32_t(v >> 32));
    }
    // A string field: index of the string, 0 for an empty one.
    void string(size_t at, const std::string &s)
    {
        if (s.empty()) {
            formatted_.at(at) = 0;
            return;
        }
        strings_.push_back(s);
        formatted_.at(at) = uint8_t(strings_.size());
    }
    void append_to(std::vector<uint8_t> &out, uint16_t &max_size) const
    {
        size_t start = out.size();
        out.insert(out.end(), formatted_.begin(), formatted_.end());
        for (const auto &s : strings_) {
            out.insert(out.end(), s.begin(), s.end());
            out.push_back(0);
        }
        if (strings_.empty())
            out.push_back(0);
        out.push_back(0);
        max_size = std::max<uint16_t>(max_size, uint16_t(out.size() - start));
    }

private:
    std::vector<uint8_t> formatted_;
    std::vector<std::string> strings_;
};

Structure bios_structure(const Bios &b, uint16_t handle)
{
    Structure s(0, 0x18, handle);
    s.string(4, b.vendor);
    s.string(5, b.version);
    s.word(6, b.segment);
    s.string(8, b.date);
    uint32_t image = 0x100000u - b.image_start();
    uint32_t rom = b.rom_size ? b.rom_size : image;
    s[9] = uint8_t(std::min<uint32_t>(255, (rom + 65535) / 65536 - 1));
    // PCI, flash upgradeable, shadowing, boot from CD, selectable boot, EDD.
    s.qword(0x0A, (1u << 7) | (1u << 11) | (1u << 12) | (1u << 15) | (1u << 16) | (1u << 19));
    s[0x12] = 0x01; // ACPI
    s[0x13] = 0x00;
    s[0x14] = b.release_major;
    s[0x15] = b.release_minor;
    s[0x16] = 0xFF;
    s[0x17] = 0xFF;
    return s;
}

Structure cpu_structure(const Cpu &c, uint16_t handle)
{
    Structure s(4, 0x2A, handle);
    s.string(4, c.socket);
    s[5] = 0x03; // central processor
    s[6] = c.family;
    s.string(7, c.manufacturer);
    s.qword(8, c.id);
    s.string(0x10, c.version);
    s[0x11] = 0x8A; // 1.0 V
    s.word(0x12, c.external_clock);
    s.word(0x14, c.max_speed);
    s.word(0x16, c.speed);
    s[0x18] = c.populated ? 0x41 : 0x00; // socket populated, CPU enabled
    s[0x19] = 0x01;
    s.word(0x1A, 0xFFFF);
    s.word(0x1C, 0xFFFF);
    s.word(0x1E, 0xFFFF);
    s.string(0x20, c.serial);
    s[0x21] = 0;
    s.string(0x22, c.part);
    s[0x23] = c.populated ? c.cores : 0;
    s[0x24] = c.populated ? c.cores : 0;
    s[0x25] = c.populated ? c.threads : 0;
    s.word(0x26, 0x0004); // 64-bit capable
    s.word(0x28, c.family);
    return s;
}

Structure array_structure(const MemoryArray &m, uint16_t handle)
{
    Structure s(16, 0x0F, handle);
    s[4] = m.location;
    s[5] = m.use;
    s[6] = m.ecc;
    uint64_t kb = m.capacity_kb;
    if (!kb)
        for (const auto &d : m.devices) {
            if (d.size == 0x7FFF)
                kb += uint64_t(d.extended_size) * 1024;
            else if (d.size != 0 && d.size != 0xFFFF)
                kb += (d.size & 0x8000) ? (d.size & 0x7FFF) : uint64_t(d.size) * 1024;
        }
    s.dword(7, uint32_t(std::min<uint64_t>(kb, 0x7FFFFFFF)));
    s.word(0x0B, 0xFFFE);
    s.word(0x0D, uint16_t(m.devices.size()));
    return s;
}

Structure memory_structure(const MemoryDevice &d, uint16_t handle, uint16_t array, bool v27)
{
    Structure s(17, v27 ? 0x22 : 0x1C, handle);
    const bool installed = d.size != 0;
    s.word(4, array);
    s.word(6, 0xFFFE);
    s.word(8, installed ? 64 : 0xFFFF);
    s.word(0x0A, installed ? 64 : 0xFFFF);
    s.word(0x0C, d.size);
    s[0x0E] = 0x09; // DIMM
    s[0x0F] = 0;
    s.string(0x10, d.locator);
    s.string(0x11, d.bank);
    s[0x12] = d.type;
    s.word(0x13, installed ? 0x0080 : 0x0000); // synchronous
    s.word(0x15, d.speed);
    s.string(0x17, d.manufacturer);
    s.string(0x18, d.serial);
    s[0x19] = 0;
    s.string(0x1A, d.part);
    s[0x1B] = installed ? 1 : 0;
    if (v27) {
        s.dword(0x1C, d.size == 0x7FFF ? d.extended_size : 0);
        s.word(0x20, d.speed);
    }
    return s;
}

uint8_t checksum(const uint8_t *p, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += p[i];
    return uint8_t((256 - sum % 256) % 256);
}

} // namespace

SmbiosTable make_smbios_table(const Computer &c)
{
    SmbiosTable t;
    uint16_t handle = 0;
    const bool v27 = c.smbios.major > 2 || c.smbios.minor >= 7;
    auto add = [&t](const Structure &s) {
        s.append_to(t.bytes, t.max_structure);
        ++t.count;
    };
    for (const DmiItem &item : c.dmi_order) {
        switch (item.kind) {
        case DmiItem::bios:
            add(bios_structure(c.bios, handle++));
            break;
        case DmiItem::cpu:
            add(cpu_structure(c.cpus[item.index], handle++));
            break;
        case DmiItem::memory_array: {
            const MemoryArray &m = c.memory_arrays[item.index];
            const uint16_t array = handle++;
            add(array_structure(m, array));
            for (const auto &d : m.devices)
                add(memory_structure(d, handle++, array, v27));
            break;
        }
        }
    }
    add(Structure(127, 4, handle++));

    switch (c.smbios.damage) {
    case SmbiosDamage::structure:
        t.bytes[1] = 3; // a formatted length below the header size
        break;
    case SmbiosDamage::strings:
        t.bytes.pop_back(); // the last string area loses its closing zero
        break;
    default:
        break;
    }
    return t;
}

std::vector<uint8_t> make_smbios_entry(const Smbios &s, const SmbiosTable &t, uint64_t table_addr)
{
    const uint8_t bcd = uint8_t((s.major << 4) | (s.minor & 0x0F));
    auto legacy = [&](uint8_t *p) {
        std::copy_n("_DMI_", 5, p);
        put16(p + 6, uint16_t(t.bytes.size()));
        put32(p + 8, uint32_t(table_addr));
        put16(p + 12, t.count);
        p[14] = bcd;
        p[5] = checksum(p, 15);
    };
    std::vector<uint8_t> e;
    if (s.sm3()) {
        // "_SM3_": length, version, docrev, entry revision 1, maximum table
        // size and the 64-bit table address.
        e.assign(24, 0);
        std::copy_n("_SM3_", 5, e.data());
        e[6] = 24;
        e[7] = s.major;
        e[8] = s.minor;
        e[10] = 0x01;
        put32(&e[12], uint32_t(t.bytes.size()));
        put32(&e[16], uint32_t(table_addr));
        put32(&e[20], uint32_t(table_addr >> 32));
        e[5] = checksum(e.data(), 24);
        if (s.damage == SmbiosDamage::checksum)
            ++e[5];
        return e;
    }
    if (s.entry == SmbiosEntry::legacy) {
        e.assign(15, 0);
        legacy(e.data());
        if (s.damage == SmbiosDamage::checksum)
            ++e[5];
        return e;
    }
    e.assign(0x1F, 0);
    std::copy_n("_SM_", 4, e.data());
    e[5] = 0x1F;
    e[6] = s.major;
    e[7] = s.minor;
    put16(&e[8], t.max_structure);
    legacy(&e[0x10]);
    e[4] = checksum(e.data(), 0x1F);
    if (s.damage == SmbiosDamage::checksum)
        ++e[4];
    return e;
}

} // namespace simcomputer
