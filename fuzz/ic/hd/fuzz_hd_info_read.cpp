// Byte image of a partition-table inventory as stored in the module.  An
// image that reads back writes an image that reads back to the same bytes
// again, and compares unchanged with itself.
#include <ic/hd/hd_diff.h>
#include <ic/hd/hd_info.h>
#include <ic/util/log.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

std::vector<uint8_t> image_of(const hd_info *info)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (hd_info_write_to_mem(info, &data, &size) != 0)
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
    hd_info *info = nullptr;
    if (hd_info_read_from_mem(input.data(), uint32_t(input.size()), &info) != 0)
        return 0;
    const std::vector<uint8_t> first = image_of(info);
    hd_info *again = nullptr;
    if (first.empty() || hd_info_read_from_mem(first.data(), uint32_t(first.size()), &again) != 0)
        std::abort();
    if (image_of(again) != first)
        std::abort();

    hd_diff *diff = nullptr;
    if (hd_diff_create(info, again, &diff) == 0) {
        if (diff->flags & HD_DIFF_CHANGED)
            std::abort();
        hd_diff_destroy(diff);
    }
    hd_info_destroy(again);
    hd_info_destroy(info);
    return 0;
}
