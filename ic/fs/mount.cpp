// Mounting volumes under the list's private base directory, with use counts:
// read-only, or read-write for a FAT or ext volume asked for writing.
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

// A read-only mount made read-write in place (for FAT and ext: no options).
int remount_writable(const fs_volume *v)
{
    if (mount(nullptr, v->mount_dir, nullptr, MS_REMOUNT | kMountFlags, nullptr) != 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "remount '%s' read-write: error_code = %d\n", v->mount_dir, errno);
        return FS_ERR_IO;
    }
    return FS_OK;
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
    while (v->mount_count > 0) {
        int rc = fs_volume_release_mount_point(v);
        if (rc != FS_OK)
            return rc;
    }
    return FS_OK;
}

} // namespace ic_fs

int fs_volume_get_mount_point(fs_volume *volume, int writable, const char **path)
{
    if (!volume || !path)
        return FS_ERR_PATH;
    if (!volume->fs_type || !volume->devnode || !volume->syspath)
        return FS_ERR_IO;
    // Other file systems stay read-only whatever is asked.
    const bool rw = writable && fs_exchange_type(volume->fs_type);
    if (volume->mount_count >= 1) {
        if (rw && !volume->mount_writable) {
            int rc = remount_writable(volume);
            if (rc != FS_OK)
                return rc;
            volume->mount_writable = 1;
        }
        ++volume->mount_count;
        *path = volume->mount_dir;
        return FS_OK;
    }
    fs_disk_list *list = fs_volume_get_disk_list(volume);
    int rc = take_base(list);
    if (rc != FS_OK)
        return rc;
    try {
        const char *slash = std::strrchr(volume->syspath, '/');
        std::string dir = std::string(list->base_dir) + "/" + (slash ? slash + 1 : volume->syspath);
        if (mkdir(dir.c_str(), 0755) != 0) {
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "mkdir '%s': error_code = %d\n", dir.c_str(), errno);
            release_base(list);
            return FS_ERR_IO;
        }
        rc = do_mount(volume, dir, rw);
        if (rc == FS_OK && !dup_into(volume->mount_dir, dir.c_str())) {
            umount2(dir.c_str(), 0);
            rc = FS_ERR_NOMEM;
        }
        if (rc != FS_OK) {
            rmdir(dir.c_str());
            release_base(list);
            return rc;
        }
    } catch (const std::bad_alloc &) {
        release_base(list);
        return FS_ERR_NOMEM;
    }
    volume->mount_count = 1;
    volume->mount_writable = rw ? 1 : 0;
    *path = volume->mount_dir;
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
    if (rmdir(volume->mount_dir) != 0)
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "rmdir '%s': error_code = %d\n", volume->mount_dir, errno);
    std::free(volume->mount_dir);
    volume->mount_dir = nullptr;
    volume->mount_count = 0;
    volume->mount_writable = 0;
    release_base(fs_volume_get_disk_list(volume));
    return FS_OK;
}
