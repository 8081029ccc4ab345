// Media scanner: floppies, optical drives and fixed disks in /sys/block.
#include "hw_internal.h"

#include <ic/hw/hw_scan.h>

#include "ic/sys/block.h"
#include "ic/sys/udev.h"
#include "ic/sys/udev_ptr.h"

#include <cstdio>

namespace {

struct media_kind {
    uint32_t type;
    const char *prefix;
};
const media_kind kinds[] = {
    {HW_MEDIA_FLOPPY, "fdd"},
    {HW_MEDIA_FIXED, "hdd"},
    {HW_MEDIA_OPTICAL, "cd"},
};
static_assert(int(HW_MEDIA_FLOPPY) == int(IC_SYS_MEDIA_FLOPPY) && int(HW_MEDIA_FIXED) == int(IC_SYS_MEDIA_FIXED)
                  && int(HW_MEDIA_OPTICAL) == int(IC_SYS_MEDIA_OPTICAL),
              "media types are the system's media kinds");

int udev_code(int rc)
{
    return rc == IC_SYS_ENOMEM ? HW_ERR_NOMEM : HW_ERR_IO;
}

// Classifies and appends one block device; removable disks are left out.
int scan_one(hw_info *info, ic_sys_udev_device *dev, unsigned counters[3])
{
    const int media = ic_sys_block_media(dev);
    if (media == IC_SYS_MEDIA_REMOVABLE)
        return HW_OK;
    const uint32_t type = uint32_t(media);
    ic_sys_block_identity id;
    const int idrc = ic_sys_block_identity_get(dev, &id);
    if (idrc != IC_SYS_OK)
        return udev_code(idrc);
    char name[32];
    std::snprintf(name, sizeof name, "%s%u", kinds[type].prefix, counters[type]++);
    const char *path = ic_sys_udev_device_devpath(dev);
    hw_device *d = nullptr;
    int rc = create_media_device(type, name, -1, path ? path : "", -1, id.vendor, -1, id.model, -1, id.revision,
                                 -1, id.serial, -1, &d);
    return hw_append_read(info, rc, d);
}

} // namespace

int scan_media(hw_info *info)
{
    HW_ENTER();
    if (!info)
        HW_RETURN(HW_ERR_INVAL);
    ic_sys_udev_list *list = nullptr;
    int rc = ic_sys_block_disks(&list);
    ic_sys::list_ptr disks(list);
    if (rc != IC_SYS_OK)
        HW_RETURN(udev_code(rc));
    ic_sys_udev *raw = nullptr;
    rc = ic_sys_udev_create(&raw);
    ic_sys::udev_ptr udev(raw);
    if (rc != IC_SYS_OK)
        HW_RETURN(udev_code(rc));
    unsigned counters[3] = {0, 0, 0};
    for (size_t i = 0; i < ic_sys_udev_list_count(list); ++i) {
        ic_sys_udev_device *dev = nullptr;
        rc = ic_sys_udev_device_from_syspath(raw, ic_sys_udev_list_syspath(list, i), &dev);
        ic_sys::device_ptr device(dev);
        if (rc != IC_SYS_OK)
            HW_RETURN(udev_code(rc));
        rc = scan_one(info, dev, counters);
        if (rc != HW_OK)
            HW_RETURN(rc);
    }
    HW_RETURN(HW_OK);
}
