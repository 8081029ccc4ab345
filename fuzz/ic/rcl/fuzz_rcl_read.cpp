// Byte image of a registry check list as stored in the module.  An image
// that reads writes an image that reads back to the same bytes again.
#include <ic/rcl/rcl.h>
#include <ic/util/log.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (ic_log_set_default_level(IC_LOG_FATAL), true);
    (void)quiet;
    rcl *list;
    if (rcl_read_from_mem(data, uint32_t(size), &list) != REG_OK)
        return 0;
    uint8_t *image;
    uint32_t image_size;
    if (rcl_write_to_mem(list, &image, &image_size) == REG_OK) {
        rcl *again;
        if (rcl_read_from_mem(image, image_size, &again) != REG_OK)
            std::abort();
        uint8_t *second;
        uint32_t second_size;
        if (rcl_write_to_mem(again, &second, &second_size) != REG_OK || second_size != image_size
            || std::memcmp(image, second, image_size) != 0)
            std::abort();
        std::free(second);
        rcl_destroy(again);
        std::free(image);
    }
    rcl_destroy(list);
    return 0;
}
