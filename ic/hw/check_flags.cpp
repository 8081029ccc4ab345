// Check flags of a whole device and of a whole inventory.
#include "hw_internal.h"

void hw_device_set_checked(hw_device *device, int checked)
{
    if (!device)
        return;
    // Exactly 2 for a checked device (the matched bit is not kept).
    device->flags = checked ? HW_DEVICE_CHECKED : 0;
    for (hw_param *p = hw_device_get_first_param(device); p; p = hw_device_get_next_param(device, p))
        p->flags = checked ? HW_PARAM_CHECKED : 0;
}

int hw_info_check_all(hw_info *info)
{
    if (!info)
        return HW_ERR_INVAL;
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        info->flags[c] = HW_CLASS_CHECKED;
        for (hw_device *d = hw_info_get_first_device(info, c); d; d = hw_info_get_next_device(info, d))
            hw_device_set_checked(d, 1);
    }
    return HW_OK;
}
