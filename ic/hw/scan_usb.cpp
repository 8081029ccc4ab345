// USB scanner: devices in /sys/bus/usb/devices without root hubs and
// interfaces.
#include "hw_internal.h"
#include "scan_sysfs.h"

#include <ic/hw/hw_scan.h>

#include "ic/sys/sysroot.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr const char *usb_dir = "/sys/bus/usb/devices";

// Skips a run of at least one digit; null when there is none.
const char *digits(const char *p)
{
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return nullptr;
    while (std::isdigit(static_cast<unsigned char>(*p)))
        ++p;
    return p;
}

// "usbN" (root hubs) or "B-P[.P...]" (devices); interfaces have a ":".
int is_usb_dev(const struct dirent *e)
{
    const char *p = e->d_name;
    if (std::strncmp(p, "usb", 3) == 0) {
        p = digits(p + 3);
        return p && !*p;
    }
    p = digits(p);
    if (!p || *p++ != '-' || !(p = digits(p)))
        return 0;
    while (*p == '.')
        if (!(p = digits(p + 1)))
            return 0;
    return !*p;
}

const char *skip_usb(const char *name)
{
    return std::strncmp(name, "usb", 3) == 0 ? name + 3 : name;
}

int usb_cmp(const struct dirent **a, const struct dirent **b)
{
    return std::strcmp(skip_usb((*a)->d_name), skip_usb((*b)->d_name));
}

} // namespace

int scan_usb(hw_info *info)
{
    HW_ENTER();
    if (!info)
        HW_RETURN(HW_ERR_INVAL);
    struct stat st;
    if (ic_sys_stat(usb_dir, &st) != 0 || !S_ISDIR(st.st_mode))
        HW_RETURN(HW_OK); // no USB support
    hw_dirents entries;
    entries.count = ic_sys_scandir(usb_dir, &entries.list, is_usb_dev, usb_cmp);
    if (entries.count < 0) {
        entries.count = 0;
        HW_RETURN(HW_ERR_IO);
    }
    for (int i = 0; i < entries.count; ++i) {
        const char *name = entries.list[i]->d_name;
        char *dir = alloc_sprintf("%s/%s", usb_dir, name);
        if (!dir)
            HW_RETURN(HW_ERR_NOMEM);
        if (std::strncmp(dir, "/sys/bus/usb/devices/usb", 24) == 0) { // root hub
            std::free(dir);
            continue;
        }
        unsigned vendor, product;
        char serial[256];
        size_t serial_len = sizeof serial;
        int rc = scanf_sysfs_attr(dir, "idVendor", "%x", &vendor);
        if (rc == HW_OK)
            rc = scanf_sysfs_attr(dir, "idProduct", "%x", &product);
        if (rc == HW_OK) {
            rc = get_sysfs_attr(dir, "serial", serial, &serial_len);
            if (rc == HW_ERR_NO_ATTR) {
                serial[0] = '\0';
                serial_len = 0;
                rc = HW_OK;
            }
        }
        std::free(dir);
        hw_device *d = nullptr;
        if (rc == HW_OK)
            rc = create_usb_device(name, -1, uint16_t(vendor), uint16_t(product), serial,
                                   int(serial_len), &d);
        rc = hw_append_read(info, rc, d);
        if (rc != HW_OK)
            HW_RETURN(rc);
    }
    HW_RETURN(HW_OK);
}
