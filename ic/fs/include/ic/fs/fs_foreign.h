/*
 * fs_foreign.h - foreign file systems: types udev does not name and the
 * options ufs needs to mount.
 */
#ifndef IC_FS_FS_FOREIGN_H
#define IC_FS_FS_FOREIGN_H

#include <stddef.h>
#include <stdint.h>

struct fs_foreign_fs {
    uint32_t magic_offset; /* superblock magic; 0 with magic 0: none */
    uint32_t magic;        /* little-endian on disk */
    const char *mbr_type;  /* "0xa5" */
    const char *fs_type;   /* "ufs" */
    const char *options;   /* mount data, or null */
    const char *description;
    const char *gpt_type;  /* GUID, or null */
};

/* The table, in its order. */
extern const fs_foreign_fs fs_foreign_table[];
extern const size_t fs_foreign_table_size;

/* File-system type of the first row whose MBR type equals entry_type
 * ("0x4d" gives "qnx4"), or null. */
const char *fs_foreign_type_by_mbr(const char *entry_type);

/* Mount options of a ufs device (node "/dev/sda1"): the first row whose
 * partition-entry type matches the device's (MBR column for a "dos" table,
 * GUID column otherwise) and whose magic is found at its offset on the
 * device.  Null when none matches or the device is not ufs. */
const char *fs_foreign_mount_options(const char *devnode);

#endif
