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

// Entry-point address named by an EFI system table file: 0 found, 4 the
// file has no SMBIOS line, 1 neither file opens.
int efi_entry_address(uint64_t *address)
{
    FILE *f = ic_sys_fopen("/sys/firmware/efi/systab", "r");
    if (!f)
        f = ic_sys_fopen("/proc/efi/systab", "r");
    if (!f)
        return HW_ERR_IO;
    int rc = HW_ERR_NO_SMBIOS;
    char line[128];
    while (std::fgets(line, sizeof line, f)) {
        char *eq = std::strchr(line, '=');
        if (!eq)
            continue;
        *eq = '\0';
        if (std::strcmp(line, "SMBIOS") == 0) {
            *address = std::strtoul(eq + 1, nullptr, 0);
            rc = HW_OK;
            break;
        }
    }
    std::fclose(f);
    return rc;
}

// Finds the entry point: table address, length and count.
int find_entry(uint32_t *table_addr, uint16_t *length, uint16_t *count)
{
    uint64_t address;
    int rc = efi_entry_address(&address);
    if (rc == HW_OK) {
        auto *entry = static_cast<uint8_t *>(load_chunk(mem_path, address, efi_entry_size));
        if (!entry)
            return HW_ERR_IO;
        rc = smbios_check_entry(entry, efi_entry_size, table_addr, length, count);
        unload_chunk(entry);
        return rc;
    }
    if (rc != HW_ERR_IO)
        return rc;

    auto *area = static_cast<uint8_t *>(load_chunk(mem_path, legacy_area, legacy_area_size));
    if (!area)
        return HW_ERR_IO;
    rc = HW_ERR_NO_SMBIOS;
    for (size_t off = 0; off + 4 <= legacy_area_size; off += 16) {
        const uint8_t *p = area + off;
        if (std::memcmp(p, "_SM_", 4) == 0) {
            rc = smbios_check_entry(p, legacy_area_size - off, table_addr, length, count);
            break;
        }
        if (off + 5 <= legacy_area_size && std::memcmp(p, "_DMI_", 5) == 0) {
            rc = legacy_check_entry(p, legacy_area_size - off, table_addr, length, count);
            break;
        }
    }
    unload_chunk(area);
    return rc;
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

int smbios_check_table(const uint8_t *table, uint16_t length, uint16_t count)
{
    if (!table && length)
        return HW_ERR_BAD_SMBIOS;
    uint32_t pos = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (length - pos < 4)
            return HW_ERR_BAD_SMBIOS;
        const uint8_t formatted = table[pos + 1];
        if (formatted < 4 || pos + formatted > length)
            return HW_ERR_BAD_SMBIOS;
        pos = structure_end(table, length, pos);
        if (pos == 0)
            return HW_ERR_BAD_SMBIOS;
    }
    return HW_OK;
}

int smbios_load(hw_smbios *smbios)
{
    HW_ENTER();
    if (!smbios)
        HW_RETURN(HW_ERR_INVAL);
    uint32_t table_addr;
    uint16_t length, count;
    int rc = find_entry(&table_addr, &length, &count);
    if (rc != HW_OK)
        HW_RETURN(rc);
    auto *table = static_cast<uint8_t *>(load_chunk(mem_path, table_addr, length));
    if (!table)
        HW_RETURN(HW_ERR_IO);
    if (count > 0 && (rc = smbios_check_table(table, length, count)) != HW_OK) {
        unload_chunk(table);
        HW_RETURN(rc);
    }
    smbios->table = table;
    smbios->length = length;
    smbios->count = count;
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
