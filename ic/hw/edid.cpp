// Monitor name and digest of an EDID block.
#include "hw_internal.h"

#include <ic/hw/hw_scan.h>

#include <gost/gost_r3411_94.h>

#include <cstdio>

namespace {

constexpr unsigned descriptors[] = {54, 72, 90, 108};
constexpr uint8_t name_tag = 0xFC;
constexpr unsigned name_max = 13;

} // namespace

void hw_edid_monitor_name(const uint8_t edid[HW_EDID_SIZE], char name[14])
{
    for (unsigned d : descriptors) {
        const uint8_t *p = edid + d;
        if (p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == name_tag) {
            unsigned n = 0;
            while (n < name_max && p[5 + n] != '\n') {
                name[n] = char(p[5 + n]);
                ++n;
            }
            name[n] = '\0';
            return;
        }
    }
    // Manufacturer code: three 5-bit letters, big-endian in bytes 8-9.
    const unsigned code = unsigned(edid[8]) << 8 | edid[9];
    std::snprintf(name, 14, "%c%c%c:%02x%02x", int(((code >> 10) & 0x1F) + 0x40),
                  int(((code >> 5) & 0x1F) + 0x40), int((code & 0x1F) + 0x40), edid[10], edid[11]);
}

int _hw_create_monitor_device(hw_info *info, uint32_t port, const uint8_t edid[HW_EDID_SIZE])
{
    HW_ENTER();
    if (!info || !edid)
        HW_RETURN(HW_ERR_INVAL);
    char name[14];
    hw_edid_monitor_name(edid, name);
    uint8_t hash[HW_HASH_SIZE];
    int rc = gost_r3411_94_digest(GOST_R3411_94_PARAMS_CRYPTOPRO, edid, HW_EDID_SIZE, hash) == GOST_OK
                 ? HW_OK
                 : HW_ERR_IO;
    hw_device *d = nullptr;
    if (rc == HW_OK)
        rc = create_monitor_device(port, name, -1, hash, &d);
    HW_RETURN(hw_append_read(info, rc, d));
}
