// Monitor name of an EDID block (the input, cut or zero-padded to 128
// bytes): always terminated within 14 bytes; the monitor device built from
// it writes and reads back.
#include <ic/hw/hw_info.h>
#include <ic/hw/hw_scan.h>
#include <ic/util/log.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (ic_log_set_default_level(IC_LOG_FATAL), true);
    (void)quiet;

    uint8_t edid[HW_EDID_SIZE] = {};
    std::memcpy(edid, data, size < sizeof edid ? size : sizeof edid);
    char name[14];
    std::memset(name, 0x55, sizeof name);
    hw_edid_monitor_name(edid, name);
    if (!std::memchr(name, 0, sizeof name))
        std::abort();

    hw_info *info = nullptr;
    if (_hw_info_create(&info) != HW_OK)
        return 0;
    if (_hw_create_monitor_device(info, 5, edid) == HW_OK) {
        uint8_t *image = nullptr;
        uint32_t image_size = 0;
        if (hw_info_write_to_mem(info, &image, &image_size) == HW_OK) {
            hw_info *back = nullptr;
            if (hw_info_read_from_mem(image, image_size, &back) != HW_OK)
                std::abort();
            hw_info_destroy(back);
            std::free(image);
        }
    }
    hw_info_destroy(info);
    return 0;
}
