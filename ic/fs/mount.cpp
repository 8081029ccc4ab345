// Mounting volumes under the list's private base directory, with use counts:
// read-only through a read-only loop device, and for a FAT or ext volume
// asked for writing a read-write mount of its own beside it; by the kernel
// or by a FUSE program.
#include "fs_internal.h"

#include "ic/fs/fs_foreign.h"
#include "ic/fs/fs_medium.h"
#include "ic/sys/sysroot.h"
#include "ic/util/log.h"
#include "ic/util/unique_fd.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace ic_fs {

const char *const *kernel_types_refused = nullptr;

} // namespace ic_fs

namespace {

using namespace ic_fs;

// How a file-system type is mounted: with mount(2) under udev's name for it
// (unless `kernel` is false) and then under the kernel's other names for it,
// then by a FUSE program; each next way only when the kernel does not know
// the previous name (ENODEV).
struct driver_chain {
    const char *type;        // udev's ID_FS_TYPE
    bool kernel;             // mount(2) with the type itself
    const char *aliases[2];  // other kernel names, null-terminated
    const char *data;        // mount(2) options (null: none)
    const char *program;     // FUSE program: PROGRAM [-o OPTIONS] DEVICE DIR
    const char *options;     // its options (null: none)
};

// The volume does not choose what an error does: an ext superblock may ask
// for a kernel panic on the first inconsistency found. FUSE drivers get the
// rules of every read-only mount: nothing written (not even a log reset), no
// device files, no set-id bits, no execution. ntfs-3g takes no user mapping
// from the volume (its .NTFS-3G/UserMapping would let the volume choose the
// owners and modes shown).
constexpr const char *ext_data = "errors=remount-ro";
const driver_chain chains[] = {
    {"ntfs", true, {"ntfs3", nullptr}, nullptr, "ntfs-3g",
     "ro,nodev,nosuid,noexec,noatime,norecover,usermapping=/dev/null"},
    {"ext2", true, {"ext4", nullptr}, ext_data, nullptr, nullptr},
    {"ext3", true, {"ext4", nullptr}, ext_data, nullptr, nullptr},
    {"ext4", true, {nullptr}, ext_data, nullptr, nullptr},
    {"vmfs", false, {nullptr}, nullptr, "vmfs-fuse", nullptr},
    {"VMFS_volume_member", false, {nullptr}, nullptr, "vmfs-fuse", nullptr},
};

const driver_chain *chain_of(const char *type)
{
    for (const driver_chain &c : chains)
        if (std::strcmp(c.type, type) == 0)
            return &c;
    return nullptr;
}

bool refused(const char *kernel_type)
{
    for (const char *const *t = kernel_types_refused; t && *t; ++t)
        if (std::strcmp(*t, kernel_type) == 0)
            return true;
    return false;
}

// mount(2) under one kernel name: 0, or the errno.
int kernel_mount(const char *source, const std::string &dir, const char *type, unsigned long flags,
                 const char *options)
{
    if (refused(type))
        return ENODEV;
    if (mount(source, dir.c_str(), type, flags, options) == 0)
        return 0;
    const int err = errno;
    // A name the kernel does not know is no error while others remain.
    IC_LOG(ic_log_fs, err == ENODEV ? IC_LOG_INFO : IC_LOG_ERROR, "mount '%s' (%s) on '%s': error_code = %d\n", source,
           type, dir.c_str(), err);
    return err;
}

// The FUSE program of a chain; whatever it left at dir on failure is
// detached.
int program_mount(const driver_chain &c, const char *source, const std::string &dir)
{
    const char *argv[6] = {c.program};
    size_t n = 1;
    if (c.options) {
        argv[n++] = "-o";
        argv[n++] = c.options;
    }
    argv[n++] = source;
    argv[n++] = dir.c_str();
    argv[n] = nullptr;
    int rc = run_program(argv, kMountProgramMs);
    if (rc != FS_OK)
        umount2(dir.c_str(), MNT_DETACH);
    return rc;
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

// What the volume says of the system that used it last (NTFS only), read
// from the device the mount uses (an open loop device, or else source).
uint32_t notes_of(const fs_volume *v, int device, const char *source, const std::string &dir)
{
    if (std::strcmp(v->fs_type, "ntfs") != 0)
        return 0;
    ic_util::unique_fd own;
    if (device < 0) {
        own.reset(open(source, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        device = own.get();
    }
    uint32_t notes = 0;
    uint16_t flags = 0;
    if (device >= 0 && ntfs_volume_flags(device, flags) == FS_OK && (flags & 0x0001))
        notes |= FS_MOUNT_UNCLEAN;
    if (ntfs_hibernated(dir.c_str()))
        notes |= FS_MOUNT_HIBERNATED;
    return notes;
}

// Mounts the volume at dir; how it went into `how` (FS_MOUNT_*). A volume
// mounted for reading is reached only through a read-only loop device: a
// block device always (a simulated computer without loop devices has plain
// files for nodes, which only FUSE programs open, read-only).
int do_mount(const fs_volume *v, const std::string &dir, bool writable, uint32_t &how)
{
    char source[PATH_MAX];
    int rc = ic_sys_host_path(v->devnode, source, sizeof source);
    if (rc != 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "no device node '%s': %d\n", v->devnode, rc);
        return FS_ERR_IO;
    }
    std::string device = source;
    ic_util::unique_fd held;
    struct stat st;
    if (!writable && stat(source, &st) == 0 && S_ISBLK(st.st_mode)) {
        int fd = -1;
        if (ro_loop_open(source, device, fd) != FS_OK)
            return FS_ERR_IO;
        held.reset(fd);
    }

    const driver_chain *chain = chain_of(v->fs_type);
    const unsigned long flags = kMountFlags | (writable ? 0 : MS_RDONLY);
    const char *options = std::strcmp(v->fs_type, "ufs") == 0 ? fs_foreign_mount_options(v->devnode)
                          : chain                              ? chain->data
                                                               : nullptr;
    int err = ENODEV;
    if (!chain || chain->kernel)
        err = kernel_mount(device.c_str(), dir, v->fs_type, flags, options);
    for (const char *const *alias = chain ? chain->aliases : nullptr; err == ENODEV && alias && *alias; ++alias)
        err = kernel_mount(device.c_str(), dir, *alias, flags, options);
    if (err == ENODEV && chain && chain->program) {
        rc = program_mount(*chain, device.c_str(), dir);
        if (rc != FS_OK)
            return rc;
        how = FS_MOUNT_PROGRAM;
    } else if (err != 0) {
        if (err == ENODEV)
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "'%s': no driver for %s\n", source, v->fs_type);
        return FS_ERR_IO;
    }
    how |= notes_of(v, held.get(), source, dir);
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
    if (v->mount_flags & FS_MOUNT_PROGRAM) {
        const char *argv[] = {"umount", v->mount_dir, nullptr};
        return run_program(argv, kUmountProgramMs);
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

// A read-write mount at dir beside the read-only one, which reads through a
// read-only loop device: that would be a second instance of the file system
// that does not see what this one writes, so it is unmounted first and comes
// back as a read-only bind of the new mount (one instance, as when the kernel
// binds). A read-only mount in use stays, and the read-write one is the
// second instance. 0 and shared or not; 1 with the read-only mount as it was.
int mount_beside_read_only(fs_volume *v, const std::string &dir, bool &shared)
{
    const char *ro = v->mount_dir;
    uint32_t how = 0;
    if (umount2(ro, 0) != 0) {
        const int err = errno;
        IC_LOG(ic_log_fs, IC_LOG_WARN, "umount '%s': error_code = %d\n", ro, err);
        return err == EBUSY ? do_mount(v, dir, true, how) : FS_ERR_IO;
    }
    int rc = do_mount(v, dir, true, how);
    if (rc == FS_OK && bind_mount(dir.c_str(), ro, false) == FS_OK) {
        v->mount_flags = 0;
        shared = true;
        return FS_OK;
    }
    if (rc == FS_OK)
        umount2(dir.c_str(), 0);
    how = 0;
    if (do_mount(v, ro, false, how) == FS_OK)
        v->mount_flags = how;
    else
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "'%s' is no longer mounted\n", ro);
    return FS_ERR_IO;
}

// Mounts the volume in a new directory of the base: read-only at its sysfs
// name, read-write at that name and ".rw". A volume mounted the other way
// already is bound: to the read-write mount, or the read-only one made a
// bind of the new read-write mount.
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
        bool bind = other && on_own_device(v, other);
        if (bind) {
            rc = bind_mount(other, dir, rw);
        } else if (rw && other) {
            rc = mount_beside_read_only(v, dir, bind);
        } else {
            uint32_t how = 0;
            rc = do_mount(v, dir, rw, how);
            if (!rw)
                v->mount_flags = how;
        }
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
    volume->mount_flags &= ~uint32_t(FS_MOUNT_PROGRAM);
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
