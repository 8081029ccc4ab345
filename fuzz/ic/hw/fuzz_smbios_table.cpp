// SMBIOS data from physical memory: the input is a u16 structure count and
// then the structure table; the whole input is also tried as an entry
// point (32- and 64-bit), and the table is also walked as a 64-bit entry
// point's.  A table that passes the walk is enumerated and scanned for memory
// slots and processors.
#include <ic/hw/hw_info.h>
#include <ic/hw/hw_scan.h>
#include <ic/util/log.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (ic_log_set_default_level(IC_LOG_FATAL), true);
    (void)quiet;

    uint32_t table_addr;
    uint16_t length, count;
    smbios_check_entry(data, size, &table_addr, &length, &count);
    legacy_check_entry(data, size, &table_addr, &length, &count);
    uint64_t table_addr3;
    uint32_t max_size;
    smbios3_check_entry(data, size, &table_addr3, &max_size);

    if (size < 2 || size - 2 > 0xFFFF)
        return 0;
    count = uint16_t(data[0] | data[1] << 8);
    // An exact-size copy, so that reads past the end are caught.
    std::vector<uint8_t> table(data + 2, data + size);
    hw_smbios smbios{table.empty() ? nullptr : table.data(), uint32_t(table.size()), count};
    uint32_t walked;
    if (smbios3_count_structures(smbios.table, smbios.length, &walked) == HW_OK) {
        hw_smbios smbios3{smbios.table, smbios.length, walked};
        hw_dmi_enum e;
        dmi_enum_init(&e, &smbios3, HW_DMI_ANY_TYPE);
        while (dmi_enum_next(&e)) {
        }
    }
    if (smbios_check_table(smbios.table, smbios.length, smbios.count) != HW_OK)
        return 0;

    hw_dmi_enum e;
    dmi_enum_init(&e, &smbios, HW_DMI_ANY_TYPE);
    size_t total = 0;
    for (const uint8_t *s; (s = dmi_enum_next(&e));) {
        for (unsigned offset = 0; offset < 256; ++offset)
            if (const char *str = dmi_string(s, uint8_t(offset)))
                total += std::strlen(str);
    }
    hw_info *info = nullptr;
    if (_hw_info_create(&info) != HW_OK)
        return 0;
    scan_memory(info, &smbios);
    scan_cpu(info, &smbios);
    uint8_t *image = nullptr;
    uint32_t image_size = 0;
    if (hw_info_write_to_mem(info, &image, &image_size) == HW_OK)
        std::free(image);
    hw_info_destroy(info);
    return total == SIZE_MAX;
}
