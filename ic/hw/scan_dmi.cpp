// DMI scanner: memory slots, processors and the BIOS from the SMBIOS table.
#include "hw_internal.h"

#include <ic/hw/hw_scan.h>

#include <gost/gost_r3411_94.h>
#include <ic/util/le.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr const char *mem_path = "/dev/mem";

enum : uint16_t {
    dmi_bios = 0,
    dmi_processor = 4,
    dmi_memory_array = 16,
    dmi_memory_device = 17,
};

// Fields beyond a structure's formatted area are absent: the fallback.
uint8_t field_u8(const uint8_t *s, uint8_t offset, uint8_t fallback)
{
    return offset < s[1] ? s[offset] : fallback;
}

uint16_t field_u16(const uint8_t *s, uint8_t offset, uint16_t fallback)
{
    return offset + 1 < s[1] ? ic_le16(s + offset) : fallback;
}

// Memory devices of one physical memory array, in table order.
int scan_array(hw_info *info, const hw_smbios *smbios, uint16_t handle)
{
    hw_dmi_enum e;
    dmi_enum_init(&e, smbios, dmi_memory_device);
    unsigned position = 0;
    for (const uint8_t *s; (s = dmi_enum_next(&e));) {
        if (s[1] < 6 || field_u16(s, 4, 0) != handle)
            continue;
        const char *bank = dmi_string(s, 0x11);
        const char *device = dmi_string(s, 0x10);
        char *name = bank && device ? alloc_sprintf("%s (%s)", bank, device)
                   : bank           ? alloc_sprintf("%s", bank)
                   : device         ? alloc_sprintf("%s", device)
                                    : alloc_sprintf("%u", position);
        ++position;
        if (!name)
            return HW_ERR_NOMEM;
        hw_device *d = nullptr;
        int rc = create_memory_device(name, -1, field_u16(s, 0x0C, 0xFFFF), &d);
        std::free(name);
        rc = hw_append_read(info, rc, d);
        if (rc != HW_OK)
            return rc;
    }
    return HW_OK;
}

// GOST digests of the image in 1024-byte blocks, each hashed by itself.
int hash_blocks(const uint8_t *image, uint32_t size, uint8_t *digests)
{
    for (uint64_t off = 0, i = 0; off < size; off += HW_BIOS_BLOCK, ++i) {
        const size_t n = size - off < HW_BIOS_BLOCK ? size_t(size - off) : HW_BIOS_BLOCK;
        if (gost_r3411_94_digest(GOST_R3411_94_PARAMS_CRYPTOPRO, image + off, n,
                                 digests + i * HW_HASH_SIZE)
            != GOST_OK)
            return HW_ERR_IO;
    }
    return HW_OK;
}

} // namespace

// System-board arrays of system memory.
int scan_memory(hw_info *info, const hw_smbios *smbios)
{
    HW_ENTER();
    if (!info || !smbios)
        HW_RETURN(HW_ERR_INVAL);
    hw_dmi_enum e;
    dmi_enum_init(&e, smbios, dmi_memory_array);
    for (const uint8_t *s; (s = dmi_enum_next(&e));) {
        if (field_u8(s, 4, 0) != 3 || field_u8(s, 5, 0) != 3)
            continue;
        int rc = scan_array(info, smbios, field_u16(s, 2, 0));
        if (rc != HW_OK)
            HW_RETURN(rc);
    }
    HW_RETURN(HW_OK);
}

int scan_cpu(hw_info *info, const hw_smbios *smbios)
{
    HW_ENTER();
    if (!info || !smbios)
        HW_RETURN(HW_ERR_INVAL);
    hw_dmi_enum e;
    dmi_enum_init(&e, smbios, dmi_processor);
    uint32_t number = 0;
    for (const uint8_t *s; (s = dmi_enum_next(&e)); ++number) {
        hw_device *d = nullptr;
        int rc = create_cpu_device(number, dmi_string(s, 0x10), -1, field_u16(s, 0x16, 0), &d);
        rc = hw_append_read(info, rc, d);
        if (rc != HW_OK)
            HW_RETURN(rc);
    }
    HW_RETURN(HW_OK);
}

int scan_bios(hw_info *info, const hw_smbios *smbios)
{
    HW_ENTER();
    if (!info || !smbios)
        HW_RETURN(HW_ERR_INVAL);
    const char *vendor = nullptr, *version = nullptr, *date = nullptr;
    uint16_t segment = 0xF000;
    hw_dmi_enum e;
    dmi_enum_init(&e, smbios, dmi_bios);
    if (const uint8_t *s = dmi_enum_next(&e)) {
        vendor = dmi_string(s, 4);
        version = dmi_string(s, 5);
        date = dmi_string(s, 8);
        segment = field_u16(s, 6, segment);
    }
    // Segment 0 (usual on UEFI) would start the image at the interrupt
    // vectors, which change on every boot: the system BIOS segment instead.
    if (segment == 0)
        segment = 0xF000;
    const uint32_t address = uint32_t(segment) * 16;
    const uint32_t size = (0x10000u - segment) * 16;

    auto *image = static_cast<uint8_t *>(load_chunk(mem_path, address, size));
    if (!image)
        HW_RETURN(HW_ERR_IO);
    const uint64_t hashes = hw_bios_hash_count(size);
    auto *digests = static_cast<uint8_t *>(std::malloc(hashes * HW_HASH_SIZE));
    int rc = digests ? hash_blocks(image, size, digests) : HW_ERR_NOMEM;
    unload_chunk(image);
    hw_device *d = nullptr;
    if (rc == HW_OK)
        rc = create_bios_device(address, size, vendor ? vendor : "-", -1, version ? version : "-",
                                -1, date ? date : "-", -1, digests, &d);
    std::free(digests);
    HW_RETURN(hw_append_read(info, rc, d));
}

int scan_dmi(hw_info *info)
{
    HW_ENTER();
    if (!info)
        HW_RETURN(HW_ERR_INVAL);
    hw_smbios smbios{};
    int rc = smbios_load(&smbios);
    if (rc != HW_OK)
        HW_RETURN(rc);
    rc = scan_memory(info, &smbios);
    if (rc == HW_OK)
        rc = scan_cpu(info, &smbios);
    if (rc == HW_OK)
        rc = scan_bios(info, &smbios);
    smbios_release(&smbios);
    HW_RETURN(rc);
}
