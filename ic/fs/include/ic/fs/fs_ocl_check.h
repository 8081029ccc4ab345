/*
 * fs_ocl_check.h - check of an object list against a mounted volume.
 *
 * The check info holds only the objects that differ, ordered by path: a
 * file object with its result flags, or a directory object with the list of
 * differences found below it (items) in the order found.  Item paths are
 * relative to the directory object and begin with "/"; an item about a
 * directory ends with "/", and the directory object itself is "/".
 *
 * A check object points at the stored object: the check info must not
 * outlive the list it was made from.
 */
#ifndef IC_FS_FS_OCL_CHECK_H
#define IC_FS_FS_OCL_CHECK_H

#include <ic/fs/fs_ocl.h>

/* Result flags of files and items. */
#define FS_OCL_NEW_FILE 0x1u           /* present on disk, not in the list */
#define FS_OCL_FILE_MISSING 0x2u       /* or no longer a regular file or symbolic link */
#define FS_OCL_DATA_CHANGED 0x4u       /* content hash differs (or cannot be read) */
#define FS_OCL_MODE_CHANGED 0x8u
#define FS_OCL_UID_CHANGED 0x10u
#define FS_OCL_GID_CHANGED 0x20u
#define FS_OCL_SIZE_CHANGED 0x40u      /* low 32 bits differ, or 4 GiB or more */
#define FS_OCL_MTIME_CHANGED 0x80u
#define FS_OCL_DIR_HASH_CHANGED 0x100u
#define FS_OCL_DIR_MISSING 0x200u
#define FS_OCL_DIR_MODE_CHANGED 0x400u
#define FS_OCL_DIR_UID_CHANGED 0x800u
#define FS_OCL_DIR_GID_CHANGED 0x1000u
#define FS_OCL_DIR_FLAGS 0x1F00u       /* the item concerns a directory */

/* Check object variants. */
enum {
    FS_OCL_CHECK_FILE = 0,
    FS_OCL_CHECK_DIR = 1,
};

struct fs_ocl_check_object {
    rb_node node;
    uint32_t variant;             /* FS_OCL_CHECK_* */
    const fs_ocl_object *object;  /* the stored object */
};

struct fs_ocl_check_file {
    fs_ocl_check_object head;
    uint32_t flags;
};

struct fs_ocl_check_dir_item {
    fs_ocl_check_dir_item *next;
    uint32_t flags;
    char *path;                   /* inside the item's allocation */
};

struct fs_ocl_check_dir {
    fs_ocl_check_object head;
    fs_ocl_check_dir_item *first;
    fs_ocl_check_dir_item *last;
    uint32_t count;
};

struct fs_ocl_check_info {
    rb_root root;                 /* fs_ocl_check_object by the stored path */
    uint32_t count;
};

/* Compares every object of ocl with mount_dir + its path.  On error
 * nothing is returned. */
int fs_ocl_check_info_create(const fs_ocl *ocl, const char *mount_dir, fs_ocl_check_info **check);
void fs_ocl_check_info_destroy(fs_ocl_check_info *check);

fs_ocl_check_object *fs_ocl_check_find_object(const fs_ocl_check_info *check, const char *path);
fs_ocl_check_object *fs_ocl_check_first_object(const fs_ocl_check_info *check);
fs_ocl_check_object *fs_ocl_check_next_object(const fs_ocl_check_info *check,
                                              const fs_ocl_check_object *object);
/* Items of a directory result; null for a file result and at the end. */
fs_ocl_check_dir_item *fs_ocl_check_first_dir_item(const fs_ocl_check_object *object);
fs_ocl_check_dir_item *fs_ocl_check_next_dir_item(const fs_ocl_check_dir_item *item);

#endif
