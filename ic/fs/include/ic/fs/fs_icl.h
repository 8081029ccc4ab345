/*
 * fs_icl.h - integrity check list: one object check list (fs_ocl.h) per
 * volume, keyed by the volume's persistent identity (fs_volume_id.h).
 *
 * A new volume entry goes to the front of the list; reading a byte image
 * also puts each entry read at the front, so every write-read cycle
 * reverses the order.  An entry never stays without objects: removing its
 * last object removes it, and a failed add removes the entry it created.
 *
 * Byte image: u16 volume count, then per volume its id (fs_volume_id.h) and
 * its object list (fs_ocl.h).
 *
 * Adding mounts the volume read-only for the call (fs_disk_list.h) and
 * releases the mount on every path.  Codes: those of fs_ocl.h (the same
 * values for invalid argument, allocation, not found), and mount failures
 * of fs_disk_list.h unchanged.
 */
#ifndef IC_FS_FS_ICL_H
#define IC_FS_FS_ICL_H

#include <ic/fs/fs_ocl.h>
#include <ic/fs/fs_ocl_check.h>

#include <stdint.h>

struct wbuf;
struct rbuf;
struct fs_disk_list;
struct fs_volume;
struct fs_volume_id;

struct fs_icl_volume {
    fs_icl_volume *next;
    fs_ocl *ocl;
    fs_volume_id *id; /* owned */
};

struct fs_icl {
    fs_icl_volume *first;
    uint32_t count;
};

int fs_icl_create(fs_icl **icl);
void fs_icl_destroy(fs_icl *icl);

/* Adds a file or directory of the volume (path inside it) to the entry of
 * the volume's id, creating the entry when there is none. */
int fs_icl_add_file(fs_icl *icl, fs_volume *volume, const char *path, uint16_t flags, fs_ocl_object **object);
int fs_icl_add_dir(fs_icl *icl, fs_volume *volume, const char *path, const char *const *masks, uint16_t flags,
                   fs_ocl_object **object);
/* Adds a file record with the given hash and attributes without touching
 * any disk (records from outside name their volume by id). */
int fs_icl_add_file_info(fs_icl *icl, const fs_volume_id *id, const char *path, uint16_t flags,
                         const uint8_t hash[FS_OCL_HASH_SIZE], const fs_ocl_file_attrs *attrs,
                         fs_ocl_object **object);

fs_ocl_object *fs_icl_find_object(const fs_icl *icl, const fs_volume_id *id, const char *path);
/* FS_OCL_ERR_NOTFOUND when absent; the entry goes with its last object. */
int fs_icl_remove_object(fs_icl *icl, const fs_volume_id *id, const char *path);
/* Removes the entry of id with all its objects; FS_OCL_ERR_NOTFOUND when
 * there is none. */
int fs_icl_remove_volume(fs_icl *icl, const fs_volume_id *id);

/* Gives every partition entry (kind 0) of the disk old_identity the disk
 * identity new_identity.  An entry whose new id is listed already is merged
 * into that entry (its objects replace ones of the same path), so no id is
 * ever listed twice.  0; 2; 3 (nothing changed). */
int fs_icl_change_disk_identity(fs_icl *icl, const char *old_identity, const char *new_identity);

/* List order; null at the end. */
fs_icl_volume *fs_icl_first_volume(const fs_icl *icl);
fs_icl_volume *fs_icl_next_volume(const fs_icl_volume *volume);
/* The entry whose id compares equal, or null. */
fs_icl_volume *fs_icl_find_volume(const fs_icl *icl, const fs_volume_id *id);
/* Path order; null at the end. */
fs_ocl_object *fs_icl_volume_first_object(const fs_icl_volume *volume);
fs_ocl_object *fs_icl_volume_next_object(const fs_icl_volume *volume, const fs_ocl_object *object);
fs_ocl_object *fs_icl_volume_find_object(const fs_icl_volume *volume, const char *path);

/* Mounts volume read-only, checks the entry's objects against it and
 * releases the mount.  Mount failures are returned unchanged. */
int fs_icl_check_info_create(const fs_icl_volume *icl_volume, fs_volume *volume, fs_ocl_check_info **check);

/* Byte image.  write_to_mem hands over a malloc'ed buffer (free()); the
 * readers leave the bytes with the caller.  A failed read frees everything.
 * read_from_mem wants the whole buffer to be one list.  Two entries with
 * equal ids are malformed (1). */
int fs_icl_write_to_mem(const fs_icl *icl, uint8_t **data, uint32_t *size);
int fs_icl_read_from_mem(const void *data, uint32_t size, fs_icl **icl);
int fs_icl_write_to_wbuf(const fs_icl *icl, wbuf *wb);
int fs_icl_read_from_rbuf(rbuf *rb, fs_icl **icl);

/* The list as found on the disks now: every entry's volume is looked up in
 * list and mounted once, and each stored object is added again with its
 * flags and masks.  Volumes that are not there (or not one), do not mount, and
 * objects that are missing, of the wrong type or unreachable (7, 11, 12),
 * are left out; other failures end it with their code. */
int fs_icl_session_create(const fs_icl *icl, fs_disk_list *list, fs_icl **session);

/* Check of every entry: what became of each volume and, when it was
 * checked, its result.  Check objects point at the stored objects: the
 * check info must not outlive the list. */
enum {
    FS_ICL_CHECKED = 0,          /* check holds the result */
    FS_ICL_DISK_NOT_FOUND = 1,   /* no disk, image or group of that name */
    FS_ICL_VOLUME_NOT_FOUND = 2, /* the disk is there, the volume is not */
    FS_ICL_MOUNT_FAILED = 3,     /* code: the mount's */
    FS_ICL_CHECK_FAILED = 4,     /* code: the check's */
    FS_ICL_AMBIGUOUS = 5,        /* two disks (or groups) answer to the id */
};

struct fs_icl_check_volume {
    fs_icl_check_volume *next;
    const fs_icl_volume *icl_volume; /* the stored entry (id and objects) */
    fs_volume *volume;               /* null when not found */
    int state;                       /* FS_ICL_CHECKED ... */
    int code;                        /* with FS_ICL_MOUNT_FAILED, FS_ICL_CHECK_FAILED */
    fs_ocl_check_info *check;        /* with FS_ICL_CHECKED */
};

struct fs_icl_check_info {
    fs_icl_check_volume *first; /* in the list's order */
    uint32_t count;
};

/* Checks every entry of icl on the volumes of list.  Only allocation
 * failures end it (3); what happens to one volume is in its record. */
int fs_icl_check_info_create_all(const fs_icl *icl, fs_disk_list *list, fs_icl_check_info **info);
/* The same, calling progress(arg) on the calling thread about every 50 ms
 * while files are read and hashed (a program repaints there). */
int fs_icl_check_info_create_all_progress(const fs_icl *icl, fs_disk_list *list, void (*progress)(void *arg),
                                          void *arg, fs_icl_check_info **info);
void fs_icl_check_info_destroy(fs_icl_check_info *info);
fs_icl_check_volume *fs_icl_check_first_volume(const fs_icl_check_info *info);
fs_icl_check_volume *fs_icl_check_next_volume(const fs_icl_check_volume *volume);
/* The result of the entry whose id compares equal, or null. */
fs_icl_check_volume *fs_icl_check_find_volume(const fs_icl_check_info *info, const fs_volume_id *id);
/* Whether every volume was checked and nothing differs. */
int fs_icl_check_info_passed(const fs_icl_check_info *info);

#endif
