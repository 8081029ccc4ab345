// The inventory: one device list, counter and flag word per class.
#include "hw_internal.h"

#include <ic/hw/hw_scan.h>

#include <cstdlib>

int _hw_info_create(hw_info **info)
{
    HW_ENTER();
    if (!info)
        HW_RETURN(HW_ERR_INVAL);
    auto *i = static_cast<hw_info *>(std::calloc(1, sizeof(hw_info)));
    if (!i)
        HW_RETURN(HW_ERR_NOMEM);
    for (hw_list &l : i->devices)
        hw_list_init(&l);
    *info = i;
    HW_RETURN(HW_OK);
}

void hw_info_destroy(hw_info *info)
{
    HW_ENTER();
    if (info) {
        for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
            while (!hw_list_empty(&info->devices[c])) {
                hw_device *d = hw_container_of(info->devices[c].next, hw_device, link);
                _hw_info_remove_device(info, d);
                d->ops->destroy(d);
            }
        }
        std::free(info);
    }
    HW_RETURN_VOID();
}

int _hw_info_add_device(hw_info *info, hw_device *device)
{
    if (!info || !device || device->ops->type >= HW_CLASS_COUNT)
        return HW_ERR_INVAL;
    const uint32_t c = device->ops->type;
    hw_list_append(&info->devices[c], &device->link);
    ++info->count[c];
    return HW_OK;
}

int _hw_info_remove_device(hw_info *info, hw_device *device)
{
    if (!info || !device || device->ops->type >= HW_CLASS_COUNT)
        return HW_ERR_INVAL;
    hw_list_unlink(&device->link);
    --info->count[device->ops->type];
    return HW_OK;
}

hw_device *hw_info_get_first_device(const hw_info *info, uint32_t type)
{
    if (!info || type >= HW_CLASS_COUNT || hw_list_empty(&info->devices[type]))
        return nullptr;
    return hw_container_of(info->devices[type].next, hw_device, link);
}

hw_device *hw_info_get_next_device(const hw_info *info, const hw_device *device)
{
    if (!info || !device || device->ops->type >= HW_CLASS_COUNT
        || device->link.next == &info->devices[device->ops->type])
        return nullptr;
    return hw_container_of(device->link.next, hw_device, link);
}

int hw_info_get_current(hw_info **info)
{
    HW_ENTER();
    if (!info)
        HW_RETURN(HW_ERR_INVAL);
    hw_info *i = nullptr;
    int rc = _hw_info_create(&i);
    if (rc != HW_OK)
        HW_RETURN(rc);
    int (*const scanners[])(hw_info *) = {scan_pci, scan_usb, scan_dmi, scan_media, scan_monitor};
    for (auto scan : scanners) {
        rc = scan(i);
        if (rc != HW_OK) {
            hw_info_destroy(i);
            HW_RETURN(rc);
        }
    }
    *info = i;
    HW_RETURN(HW_OK);
}

int hw_append_read(hw_info *info, int rc, hw_device *device)
{
    if (rc != HW_OK)
        return rc;
    rc = _hw_info_add_device(info, device);
    if (rc != HW_OK)
        device->ops->destroy(device);
    return rc;
}
