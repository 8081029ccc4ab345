/*
 * hw_ptr.h - owning handles for C++ users of the hardware core: each
 * destroys its record with the record's own destroy call.
 */
#ifndef IC_HW_HW_PTR_H
#define IC_HW_HW_PTR_H

#include <ic/hw/hw_diff.h>
#include <ic/hw/hw_info.h>

#include <memory>

namespace ic_hw {

struct info_deleter {
    void operator()(hw_info *info) const { hw_info_destroy(info); }
};
struct diff_deleter {
    void operator()(hw_diff *diff) const { hw_diff_destroy(diff); }
};
struct device_deleter {
    void operator()(hw_device *device) const { hw_device_destroy(device); }
};
struct param_deleter {
    void operator()(hw_param *param) const { hw_param_destroy(param); }
};

using info_ptr = std::unique_ptr<hw_info, info_deleter>;
using diff_ptr = std::unique_ptr<hw_diff, diff_deleter>;
using device_ptr = std::unique_ptr<hw_device, device_deleter>;
using param_ptr = std::unique_ptr<hw_param, param_deleter>;

} // namespace ic_hw

#endif
