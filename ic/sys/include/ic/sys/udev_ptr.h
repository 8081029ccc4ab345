// Owning handles for C++ users of the device-property interface: each one
// destroys its object with the interface's own destroy call.
#ifndef IC_SYS_UDEV_PTR_H
#define IC_SYS_UDEV_PTR_H

#include "ic/sys/udev.h"

#include <memory>

namespace ic_sys {

struct udev_deleter {
    void operator()(ic_sys_udev *udev) const { ic_sys_udev_destroy(udev); }
};
struct device_deleter {
    void operator()(ic_sys_udev_device *device) const { ic_sys_udev_device_destroy(device); }
};
struct list_deleter {
    void operator()(ic_sys_udev_list *list) const { ic_sys_udev_list_destroy(list); }
};

using udev_ptr = std::unique_ptr<ic_sys_udev, udev_deleter>;
using device_ptr = std::unique_ptr<ic_sys_udev_device, device_deleter>;
using list_ptr = std::unique_ptr<ic_sys_udev_list, list_deleter>;

} // namespace ic_sys

#endif
