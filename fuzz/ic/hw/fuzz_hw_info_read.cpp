// Byte image of a hardware inventory as stored in the module.  An image that
// reads back writes an image that reads back to the same bytes again, and
// compares equal with itself.
#include <ic/hw/hw_diff.h>
#include <ic/hw/hw_info.h>
#include <ic/util/log.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> image_of(const hw_info *info)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (hw_info_write_to_mem(info, &data, &size) != HW_OK)
        return {};
    std::vector<uint8_t> out(data, data + size);
    std::free(data);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (ic_log_set_default_level(IC_LOG_FATAL), true);
    (void)quiet;
    if (size > UINT32_MAX)
        return 0;

    // An exact-size copy, so that reads past the end are caught.
    std::vector<uint8_t> input(data, data + size);
    hw_info *info = nullptr;
    if (hw_info_read_from_mem(input.data(), uint32_t(input.size()), &info) != HW_OK)
        return 0;
    const std::vector<uint8_t> first = image_of(info);
    hw_info *again = nullptr;
    if (first.empty() || hw_info_read_from_mem(first.data(), uint32_t(first.size()), &again) != HW_OK)
        std::abort();
    if (image_of(again) != first)
        std::abort();

    hw_diff *diff = nullptr;
    if (hw_diff_create(info, again, &diff) == HW_OK) {
        if (diff->flags != 0)
            std::abort();
        hw_diff_destroy(diff);
    }
    hw_info_destroy(again);
    hw_info_destroy(info);
    return 0;
}
