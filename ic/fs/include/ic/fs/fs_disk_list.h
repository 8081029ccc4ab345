/*
 * fs_disk_list.h - disks, volumes and mounting.
 *
 * A disk list holds the fixed disks with their partitions, the image disks
 * (virtual-disk image files attached to loop devices) with their partitions,
 * and the LVM groups with their active logical volumes.  Partitions, image
 * partitions and logical volumes share the head fs_volume; its kind
 * operations tell them apart and build their persistent identity
 * (fs_volume_id.h).
 *
 * Volumes are mounted on first use under one private base directory
 * "/tmp/fs.YYYYMMDDhhmmssmmm.PID" (one directory per volume, named after the
 * last component of its sysfs path), without device files, set-id bits,
 * execution or access-time updates, and read-only unless a use asks for
 * writing on a FAT or ext volume, which then gets a read-write mount of its
 * own beside the read-only one; each use is released once and the last
 * release of a mount unmounts it.  A read-only mount reads the volume
 * through a read-only loop device, so that no driver can write it (a
 * journal that needs replay makes the mount fail instead).  A type the
 * kernel does not know is tried under the kernel's other names for it
 * ("ntfs": "ntfs3"), then with its FUSE driver ("ntfs-3g", "vmfs-fuse"),
 * started and stopped with time limits.  Destroying the list unmounts
 * everything, detaches the image disks and removes the base directory.
 *
 * Every device, sysfs and udev access goes through ic_sys, so a list can be
 * built on a simulated computer (ORVA_SYSROOT).  Lists are for one thread.
 */
#ifndef IC_FS_FS_DISK_LIST_H
#define IC_FS_FS_DISK_LIST_H

#include <stddef.h>
#include <stdint.h>

/* Result codes of this area. */
enum {
    FS_OK = 0,
    FS_ERR_IO = 1,          /* system or device failure */
    FS_ERR_PATH = 2,        /* image path not absolute; invalid argument */
    FS_ERR_NOMEM = 3,
    FS_ERR_NOT_FOUND = 4,   /* no such volume on a disk that is there */
    FS_ERR_NO_DISK = 5,     /* no disk, image disk or group of that name */
    FS_ERR_AMBIGUOUS = 6,   /* more than one disk or volume answers */
    FS_ERR_NO_LOOP = 7,     /* no free loop device */
    FS_ERR_UDEV = 8,        /* udev did not settle in time */
    FS_ERR_BUSY = 9,        /* image disk busy: a partition is still mounted */
    FS_ERR_NAME_TAKEN = 10, /* an image disk with that name exists */
};

/* Volume kinds. */
enum {
    FS_VOLUME_PARTITION = 0,
    FS_VOLUME_IMAGE_PARTITION = 1,
    FS_VOLUME_LVM = 2,
};

/* Mount flags of a volume.  The notes stay after the volume is released,
 * until it is mounted again. */
enum {
    FS_MOUNT_PROGRAM = 0x1,    /* mounted by a FUSE program, released by "umount" */
    FS_MOUNT_UNCLEAN = 0x2,    /* note: the volume was not shut down cleanly */
    FS_MOUNT_HIBERNATED = 0x4, /* note: it holds a hibernated system */
};

#define FS_UDEV_SETTLE_MS 5000u

struct fs_disk_list;
struct fs_volume;
struct fs_volume_id;

/* Kind operations of a volume, in this order. */
struct fs_volume_ops {
    int kind;
    int (*create_id)(const fs_volume *volume, fs_volume_id **id);
    fs_disk_list *(*get_disk_list)(const fs_volume *volume);
};

/* Common head of fs_partition, fs_image_partition and fs_lvm_volume. */
struct fs_volume {
    const fs_volume_ops *ops;
    int32_t mount_count;    /* read-only uses; 0: not mounted */
    char *mount_dir;        /* owned; null when not mounted */
    int32_t mount_shared;   /* 1: the two mounts are one file-system
                               instance (a bind), the read-only one
                               read-only by its mount flags only */
    uint32_t mount_flags;   /* FS_MOUNT_*: how the last read-only mount was
                               made, what it found */
    char *devnode;          /* "/dev/sda1" */
    char *fs_type;          /* null: none */
    char *syspath;
    fs_volume *next;
    void *parent;           /* fs_disk, fs_image_disk or fs_lvm_group */
    int32_t rw_mount_count; /* read-write uses (FAT and ext only) */
    char *rw_mount_dir;     /* owned; the read-write mount, its own */
};

struct fs_partition {
    fs_volume volume;
    unsigned number; /* kernel partition number: 1 for sda1 */
    char *uuid;      /* file-system UUID, may be null */
};

struct fs_image_partition {
    fs_volume volume;
    unsigned number;
    char *uuid;
};

struct fs_lvm_volume {
    fs_volume volume;
    char *name; /* logical volume name */
};

struct fs_disk {
    fs_disk_list *owner;
    fs_partition *first_partition;
    char *syspath;
    char *devnode;
    char *identity; /* ID_SERIAL_SHORT, else ID_SERIAL */
    fs_disk *next;
};

struct fs_image_disk {
    fs_disk_list *owner;
    fs_image_partition *first_partition;
    char *syspath;    /* of the loop device */
    char *devnode;    /* of the loop device */
    char *name;       /* label given by the administrator, unique in the list */
    fs_volume *host;  /* volume the image file lies on (holds one mount use) */
    char *image_path; /* inside the hosting volume, starting with "/" */
    fs_image_disk *next;
};

struct fs_lvm_group {
    fs_disk_list *owner;
    fs_lvm_volume *first_volume;
    char *name;
    fs_lvm_group *next;
};

struct fs_disk_list {
    fs_disk *first_disk;
    fs_image_disk *first_image_disk;
    fs_lvm_group *first_lvm_group;
    char *base_dir;     /* owned; null when none */
    int32_t base_count; /* mounted volumes in base_dir */
};

/* Disks and partitions of the computer (no images, no LVM).  A failure
 * leaves no list.  0; 1; 3. */
int fs_disk_list_create(fs_disk_list **list);
/* Adds the LVM groups with their active volumes.  0; 1; 3. */
int fs_disk_list_add_lvm_groups(fs_disk_list *list);
/* Unmounts what is mounted, detaches the image disks and frees everything. */
void fs_disk_list_destroy(fs_disk_list *list);

/* Iteration; null at the end. */
fs_disk *fs_disk_list_first_disk(const fs_disk_list *list);
fs_disk *fs_disk_list_next_disk(const fs_disk *disk);
fs_partition *fs_disk_first_partition(const fs_disk *disk);
fs_partition *fs_disk_next_partition(const fs_partition *partition);
fs_partition *fs_disk_partition_by_number(const fs_disk *disk, unsigned number);
fs_image_disk *fs_disk_list_first_image_disk(const fs_disk_list *list);
fs_image_disk *fs_disk_list_next_image_disk(const fs_image_disk *disk);
fs_image_partition *fs_image_disk_first_partition(const fs_image_disk *disk);
fs_image_partition *fs_image_disk_next_partition(const fs_image_partition *partition);
fs_image_partition *fs_image_disk_partition_by_number(const fs_image_disk *disk, unsigned number);
fs_lvm_group *fs_disk_list_first_lvm_group(const fs_disk_list *list);
fs_lvm_group *fs_disk_list_next_lvm_group(const fs_lvm_group *group);
fs_lvm_volume *fs_lvm_group_first_volume(const fs_lvm_group *group);
fs_lvm_volume *fs_lvm_group_next_volume(const fs_lvm_volume *volume);

/* The one volume an id names.  0; 5 no disk, image disk or group answers
 * to the id's first field; 4 one does, without that volume; 6 more than
 * one disk or group answers to it (which one is meant cannot be told).
 * *volume is null on every failure. */
int fs_disk_list_lookup_volume(const fs_disk_list *list, const fs_volume_id *id, fs_volume **volume);
/* The volume an id names; null when none or more than one answers. */
fs_volume *fs_disk_list_find_volume(const fs_disk_list *list, const fs_volume_id *id);

/* Attaches the image file at image_path (absolute, inside the hosting
 * volume) read-only to a free loop device with partition scanning and adds
 * it as an image disk named name.  The hosting volume stays mounted (one
 * use) while the image disk exists.
 * 0; 2 path not absolute; 10 name taken (checked before any loop device is
 * touched); 7 no free loop device; 8 udev did not settle; 1; 3. */
int fs_disk_list_add_image_disk(fs_disk_list *list, fs_volume *host, const char *image_path,
                                const char *name, fs_image_disk **image_disk);
/* Detaches an image disk and frees it.  9 (nothing changed) while any of
 * its partitions is mounted; 1 when the loop device cannot be unbound (the
 * disk stays in the list); 0. */
int fs_disk_list_remove_image_disk(fs_disk_list *list, fs_image_disk *image_disk);

/* Kind code of a volume (FS_VOLUME_*) and the list it belongs to. */
int fs_volume_kind(const fs_volume *volume);
fs_disk_list *fs_volume_get_disk_list(const fs_volume *volume);

/* Mounts on first use and gives the mount directory (owned by the volume,
 * valid until the last release); each call adds one use.  writable asks for
 * a read-write mount, which only FAT and ext volumes (fs_exchange_type) get:
 * others are mounted read-only all the same.  The read-write mount is a
 * mount of its own in a directory of its own ("<name>.rw"): a read-only
 * mount of the volume stays read-only beside it.  When the kernel cannot
 * mount the volume a second time (one file-system instance per device),
 * the second mount is a bind of the first with its own read-only flag, and
 * the instance goes back to read-only when the read-write mount goes.
 * 0; 1 no file-system type, mount failure (nothing changed); 3. */
int fs_volume_get_mount_point(fs_volume *volume, int writable, const char **path);
/* Removes one read-only use; the last one unmounts and removes the
 * directory.  0; 2 not mounted; 1 the unmount failed (the use is kept). */
int fs_volume_release_mount_point(fs_volume *volume);
/* Removes one use taken with writable set: of the read-write mount on a FAT
 * or ext volume, of the read-only one on others.  Results as above. */
int fs_volume_release_writable_mount_point(fs_volume *volume);

#endif
