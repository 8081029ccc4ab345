// Image disks: an image file on a volume attached read-only to a free loop
// device with partition scanning.
#include "fs_internal.h"
#include "in_volume.h"

#include "ic/sys/sysroot.h"
#include "ic/util/log.h"
#include "ic/util/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <new>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace ic_fs;
using ic_util::unique_fd;

constexpr unsigned loop_major = 7;

struct loop_device {
    std::string syspath, devnode;
    unique_fd fd;
};

// Loop device n when it exists: 0 and dev filled (fd open only when the
// device is free); 7 when /sys/class/block/loopN does not exist.
int probe_loop(ic_sys_udev *udev, unsigned n, loop_device &dev, bool &free_device)
{
    free_device = false;
    char path[64];
    std::snprintf(path, sizeof path, "/sys/class/block/loop%u", n);
    struct stat st;
    if (ic_sys_stat(path, &st) != 0)
        return FS_ERR_NO_LOOP;
    char canon[PATH_MAX];
    if (!ic_sys_realpath(path, canon))
        return FS_OK;
    ic_sys_udev_device *raw = nullptr;
    if (ic_sys_udev_device_from_syspath(udev, canon, &raw) != 0)
        return FS_OK;
    udev_device_ptr d(raw);
    unsigned major, minor;
    const char *node = ic_sys_udev_device_devnode(d.get());
    if (ic_sys_udev_device_devnum(d.get(), &major, &minor) != 0 || major != loop_major || !node)
        return FS_OK;
    unique_fd fd(ic_sys_open(node, O_RDONLY, 0));
    if (!fd.valid())
        return FS_OK;
    struct loop_info64 info;
    if (ioctl(fd.get(), LOOP_GET_STATUS64, &info) == 0 || errno != ENXIO)
        return FS_OK;
    dev.syspath = canon;
    dev.devnode = node;
    dev.fd = std::move(fd);
    free_device = true;
    return FS_OK;
}

// Binds image to the loop device read-only, with partition scanning and the
// image path as file name. 0; 16 (EBUSY) when another user took the device
// first; 1.
int bind(loop_device &dev, int image_fd, const char *image_path)
{
    if (ioctl(dev.fd.get(), LOOP_SET_FD, image_fd) != 0) {
        int err = errno;
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "LOOP_SET_FD %s: error_code = %d\n", dev.devnode.c_str(), err);
        return err == EBUSY ? EBUSY : FS_ERR_IO;
    }
    struct loop_info64 info64;
    std::memset(&info64, 0, sizeof info64);
    info64.lo_flags = LO_FLAGS_READ_ONLY | LO_FLAGS_PARTSCAN;
    std::strncpy(reinterpret_cast<char *>(info64.lo_file_name), image_path, LO_NAME_SIZE - 1);
    if (ioctl(dev.fd.get(), LOOP_SET_STATUS64, &info64) == 0)
        return FS_OK;
    struct loop_info info;
    std::memset(&info, 0, sizeof info);
    info.lo_flags = LO_FLAGS_READ_ONLY | LO_FLAGS_PARTSCAN;
    std::strncpy(info.lo_name, image_path, LO_NAME_SIZE - 1);
    if (ioctl(dev.fd.get(), LOOP_SET_STATUS, &info) == 0)
        return FS_OK;
    IC_LOG(ic_log_fs, IC_LOG_ERROR, "LOOP_SET_STATUS %s: error_code = %d\n", dev.devnode.c_str(), errno);
    ioctl(dev.fd.get(), LOOP_CLR_FD, 0);
    return FS_ERR_IO;
}

// Opens the image file read-only as a path inside the volume mounted at
// mount_dir: its links resolve inside the volume, never onto the host's own
// files, and it must be a regular file; a pipe or device in its place does
// not make the open wait. An fd, or -1 with errno.
int open_image(const char *mount_dir, const char *path)
{
    unique_fd root(open(mount_dir, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid())
        return -1;
    unique_fd fd;
    if (const int err = open_in_volume(root.get(), path, O_RDONLY | O_NONBLOCK, fd)) {
        errno = err;
        return -1;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    return fd.release();
}

int settle(ic_sys_udev *udev)
{
    int rc = ic_sys_udev_settle(udev, FS_UDEV_SETTLE_MS);
    if (rc != FS_OK)
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "udev settle: %d\n", rc);
    return rc == IC_SYS_ETIMEDOUT ? FS_ERR_UDEV : rc == FS_OK ? FS_OK : FS_ERR_IO;
}

int attach(fs_disk_list *list, fs_volume *host, const char *image_path, const char *name,
           fs_image_disk **image_disk)
{
    ic_sys_udev *raw = nullptr;
    int rc = ic_sys_udev_create(&raw);
    if (rc != FS_OK)
        return rc == FS_ERR_NOMEM ? rc : FS_ERR_IO;
    udev_ptr udev(raw);

    loop_device dev;
    bool free_device = false;
    unsigned n = 0;
    for (; !free_device; ++n) {
        rc = probe_loop(udev.get(), n, dev, free_device);
        if (rc != FS_OK)
            return rc;
    }

    const char *mount_dir = nullptr;
    rc = fs_volume_get_mount_point(host, 0, &mount_dir);
    if (rc != FS_OK)
        return rc;
    bool bound = false;
    unique_fd image;
    // The image file is closed before its volume is let go: an open file
    // would keep the volume mounted.
    auto undo = [&](int code) {
        if (bound && loop_unbind(dev.devnode.c_str()) == FS_OK)
            settle(udev.get());
        image.reset();
        fs_volume_release_mount_point(host);
        return code;
    };

    image.reset(open_image(mount_dir, image_path));
    if (!image.valid()) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "open '%s' in '%s': error_code = %d\n", image_path, mount_dir, errno);
        return undo(FS_ERR_IO);
    }
    // A device taken by someone else between the probe and the binding:
    // the next free one.
    while ((rc = bind(dev, image.get(), image_path)) == EBUSY) {
        for (free_device = false; !free_device; ++n) {
            rc = probe_loop(udev.get(), n, dev, free_device);
            if (rc != FS_OK)
                return undo(rc);
        }
    }
    if (rc != FS_OK)
        return undo(rc);
    bound = true;
    dev.fd.reset();
    rc = settle(udev.get());
    if (rc != FS_OK)
        return undo(rc);

    auto *disk = new (std::nothrow) fs_image_disk{};
    if (!disk)
        return undo(FS_ERR_NOMEM);
    disk->owner = list;
    disk->host = host;
    if (!dup_into(disk->syspath, dev.syspath.c_str()) || !dup_into(disk->devnode, dev.devnode.c_str())
        || !dup_into(disk->name, name) || !dup_into(disk->image_path, image_path)) {
        free_image_disk_records(disk);
        return undo(FS_ERR_NOMEM);
    }
    rc = scan_image_partitions(disk, udev.get());
    if (rc != FS_OK) {
        free_image_disk_records(disk);
        return undo(rc);
    }
    fs_image_disk **at = &list->first_image_disk;
    while (*at)
        at = &(*at)->next;
    *at = disk;
    *image_disk = disk;
    return FS_OK;
}

} // namespace

namespace ic_fs {

// Partitions of the loop device: the block devices whose parent is it.
int scan_image_partitions(fs_image_disk *disk, ic_sys_udev *udev)
{
    std::vector<std::string> names;
    if (!block_names(names))
        return FS_ERR_IO;
    const std::string parent = disk->syspath;
    for (const std::string &name : names) {
        std::string canon;
        if (!resolve_block(name, canon) || canon.substr(0, canon.rfind('/')) != parent)
            continue;
        ic_sys_udev_device *raw = nullptr;
        if (ic_sys_udev_device_from_syspath(udev, canon.c_str(), &raw) != 0)
            return FS_ERR_IO;
        udev_device_ptr dev(raw);
        if (!ic_sys_udev_device_sysattr(dev.get(), "partition"))
            continue;
        const char *node = ic_sys_udev_device_devnode(dev.get());
        const char *sysnum = ic_sys_udev_device_sysnum(dev.get());
        if (!node || !sysnum) {
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "partition without a device node: %s\n", canon.c_str());
            return FS_ERR_IO;
        }
        fs_ident ident;
        identify(dev.get(), node, ident);
        const unsigned long number = std::strtoul(sysnum, nullptr, 10);
        if (!add_image_partition(disk, canon.c_str(), node, unsigned(std::min(number, 0xFFFFul)), ident.type, ident.uuid))
            return FS_ERR_NOMEM;
    }
    return FS_OK;
}

int loop_unbind(const char *devnode)
{
    unique_fd fd(ic_sys_open(devnode, O_RDONLY, 0));
    if (!fd.valid() || ioctl(fd.get(), LOOP_CLR_FD, 0) != 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "LOOP_CLR_FD %s: error_code = %d\n", devnode, errno);
        return FS_ERR_IO;
    }
    return FS_OK;
}

} // namespace ic_fs

int fs_disk_list_add_image_disk(fs_disk_list *list, fs_volume *host, const char *image_path, const char *name,
                                fs_image_disk **image_disk)
{
    if (!list || !host || !image_path || !name || !image_disk || image_path[0] != '/')
        return FS_ERR_PATH;
    for (fs_image_disk *d = list->first_image_disk; d; d = d->next)
        if (std::strcmp(d->name, name) == 0)
            return FS_ERR_NAME_TAKEN;
    try {
        return attach(list, host, image_path, name, image_disk);
    } catch (const std::bad_alloc &) {
        return FS_ERR_NOMEM;
    }
}

int fs_disk_list_remove_image_disk(fs_disk_list *list, fs_image_disk *image_disk)
{
    if (!list || !image_disk)
        return FS_ERR_PATH;
    fs_image_disk **at = &list->first_image_disk;
    while (*at && *at != image_disk)
        at = &(*at)->next;
    if (!*at)
        return FS_ERR_PATH;
    for (fs_image_partition *p = image_disk->first_partition; p; p = fs_image_disk_next_partition(p))
        if (p->volume.mount_count >= 1 || p->volume.rw_mount_count >= 1)
            return FS_ERR_BUSY;
    if (loop_unbind(image_disk->devnode) != FS_OK)
        return FS_ERR_IO;
    ic_sys_udev *raw = nullptr;
    if (ic_sys_udev_create(&raw) == FS_OK) {
        udev_ptr udev(raw);
        settle(udev.get());
    }
    *at = image_disk->next;
    if (image_disk->host)
        fs_volume_release_mount_point(image_disk->host);
    free_image_disk_records(image_disk);
    return FS_OK;
}
