// LVM groups and their active logical volumes, found as device-mapper
// devices: udev's DM_VG_NAME/DM_LV_NAME, else the device-mapper name.
#include "fs_internal.h"

#include "ic/sys/sysroot.h"
#include "ic/util/log.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <new>
#include <string>
#include <vector>

namespace ic_fs {

bool split_dm_name(const char *dm_name, std::string &group, std::string &volume)
{
    if (!dm_name)
        return false;
    std::string part[2];
    int at = 0;
    for (const char *p = dm_name; *p; ++p) {
        if (*p != '-') {
            part[at] += *p;
        } else if (p[1] == '-') {
            part[at] += '-';
            ++p;
        } else if (at == 0) {
            at = 1;
        } else {
            return false; // a third part: an LVM sub-layer, not a volume
        }
    }
    if (at != 1 || part[0].empty() || part[1].empty())
        return false;
    group = part[0];
    volume = part[1];
    return true;
}

} // namespace ic_fs

namespace {

using namespace ic_fs;

fs_lvm_group *group_named(fs_disk_list *list, const std::string &name)
{
    for (fs_lvm_group *g = list->first_lvm_group; g; g = g->next)
        if (name == g->name)
            return g;
    return add_lvm_group(list, name.c_str());
}

int add_groups(fs_disk_list *list, ic_sys_udev *udev)
{
    std::vector<std::string> names;
    if (!block_names(names))
        return FS_ERR_IO;
    for (const std::string &name : names) {
        std::string canon;
        if (!resolve_block(name, canon))
            continue;
        ic_sys_udev_device *raw = nullptr;
        if (ic_sys_udev_device_from_syspath(udev, canon.c_str(), &raw) != 0)
            continue;
        udev_device_ptr dev(raw);
        const char *dm_name = ic_sys_udev_device_sysattr(dev.get(), "dm/name");
        if (!dm_name)
            continue;
        const char *dm_uuid = ic_sys_udev_device_sysattr(dev.get(), "dm/uuid");
        if (dm_uuid && *dm_uuid && std::strncmp(dm_uuid, "LVM-", 4) != 0)
            continue; // device-mapper, but not LVM (crypt, multipath)
        const char *layer = ic_sys_udev_device_property(dev.get(), "DM_LV_LAYER");
        if (layer && *layer)
            continue;
        std::string group, volume;
        const char *vg = ic_sys_udev_device_property(dev.get(), "DM_VG_NAME");
        const char *lv = ic_sys_udev_device_property(dev.get(), "DM_LV_NAME");
        if (vg && lv && *vg && *lv) {
            group = vg;
            volume = lv;
        } else if (!split_dm_name(dm_name, group, volume)) {
            continue;
        }
        const char *node = ic_sys_udev_device_devnode(dev.get());
        if (!node)
            continue;
        fs_lvm_group *g = group_named(list, group);
        if (!g)
            return FS_ERR_NOMEM;
        fs_ident ident;
        identify(dev.get(), node, ident);
        if (!add_lvm_volume(g, canon.c_str(), node, volume.c_str(), ident.type))
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "no memory for volume %s\n", volume.c_str());
    }
    return FS_OK;
}

} // namespace

int fs_disk_list_add_lvm_groups(fs_disk_list *list)
{
    if (!list)
        return FS_ERR_PATH;
    try {
        ic_sys_udev *raw = nullptr;
        int rc = ic_sys_udev_create(&raw);
        if (rc != FS_OK)
            return rc == FS_ERR_NOMEM ? rc : FS_ERR_IO;
        udev_ptr udev(raw);
        rc = add_groups(list, udev.get());
        if (rc != FS_OK)
            free_lvm_groups(list);
        return rc;
    } catch (const std::bad_alloc &) {
        free_lvm_groups(list);
        return FS_ERR_NOMEM;
    }
}
