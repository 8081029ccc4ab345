// SMBIOS/DMI: entry point, structure table walk and enumeration.
#include "hw_internal.h"

#include <ic/hw/hw_scan.h>

#include "ic/sys/sysroot.h"
#include "ic/util/le.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char *mem_path = "/dev/mem";
constexpr uint32_t legacy_area = 0xF0000;
constexpr size_t legacy_area_size = 0x10000;
constexpr size_t efi_entry_size = 32;
constexpr size_t legacy_entry_size = 15;
constexpr size_t smbios_legacy_offset = 16;
constexpr size_t smbios3_entry_size = 24;
constexpr uint8_t dmi_end_of_table = 127;

bool sums_to_zero(const uint8_t *p, size_t n)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum = uint8_t(sum + p[i]);
    return sum == 0;
}

// Offset just past the double zero that closes the string area of the
// structure at pos, or 0 when the table ends first.
uint32_t structure_end(const uint8_t *table, uint32_t length, uint32_t pos)
{
    for (uint32_t i = pos + table[pos + 1]; i + 1 < length; ++i)
        if (table[i] == 0 && table[i + 1] == 0)
            return i + 2;
    return 0;
}

// Where the table is and how it is walked: a 32-bit entry point announces
// the number of structures, a 64-bit one only a maximum size (the walk then
// ends with the end-of-table structure).
struct table_place {
    uint64_t address = 0;
    uint32_t length = 0;
    uint32_t count = 0;
    bool counted = true;
};

enum class entry_kind { none, smbios, legacy, smbios3 };

// Entry point named by an EFI system table file: the "SMBIOS" line, else the
// "SMBIOS3" one.  0 found, 4 the file has neither, 1 neither file opens.
int efi_entry_address(uint64_t *address, entry_kind *kind)
{
    FILE *f = ic_sys_fopen("/sys/firmware/efi/systab", "r");
    if (!f)
        f = ic_sys_fopen("/proc/efi/systab", "r");
    if (!f)
        return HW_ERR_IO;
    *kind = entry_kind::none;
    char line[128];
    while (*kind != entry_kind::smbios && std::fgets(line, sizeof line, f)) {
        char *eq = std::strchr(line, '=');
        if (!eq)
            continue;
        *eq = '\0';
        if (std::strcmp(line, "SMBIOS") == 0) {
            *address = std::strtoull(eq + 1, nullptr, 0);
            *kind = entry_kind::smbios;
        } else if (std::strcmp(line, "SMBIOS3") == 0 && *kind == entry_kind::none) {
            *address = std::strtoull(eq + 1, nullptr, 0);
            *kind = entry_kind::smbios3;
        }
    }
    std::fclose(f);
    return *kind == entry_kind::none ? HW_ERR_NO_SMBIOS : HW_OK;
}

int check_entry(entry_kind kind, const uint8_t *entry, size_t available, table_place *place)
{
    if (kind == entry_kind::smbios3) {
        place->counted = false;
        return smbios3_check_entry(entry, available, &place->address, &place->length);
    }
    uint32_t address;
    uint16_t length, count;
    int rc = kind == entry_kind::smbios ? smbios_check_entry(entry, available, &address, &length, &count)
                                        : legacy_check_entry(entry, available, &address, &length, &count);
    place->address = address;
    place->length = length;
    place->count = count;
    return rc;
}

// Finds the entry point.  In the legacy area the first 32-bit anchor
// decides; a 64-bit one counts only when there is none.
int find_entry(table_place *place)
{
    uint64_t address = 0;
    entry_kind kind = entry_kind::none;
    int rc = efi_entry_address(&address, &kind);
    if (rc == HW_OK) {
        const size_t size = kind == entry_kind::smbios3 ? smbios3_entry_size : efi_entry_size;
        auto *entry = static_cast<uint8_t *>(load_chunk(mem_path, address, size));
        if (!entry)
            return HW_ERR_IO;
        rc = check_entry(kind, entry, size, place);
        unload_chunk(entry);
        return rc;
    }
    if (rc != HW_ERR_IO)
        return rc;

    auto *area = static_cast<uint8_t *>(load_chunk(mem_path, legacy_area, legacy_area_size));
    if (!area)
        return HW_ERR_IO;
    entry_kind found = entry_kind::none;
    size_t at = 0, at3 = legacy_area_size;
    for (size_t off = 0; found == entry_kind::none && off + 5 <= legacy_area_size; off += 16) {
        const uint8_t *p = area + off;
        if (std::memcmp(p, "_SM_", 4) == 0)
            found = entry_kind::smbios;
        else if (std::memcmp(p, "_DMI_", 5) == 0)
            found = entry_kind::legacy;
        else if (at3 == legacy_area_size && std::memcmp(p, "_SM3_", 5) == 0)
            at3 = off;
        at = off;
    }
    if (found == entry_kind::none && at3 < legacy_area_size) {
        found = entry_kind::smbios3;
        at = at3;
    }
    rc = found == entry_kind::none ? HW_ERR_NO_SMBIOS
                                   : check_entry(found, area + at, legacy_area_size - at, place);
    unload_chunk(area);
    return rc;
}

// Walks the structures of a table: at most max_count of them, or, without
// a count, up to the end-of-table structure or the last one that fits.
// 0 and the number walked, or 5 when one runs past the end.
int walk_table(const uint8_t *table, uint32_t length, const uint32_t *max_count, uint32_t *walked)
{
    if (!table && length)
        return HW_ERR_BAD_SMBIOS;
    uint32_t pos = 0, n = 0;
    for (; max_count ? n < *max_count : length - pos >= 4; ++n) {
        if (length - pos < 4)
            return HW_ERR_BAD_SMBIOS;
        const uint8_t type = table[pos];
        const uint8_t formatted = table[pos + 1];
        if (formatted < 4 || pos + formatted > length)
            return HW_ERR_BAD_SMBIOS;
        pos = structure_end(table, length, pos);
        if (pos == 0)
            return HW_ERR_BAD_SMBIOS;
        if (!max_count && type == dmi_end_of_table) {
            ++n;
            break;
        }
    }
    *walked = n;
    return HW_OK;
}

} // namespace

int legacy_check_entry(const uint8_t *entry, size_t available, uint32_t *table_addr,
                       uint16_t *length, uint16_t *count)
{
    if (!entry || available < legacy_entry_size || std::memcmp(entry, "_DMI_", 5) != 0
        || !sums_to_zero(entry, legacy_entry_size))
        return HW_ERR_BAD_SMBIOS;
    *length = ic_le16(entry + 6);
    *table_addr = ic_le32(entry + 8);
    *count = ic_le16(entry + 12);
    return HW_OK;
}

int smbios_check_entry(const uint8_t *entry, size_t available, uint32_t *table_addr,
                       uint16_t *length, uint16_t *count)
{
    // The checksummed length must lie within the bytes at hand.
    if (!entry || available < 6 || std::memcmp(entry, "_SM_", 4) != 0 || entry[5] > available
        || !sums_to_zero(entry, entry[5]) || available < smbios_legacy_offset)
        return HW_ERR_BAD_SMBIOS;
    return legacy_check_entry(entry + smbios_legacy_offset, available - smbios_legacy_offset,
                              table_addr, length, count);
}

int smbios3_check_entry(const uint8_t *entry, size_t available, uint64_t *table_addr, uint32_t *max_size)
{
    // The checksummed length covers at least the 24 bytes read here.
    if (!entry || available < smbios3_entry_size || std::memcmp(entry, "_SM3_", 5) != 0
        || entry[6] < smbios3_entry_size || entry[6] > available || !sums_to_zero(entry, entry[6]))
        return HW_ERR_BAD_SMBIOS;
    *max_size = ic_le32(entry + 12);
    *table_addr = uint64_t(ic_le32(entry + 16)) | uint64_t(ic_le32(entry + 20)) << 32;
    return HW_OK;
}

int smbios_check_table(const uint8_t *table, uint32_t length, uint32_t count)
{
    uint32_t walked;
    return walk_table(table, length, &count, &walked);
}

int smbios3_count_structures(const uint8_t *table, uint32_t length, uint32_t *count)
{
    if (!count)
        return HW_ERR_INVAL;
    return walk_table(table, length, nullptr, count);
}

int smbios_load(hw_smbios *smbios)
{
    HW_ENTER();
    if (!smbios)
        HW_RETURN(HW_ERR_INVAL);
    table_place place;
    int rc = find_entry(&place);
    if (rc != HW_OK)
        HW_RETURN(rc);
    if (place.length > HW_SMBIOS_MAX_TABLE)
        HW_RETURN(HW_ERR_BAD_SMBIOS);
    auto *table = static_cast<uint8_t *>(load_chunk(mem_path, place.address, place.length));
    if (!table)
        HW_RETURN(HW_ERR_IO);
    if (!place.counted)
        rc = smbios3_count_structures(table, place.length, &place.count);
    else if (place.count > 0)
        rc = smbios_check_table(table, place.length, place.count);
    if (rc != HW_OK) {
        unload_chunk(table);
        HW_RETURN(rc);
    }
    smbios->table = table;
    smbios->length = place.length;
    smbios->count = place.count;
    HW_RETURN(HW_OK);
}

void smbios_release(hw_smbios *smbios)
{
    if (smbios) {
        unload_chunk(smbios->table);
        smbios->table = nullptr;
        smbios->length = smbios->count = 0;
    }
}

void dmi_enum_init(hw_dmi_enum *e, const hw_smbios *smbios, uint16_t type)
{
    e->smbios = smbios;
    e->pos = 0;
    e->type = type;
    e->passed = 0;
}

const uint8_t *dmi_enum_next(hw_dmi_enum *e)
{
    const hw_smbios *s = e->smbios;
    while (e->passed < s->count) {
        const uint8_t *structure = s->table + e->pos;
        const uint32_t next = structure_end(s->table, s->length, e->pos);
        if (next == 0) { // not a checked table
            e->passed = s->count;
            return nullptr;
        }
        e->pos = next;
        ++e->passed;
        if (e->type == HW_DMI_ANY_TYPE || structure[0] == e->type)
            return structure;
    }
    return nullptr;
}

const char *dmi_string(const uint8_t *structure, uint8_t offset)
{
    if (!structure || offset >= structure[1])
        return nullptr;
    const uint8_t index = structure[offset];
    if (index == 0)
        return nullptr;
    const char *p = reinterpret_cast<const char *>(structure + structure[1]);
    for (unsigned i = 1; *p; ++i) {
        if (i == index)
            return p;
        p += std::strlen(p) + 1;
    }
    return nullptr;
}
