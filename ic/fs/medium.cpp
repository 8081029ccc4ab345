// Mounting an exchange medium read-write or read-only, FAT and ext only.
#include "fs_internal.h"

#include "ic/fs/fs_medium.h"
#include "ic/sys/sysroot.h"
#include "ic/util/log.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

int fs_exchange_type(const char *type)
{
    if (!type)
        return 0;
    for (const char *t : {"vfat", "ext2", "ext3", "ext4"}) {
        if (std::strcmp(type, t) == 0)
            return 1;
    }
    return 0;
}

int fs_medium_mount(const char *devnode, const char *dir, int writable)
{
    if (!devnode || !dir)
        return FS_ERR_PATH;
    struct stat st;
    if (ic_sys_stat(devnode, &st) != 0)
        return IC_SYS_ENOENT;
    char *type = nullptr;
    char *uuid = nullptr;
    int rc = ic_fs::probe_fs(devnode, &type, &uuid);
    std::free(uuid);
    if (rc != FS_OK || !fs_exchange_type(type)) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "medium '%s': file system %s\n", devnode, type ? type : "unknown");
        std::free(type);
        return FS_ERR_IO;
    }
    char source[PATH_MAX];
    char target[PATH_MAX];
    if (ic_sys_host_path(devnode, source, sizeof source) != 0 || ic_sys_host_path(dir, target, sizeof target) != 0) {
        std::free(type);
        return FS_ERR_IO;
    }
    if (mkdir(target, 0755) != 0 && errno != EEXIST) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "mkdir '%s': error_code = %d\n", target, errno);
        std::free(type);
        return FS_ERR_IO;
    }
    // The medium does not choose what an error does (an ext superblock may ask
    // for a kernel panic).
    const char *data = std::strncmp(type, "ext", 3) == 0 ? "errors=remount-ro" : nullptr;
    rc = mount(source, target, type, ic_fs::kMountFlags | (writable ? 0 : MS_RDONLY), data);
    if (rc != 0)
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "mount '%s' (%s) on '%s': error_code = %d\n", source, type, target, errno);
    std::free(type);
    return rc == 0 ? FS_OK : FS_ERR_IO;
}

int fs_medium_unmount(const char *dir)
{
    if (!dir)
        return FS_ERR_PATH;
    char target[PATH_MAX];
    if (ic_sys_host_path(dir, target, sizeof target) != 0)
        return FS_ERR_IO;
    sync();
    if (umount2(target, 0) != 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "umount '%s': error_code = %d\n", target, errno);
        return FS_ERR_IO;
    }
    return FS_OK;
}
