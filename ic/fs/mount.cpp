// Mounting volumes under the list's private base directory, with use counts:
// read-only, and for a FAT or ext volume asked for writing a read-write
// mount of its own beside it.
#include "fs_internal.h"

#include "ic/fs/fs_foreign.h"
#include "ic/fs/fs_medium.h"
#include "ic/sys/sysroot.h"
#include "ic/util/log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

using namespace ic_fs;

bool is_vmfs(const char *type)
{
    return std::strcmp(type, "vmfs") == 0 || std::strcmp(type, "VMFS_volume_member") == 0;
}

int take_base(fs_disk_list *list)
{
    if (list->base_count >= 1 && list->base_dir) {
        ++list->base_count;
        return FS_OK;
    }
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    localtime_r(&tv.tv_sec, &tm);
    char name[96];
    std::snprintf(name, sizeof name, "/tmp/fs.%04d%02d%02d%02d%02d%02d%03d.%d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, int(tv.tv_usec / 1000), int(getpid()));
    // Two lists of one process in one millisecond get a suffix.
    std::string dir = name;
    for (int n = 1; mkdir(dir.c_str(), 0755) != 0; ++n) {
        if (errno != EEXIST || n > 999) {
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "mkdir '%s': error_code = %d\n", dir.c_str(), errno);
            return FS_ERR_IO;
        }
        dir = std::string(name) + "." + std::to_string(n);
    }
    std::free(list->base_dir);
    if (!dup_into(list->base_dir, dir.c_str())) {
        rmdir(dir.c_str());
        return FS_ERR_NOMEM;
    }
    list->base_count = 1;
    return FS_OK;
}

void release_base(fs_disk_list *list)
{
    if (--list->base_count > 0)
        return;
    list->base_count = 0;
    if (list->base_dir && rmdir(list->base_dir) != 0)
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "rmdir '%s': error_code = %d\n", list->base_dir, errno);
    std::free(list->base_dir);
    list->base_dir = nullptr;
}

int do_mount(const fs_volume *v, const std::string &dir, bool writable)
{
    char source[PATH_MAX];
    int rc = ic_sys_host_path(v->devnode, source, sizeof source);
    if (rc != 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "no device node '%s': %d\n", v->devnode, rc);
        return FS_ERR_IO;
    }
    if (is_vmfs(v->fs_type)) {
        const char *argv[] = {"vmfs-fuse", source, dir.c_str(), nullptr};
        return run_program(argv);
    }
    const char *options = std::strcmp(v->fs_type, "ufs") == 0 ? fs_foreign_mount_options(v->devnode) : nullptr;
    if (mount(source, dir.c_str(), v->fs_type, kMountFlags | (writable ? 0 : MS_RDONLY), options) != 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "mount '%s' (%s) on '%s': error_code = %d\n", source, v->fs_type,
               dir.c_str(), errno);
        return FS_ERR_IO;
    }
    return FS_OK;
}

// The mount at dir is the file-system instance of the volume's own device:
// the kernel keeps one per device, so a second mount can only be a bind.
bool on_own_device(const fs_volume *v, const char *dir)
{
    char source[PATH_MAX];
    struct stat device;
    struct stat mounted;
    return ic_sys_host_path(v->devnode, source, sizeof source) == 0 && stat(source, &device) == 0 &&
           S_ISBLK(device.st_mode) && stat(dir, &mounted) == 0 && mounted.st_dev == device.st_rdev;
}

// A second mount at dir, bound from the mount at from, with flags of its
// own. Read-write makes the instance writable with it (the first mount
// keeps its read-only mount flag); read-only sets the flag of the new
// mount only.
int bind_mount(const char *from, const std::string &dir, bool writable)
{
    if (mount(from, dir.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "bind '%s' on '%s': error_code = %d\n", from, dir.c_str(), errno);
        return FS_ERR_IO;
    }
    const unsigned long flags = MS_REMOUNT | kMountFlags | (writable ? 0 : MS_BIND | MS_RDONLY);
    if (mount(nullptr, dir.c_str(), nullptr, flags, nullptr) != 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "remount '%s' %s: error_code = %d\n", dir.c_str(),
               writable ? "read-write" : "read-only", errno);
        umount2(dir.c_str(), 0);
        return FS_ERR_IO;
    }
    return FS_OK;
}

// The shared instance read-only again once its read-write mount is gone.
void instance_read_only(const char *dir)
{
    if (mount(nullptr, dir, nullptr, MS_REMOUNT | MS_RDONLY | kMountFlags, nullptr) != 0)
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "remount '%s' read-only: error_code = %d\n", dir, errno);
}

int do_umount(const fs_volume *v)
{
    if (is_vmfs(v->fs_type)) {
        const char *argv[] = {"umount", v->mount_dir, nullptr};
        return run_program(argv);
    }
    if (umount2(v->mount_dir, 0) != 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "umount '%s': error_code = %d\n", v->mount_dir, errno);
        return FS_ERR_IO;
    }
    return FS_OK;
}

} // namespace

namespace ic_fs {

int release_all(fs_volume *v)
{
    while (v->rw_mount_count > 0) {
        int rc = fs_volume_release_writable_mount_point(v);
        if (rc != FS_OK)
            return rc;
    }
    while (v->mount_count > 0) {
        int rc = fs_volume_release_mount_point(v);
        if (rc != FS_OK)
            return rc;
    }
    return FS_OK;
}

} // namespace ic_fs

namespace {

// Mounts the volume in a new directory of the base: read-only at its sysfs
// name, read-write at that name and ".rw". A volume mounted the other way
// already is mounted again beside it, or bound when it must be.
int mount_new(fs_volume *v, bool rw, char *&mount_dir)
{
    fs_disk_list *list = fs_volume_get_disk_list(v);
    int rc = take_base(list);
    if (rc != FS_OK)
        return rc;
    try {
        const char *slash = std::strrchr(v->syspath, '/');
        std::string dir = std::string(list->base_dir) + "/" + (slash ? slash + 1 : v->syspath) + (rw ? ".rw" : "");
        if (mkdir(dir.c_str(), 0755) != 0) {
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "mkdir '%s': error_code = %d\n", dir.c_str(), errno);
            release_base(list);
            return FS_ERR_IO;
        }
        const char *other = rw ? v->mount_dir : v->rw_mount_dir;
        const bool bind = other && on_own_device(v, other);
        rc = bind ? bind_mount(other, dir, rw) : do_mount(v, dir, rw);
        if (rc == FS_OK && !dup_into(mount_dir, dir.c_str())) {
            umount2(dir.c_str(), 0);
            rc = FS_ERR_NOMEM;
        }
        if (rc != FS_OK) {
            rmdir(dir.c_str());
            release_base(list);
            return rc;
        }
        v->mount_shared = bind ? 1 : 0;
    } catch (const std::bad_alloc &) {
        release_base(list);
        return FS_ERR_NOMEM;
    }
    return FS_OK;
}

// Removes a mount directory after its unmount, and its hold on the base.
void drop_dir(fs_volume *v, char *&mount_dir)
{
    if (rmdir(mount_dir) != 0)
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "rmdir '%s': error_code = %d\n", mount_dir, errno);
    std::free(mount_dir);
    mount_dir = nullptr;
    release_base(fs_volume_get_disk_list(v));
}

} // namespace

int fs_volume_get_mount_point(fs_volume *volume, int writable, const char **path)
{
    if (!volume || !path)
        return FS_ERR_PATH;
    if (!volume->fs_type || !volume->devnode || !volume->syspath)
        return FS_ERR_IO;
    // Other file systems stay read-only whatever is asked.
    const bool rw = writable && fs_exchange_type(volume->fs_type);
    int32_t &count = rw ? volume->rw_mount_count : volume->mount_count;
    char *&dir = rw ? volume->rw_mount_dir : volume->mount_dir;
    if (count < 1) {
        int rc = mount_new(volume, rw, dir);
        if (rc != FS_OK)
            return rc;
    }
    ++count;
    *path = dir;
    return FS_OK;
}

int fs_volume_release_mount_point(fs_volume *volume)
{
    if (!volume || volume->mount_count < 1)
        return FS_ERR_PATH;
    if (volume->mount_count > 1) {
        --volume->mount_count;
        return FS_OK;
    }
    int rc = do_umount(volume);
    if (rc != FS_OK)
        return rc;
    volume->mount_count = 0;
    volume->mount_shared = 0;
    drop_dir(volume, volume->mount_dir);
    return FS_OK;
}

int fs_volume_release_writable_mount_point(fs_volume *volume)
{
    if (volume && !fs_exchange_type(volume->fs_type))
        return fs_volume_release_mount_point(volume);
    if (!volume || volume->rw_mount_count < 1)
        return FS_ERR_PATH;
    if (volume->rw_mount_count > 1) {
        --volume->rw_mount_count;
        return FS_OK;
    }
    if (umount2(volume->rw_mount_dir, 0) != 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "umount '%s': error_code = %d\n", volume->rw_mount_dir, errno);
        return FS_ERR_IO;
    }
    if (volume->mount_shared)
        instance_read_only(volume->mount_dir);
    volume->rw_mount_count = 0;
    volume->mount_shared = 0;
    drop_dir(volume, volume->rw_mount_dir);
    return FS_OK;
}
