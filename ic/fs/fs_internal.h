// Internals of ic_fs shared by its units (and its tests).
#ifndef IC_FS_INTERNAL_H
#define IC_FS_INTERNAL_H

#include "ic/fs/fs_disk_list.h"
#include "ic/fs/fs_volume_id.h"
#include "ic/sys/udev.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/mount.h>
#include <vector>

namespace ic_fs {

struct udev_deleter {
    void operator()(ic_sys_udev *u) const { ic_sys_udev_destroy(u); }
    void operator()(ic_sys_udev_device *d) const { ic_sys_udev_device_destroy(d); }
    void operator()(ic_sys_udev_list *l) const { ic_sys_udev_list_destroy(l); }
};
using udev_ptr = std::unique_ptr<ic_sys_udev, udev_deleter>;
using udev_device_ptr = std::unique_ptr<ic_sys_udev_device, udev_deleter>;
using udev_list_ptr = std::unique_ptr<ic_sys_udev_list, udev_deleter>;

// Copy of s (null for null); false when out of memory.
bool dup_into(char *&dst, const char *s);

// New records appended to their owners (null when out of memory). Strings
// are copied; null strings stay null.
fs_disk *add_disk(fs_disk_list *list, const char *syspath, const char *devnode, const char *identity);
fs_partition *add_partition(fs_disk *disk, const char *syspath, const char *devnode, unsigned number,
                            const char *fs_type, const char *uuid);
fs_image_partition *add_image_partition(fs_image_disk *disk, const char *syspath, const char *devnode,
                                        unsigned number, const char *fs_type, const char *uuid);
fs_lvm_group *add_lvm_group(fs_disk_list *list, const char *name);
fs_lvm_volume *add_lvm_volume(fs_lvm_group *group, const char *syspath, const char *devnode,
                              const char *name, const char *fs_type);

void free_volume(fs_volume *v);
void free_disk(fs_disk *d);
void free_image_disk_records(fs_image_disk *d); // partitions and strings, no detach
void free_lvm_group(fs_lvm_group *g);
void free_lvm_groups(fs_disk_list *list);

// File-system type and UUID of a device: udev's ID_FS_TYPE/ID_FS_UUID; for
// a device udev has never processed (no udev daemon), probed from the
// device itself as udev would.
struct fs_ident {
    const char *type = nullptr; // points into dev or into owned
    const char *uuid = nullptr;
    std::unique_ptr<char, void (*)(void *)> owned_type{nullptr, free};
    std::unique_ptr<char, void (*)(void *)> owned_uuid{nullptr, free};
};
void identify(ic_sys_udev_device *dev, const char *devnode, fs_ident &out);

// Probes the device at the system path devnode with libblkid.
// 0; 4 nothing found; 1; 3. type and uuid are malloc'ed.
int probe_fs(const char *devnode, char **type, char **uuid);

// Runs program with args (argv[0] included, null-terminated) through the
// PATH, waiting for it at most timeout_ms. 0 exit status 0; 1 otherwise: a
// program that has not ended by then is killed with its process group.
int run_program(const char *const *argv, unsigned timeout_ms);

// Time limits of the external programs: a FUSE driver until its file system
// is mounted, umount, and the wait for a killed program to go.
constexpr unsigned kMountProgramMs = 20000;
constexpr unsigned kUmountProgramMs = 10000;
constexpr unsigned kProgramReapMs = 2000;

// Kernel file-system names that mounting takes as unknown to the kernel
// (ENODEV) without asking it, so that tests can walk the fallbacks on any
// kernel. Null-terminated; null (the default) for none.
extern const char *const *kernel_types_refused;

// A read-only loop device over the block device at the host path source,
// cleared by the kernel when its last user closes it: its node path and an
// open descriptor that keeps it until the caller's mount holds it. 0; 1.
int ro_loop_open(const char *source, std::string &device, int &fd);

// NTFS state. The flags of the volume information in the $Volume record of
// the volume on device (0x0001: dirty): 0; 1 not NTFS or not readable.
int ntfs_volume_flags(int device, uint16_t &flags);
// Whether the hibernation file in the root of the volume mounted at dir
// holds a hibernated system (also Windows' fast start-up).
bool ntfs_hibernated(const char *dir);

// Names in /sys/class/block, sorted; false when it cannot be read. The
// device path an entry links to; false when the link cannot be resolved.
bool block_names(std::vector<std::string> &names);
bool resolve_block(const std::string &name, std::string &syspath);

// LVM device-mapper name "vg--data-lv--1" to group and volume; false when
// it does not split into two non-empty names at one single dash.
bool split_dm_name(const char *dm_name, std::string &group, std::string &volume);

// Appends the partitions the kernel shows for the image disk's loop device
// (block devices whose parent it is). 0; 1 a partition without a node; 3.
int scan_image_partitions(fs_image_disk *disk, ic_sys_udev *udev);

// Loop device binding: unbinds the loop device at the system path devnode.
int loop_unbind(const char *devnode);

// Flags of every mount of a volume or medium; MS_RDONLY is added unless it
// is mounted for writing.
constexpr unsigned long kMountFlags = MS_NODEV | MS_NOSUID | MS_NOEXEC | MS_NOATIME;

// Mount use release without logging the caller's errors.
int release_all(fs_volume *v);

} // namespace ic_fs

#endif
