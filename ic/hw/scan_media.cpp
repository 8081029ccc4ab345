// Media scanner: floppies, optical drives and fixed disks in /sys/block.
#include "hw_internal.h"
#include "scan_sysfs.h"

#include <ic/hw/hw_scan.h>

#include "ic/sys/sysroot.h"
#include "ic/sys/udev.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char *block_dir = "/sys/block";
constexpr unsigned floppy_major = 2;

// Leaves out "." and "..".
int skip_ent(const struct dirent *e)
{
    const char *n = e->d_name;
    return !(n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')));
}

struct media_kind {
    uint32_t type;
    const char *prefix;
};
const media_kind kinds[] = {
    {HW_MEDIA_FLOPPY, "fdd"},
    {HW_MEDIA_FIXED, "hdd"},
    {HW_MEDIA_OPTICAL, "cd"},
};

const char *property(ic_sys_udev_device *dev, const char *key)
{
    const char *v = ic_sys_udev_device_property(dev, key);
    return v ? v : "";
}

int udev_code(int rc)
{
    return rc == IC_SYS_ENOMEM ? HW_ERR_NOMEM : HW_ERR_IO;
}

// Classifies and appends one block device; removable disks are left out.
int scan_one(hw_info *info, ic_sys_udev_device *dev, unsigned counters[3])
{
    unsigned major = 0, minor = 0;
    uint32_t type;
    if (ic_sys_udev_device_devnum(dev, &major, &minor) == IC_SYS_OK && major == floppy_major) {
        type = HW_MEDIA_FLOPPY;
    } else if (std::strcmp(property(dev, "ID_CDROM"), "1") == 0) {
        type = HW_MEDIA_OPTICAL;
    } else {
        const char *removable = ic_sys_udev_device_sysattr(dev, "removable");
        if (removable && std::strcmp(removable, "1") == 0)
            return HW_OK;
        type = HW_MEDIA_FIXED;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%s%u", kinds[type].prefix, counters[type]++);
    const char *path = ic_sys_udev_device_devpath(dev);
    hw_device *d = nullptr;
    int rc = create_media_device(type, name, -1, path ? path : "", -1, property(dev, "ID_VENDOR"),
                                 -1, property(dev, "ID_MODEL"), -1, property(dev, "ID_REVISION"),
                                 -1, property(dev, "ID_SERIAL_SHORT"), -1, &d);
    return hw_append_read(info, rc, d);
}

struct udev_guard {
    ic_sys_udev *udev = nullptr;
    ~udev_guard() { ic_sys_udev_destroy(udev); }
};

} // namespace

int scan_media(hw_info *info)
{
    HW_ENTER();
    if (!info)
        HW_RETURN(HW_ERR_INVAL);
    hw_dirents entries;
    entries.count = ic_sys_scandir(block_dir, &entries.list, skip_ent, alphasort);
    if (entries.count < 0) {
        entries.count = 0;
        HW_RETURN(HW_ERR_IO);
    }
    udev_guard u;
    int rc = ic_sys_udev_create(&u.udev);
    if (rc != IC_SYS_OK)
        HW_RETURN(udev_code(rc));
    unsigned counters[3] = {0, 0, 0};
    for (int i = 0; i < entries.count; ++i) {
        char *path = alloc_sprintf("%s/%s", block_dir, entries.list[i]->d_name);
        if (!path)
            HW_RETURN(HW_ERR_NOMEM);
        // Loop, RAM and device-mapper disks live below /virtual/.
        char resolved[PATH_MAX];
        if (!ic_sys_realpath(path, resolved) || std::strstr(resolved, "/virtual/")) {
            std::free(path);
            continue;
        }
        ic_sys_udev_device *dev = nullptr;
        rc = ic_sys_udev_device_from_syspath(u.udev, path, &dev);
        std::free(path);
        if (rc != IC_SYS_OK)
            HW_RETURN(udev_code(rc));
        rc = scan_one(info, dev, counters);
        ic_sys_udev_device_destroy(dev);
        if (rc != HW_OK)
            HW_RETURN(rc);
    }
    HW_RETURN(HW_OK);
}
