// Discovering the fixed disks and their partitions through sysfs and udev.
#include "fs_internal.h"

#include "ic/fs/fs_foreign.h"
#include "ic/sys/sysroot.h"
#include "ic/util/log.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace ic_fs {

void identify(ic_sys_udev_device *dev, const char *devnode, fs_ident &out)
{
    out.type = ic_sys_udev_device_property(dev, "ID_FS_TYPE");
    out.uuid = ic_sys_udev_device_property(dev, "ID_FS_UUID");
    // Without a udev daemon the database has nothing on the device: probe it
    // as udev's blkid builtin would.
    if (out.type || ic_sys_udev_device_property(dev, "USEC_INITIALIZED") || !devnode)
        return;
    char *type = nullptr, *uuid = nullptr;
    if (probe_fs(devnode, &type, &uuid) != FS_OK)
        return;
    out.owned_type.reset(type);
    out.owned_uuid.reset(uuid);
    out.type = type;
    if (!out.uuid)
        out.uuid = uuid;
}

// Entries of /sys/class/block in name order; false when the directory
// cannot be read.
bool block_names(std::vector<std::string> &names)
{
    DIR *d = ic_sys_opendir("/sys/class/block");
    if (!d)
        return false;
    bool ok = true;
    for (;;) {
        errno = 0;
        struct dirent *e = readdir(d);
        if (!e) {
            ok = errno == 0;
            break;
        }
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return ok;
}

bool resolve_block(const std::string &name, std::string &syspath)
{
    char canon[PATH_MAX];
    if (!ic_sys_realpath(("/sys/class/block/" + name).c_str(), canon))
        return false;
    syspath = canon;
    return true;
}

} // namespace ic_fs

namespace {

using namespace ic_fs;

struct list_deleter {
    void operator()(fs_disk_list *l) const { fs_disk_list_destroy(l); }
};

std::string parent_path(const std::string &syspath)
{
    return syspath.substr(0, syspath.rfind('/'));
}

// A partition: marked so, or lying below another block device (a partition
// whose attributes are incomplete is still no disk of its own).
bool is_partition(ic_sys_udev_device *dev, const std::string &syspath, const std::set<std::string> &devices)
{
    return ic_sys_udev_device_sysattr(dev, "partition") != nullptr || devices.count(parent_path(syspath)) != 0;
}

// First pass: whole disks that are not removable and have a serial.
int add_disks(fs_disk_list *list, ic_sys_udev *udev, const std::vector<std::string> &names)
{
    // Device paths of the entries, empty where a link does not resolve.
    std::vector<std::string> paths(names.size());
    std::set<std::string> devices;
    for (size_t i = 0; i < names.size(); ++i)
        if (resolve_block(names[i], paths[i]))
            devices.insert(paths[i]);
    for (const std::string &syspath : paths) {
        if (syspath.empty())
            return FS_OK; // ends the pass, as a vanished entry would
        if (syspath.find("/virtual/") != std::string::npos)
            continue;
        ic_sys_udev_device *raw = nullptr;
        int rc = ic_sys_udev_device_from_syspath(udev, syspath.c_str(), &raw);
        if (rc == FS_ERR_NOMEM)
            return rc;
        udev_device_ptr dev(raw);
        if (!dev || is_partition(dev.get(), syspath, devices))
            continue;
        const char *removable = ic_sys_udev_device_sysattr(dev.get(), "removable");
        if (removable && std::strcmp(removable, "1") == 0)
            continue;
        const char *identity = ic_sys_udev_device_property(dev.get(), "ID_SERIAL_SHORT");
        if (!identity)
            identity = ic_sys_udev_device_property(dev.get(), "ID_SERIAL");
        if (!identity) {
            std::printf("%s\n", syspath.c_str());
            continue;
        }
        if (!add_disk(list, syspath.c_str(), ic_sys_udev_device_devnode(dev.get()), identity))
            return FS_ERR_NOMEM;
    }
    return FS_OK;
}

fs_disk *owning_disk(const fs_disk_list *list, const std::string &parent)
{
    // The whole path, not a prefix: sda must not take the partitions of a
    // skipped sd with a shorter name.
    for (fs_disk *d = list->first_disk; d; d = d->next)
        if (d->syspath && parent == d->syspath)
            return d;
    return nullptr;
}

int add_partitions(fs_disk_list *list, ic_sys_udev *udev, const std::vector<std::string> &names)
{
    for (const std::string &name : names) {
        std::string syspath;
        if (!resolve_block(name, syspath)) {
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "cannot resolve /sys/class/block/%s\n", name.c_str());
            return FS_ERR_IO;
        }
        if (syspath.find("/virtual/") != std::string::npos)
            continue;
        // Every block device below a disk is one of its partitions.
        fs_disk *disk = owning_disk(list, parent_path(syspath));
        if (!disk)
            continue;
        ic_sys_udev_device *raw = nullptr;
        int rc = ic_sys_udev_device_from_syspath(udev, syspath.c_str(), &raw);
        if (rc != FS_OK) {
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "no udev device for %s: %d\n", syspath.c_str(), rc);
            return rc == FS_ERR_NOMEM ? rc : FS_ERR_IO;
        }
        udev_device_ptr dev(raw);
        const char *devnode = ic_sys_udev_device_devnode(dev.get());
        const char *sysnum = ic_sys_udev_device_sysnum(dev.get());
        if (!devnode || !sysnum) {
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "partition without a device node: %s\n", syspath.c_str());
            return FS_ERR_IO;
        }
        fs_ident ident;
        identify(dev.get(), devnode, ident);
        const char *type = ident.type;
        const char *entry_type = ic_sys_udev_device_property(dev.get(), "ID_PART_ENTRY_TYPE");
        if (!type && entry_type && ic_sys_udev_device_property(dev.get(), "ID_PART_TABLE_TYPE"))
            type = fs_foreign_type_by_mbr(entry_type);
        const unsigned long number = std::strtoul(sysnum, nullptr, 10);
        if (!add_partition(disk, syspath.c_str(), devnode, unsigned(std::min(number, 0xFFFFul)), type,
                           ident.uuid))
            return FS_ERR_NOMEM;
    }
    return FS_OK;
}

} // namespace

int fs_disk_list_create(fs_disk_list **list)
{
    if (!list)
        return FS_ERR_PATH;
    *list = nullptr;
    try {
        std::unique_ptr<fs_disk_list, list_deleter> l(new fs_disk_list{});
        ic_sys_udev *raw = nullptr;
        int rc = ic_sys_udev_create(&raw);
        if (rc != FS_OK)
            return rc == FS_ERR_NOMEM ? rc : FS_ERR_IO;
        udev_ptr udev(raw);
        std::vector<std::string> names;
        if (!block_names(names)) {
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "cannot read /sys/class/block\n");
            return FS_ERR_IO;
        }
        rc = add_disks(l.get(), udev.get(), names);
        if (rc == FS_OK)
            rc = add_partitions(l.get(), udev.get(), names);
        if (rc != FS_OK)
            return rc;
        *list = l.release();
        return FS_OK;
    } catch (const std::bad_alloc &) {
        return FS_ERR_NOMEM;
    }
}
