// The fixed disks of the computer, read raw through the system root.
#include "hd_internal.h"

#include "ic/sys/block.h"
#include "ic/sys/sysroot.h"
#include "ic/sys/udev.h"
#include "ic/sys/udev_ptr.h"
#include <ic/util/unique_fd.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace {

int sys_code(int rc)
{
    return rc == IC_SYS_ENOMEM ? IC_ERR_NOMEM : IC_ERR_IO;
}

// Appends the disk at syspath when it is a fixed one.
int scan_one(hd_info *info, ic_sys_udev *udev, const char *syspath)
{
    ic_sys_udev_device *dev = nullptr;
    int rc = ic_sys_udev_device_from_syspath(udev, syspath, &dev);
    ic_sys::device_ptr device(dev);
    if (rc != IC_SYS_OK)
        return sys_code(rc);
    if (ic_sys_block_media(dev) != IC_SYS_MEDIA_FIXED)
        return IC_OK;
    const char *node = ic_sys_udev_device_devnode(dev);
    // A virtio disk has only ID_SERIAL: the identity the volume list gives it.
    const char *serial = ic_sys_udev_device_property(dev, "ID_SERIAL_SHORT");
    if (!serial)
        serial = ic_sys_udev_device_property(dev, "ID_SERIAL");
    if (!node || !serial) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "%s: no %s\n", syspath, node ? "serial (ID_SERIAL_SHORT, ID_SERIAL)" : "device node");
        return IC_ERR_IO;
    }
    ic_util::unique_fd fd(ic_sys_open(node, O_RDONLY, 0));
    if (!fd.valid()) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "%s: %s\n", node, std::strerror(errno));
        return IC_ERR_IO;
    }
    hd_disk *disk = nullptr;
    rc = hd_disk_read_fd(fd.get(), serial, &disk);
    if (rc == IC_OK)
        rc = hd_info_add_disk(info, disk);
    return rc;
}

int scan(hd_info *info)
{
    ic_sys_udev *udev = nullptr;
    int rc = ic_sys_udev_create(&udev);
    ic_sys::udev_ptr udev_owner(udev);
    if (rc != IC_SYS_OK)
        return sys_code(rc);
    ic_sys_udev_list *list = nullptr;
    rc = ic_sys_block_disks(&list);
    ic_sys::list_ptr list_owner(list);
    if (rc != IC_SYS_OK)
        return sys_code(rc);
    for (size_t i = 0; rc == IC_OK && i < ic_sys_udev_list_count(list); ++i)
        rc = scan_one(info, udev, ic_sys_udev_list_syspath(list, i));
    return rc;
}

} // namespace

int hd_info_get_current(hd_info **info)
{
    HD_ENTER();
    if (!info)
        HD_RETURN(IC_ERR_INVAL);
    hd_info *i = nullptr;
    int rc = hd_info_create(&i);
    if (rc != IC_OK)
        HD_RETURN(rc);
    rc = scan(i);
    if (rc != IC_OK) {
        hd_info_destroy(i);
        HD_RETURN(rc);
    }
    *info = i;
    HD_RETURN(IC_OK);
}
