/*
 * fs_ocl.h - object check list of one volume: files and directories under
 * integrity control, ordered by path, and its byte image.
 *
 * Each object records what was found when it was added: a content hash,
 * attributes, or only its presence; a directory either one hash over its
 * contents or a per-file listing.  Paths are absolute inside the volume
 * (begin with "/"); on disk they are looked up below a mount directory as
 * if that directory were the root, so ".." and absolute symbolic links stay
 * inside the volume.
 *
 * Objects added from now on are recorded in form 2 (their form says how
 * they were recorded); lists written before keep form 1 and are checked as
 * they always were.
 *
 * File contents are read and hashed on several threads while one walks
 * the tree: as many as the environment variable ORVA_IC_WORKERS says (1 to
 * 64; 1 reads on the calling thread alone), else one per processor.  The
 * results do not depend on their number.
 *
 * Records are created and destroyed in pairs; an object added to a list
 * belongs to it.  Every operation returns an FS_OCL_* code; out-parameters
 * are set only on success, and a failed add leaves the list as it was.
 */
#ifndef IC_FS_FS_OCL_H
#define IC_FS_FS_OCL_H

#include <ic/util/rbtree.h>

#include <stddef.h>
#include <stdint.h>

struct wbuf;
struct rbuf;

/* Result codes. */
enum {
    FS_OCL_OK = 0,
    FS_OCL_ERR_IO = 1,             /* input/output failure, malformed image */
    FS_OCL_ERR_INVAL = 2,          /* path does not begin with "/", invalid argument */
    FS_OCL_ERR_NOMEM = 3,
    FS_OCL_ERR_NOTFOUND = 4,       /* no object with that path */
    FS_OCL_ERR_MISSING = 7,        /* object missing or of the wrong type */
    FS_OCL_ERR_LOOP = 11,          /* a loop of symbolic links */
    FS_OCL_ERR_NAME_TOO_LONG = 12, /* a name or path too long */
};

/* Object types. */
enum {
    FS_OCL_TYPE_FILE = 0,
    FS_OCL_TYPE_DIR = 1,
};

/* Object flags. */
#define FS_OCL_EACH_FILE 0x1u     /* directory: per-file listing instead of one hash */
#define FS_OCL_RECURSIVE 0x2u     /* directory: include subdirectories */
#define FS_OCL_CONTROL_DATA 0x4u  /* hash file contents */
#define FS_OCL_CONTROL_ATTRS 0x8u /* record attributes of files and directories */

#define FS_OCL_HASH_SIZE 32       /* GOST R 34.11-94, CryptoPro parameters */
#define FS_OCL_BLOCK_SIZE 16384   /* directory entries and link texts are read into a block of this size */

/* How an object was recorded (fs_ocl_object.form).
 * Form 1: a directory hash takes the names of its entries without their
 * lengths, so that other names can give the same bytes; sizes keep their
 * low 32 bits.
 * Form 2: a directory hash takes every entry's kind and name length before
 * its name, and whole sizes; file attributes keep the whole size.
 * In the byte image form 2 is bit 4 of an object's flags word
 * (FS_OCL_FORM_2_MARK), and its file attributes keep bits 32-47 of the size
 * in the high half of the mode word, which no file mode uses: a form-2
 * image reads with the same layout as form 1. */
enum {
    FS_OCL_FORM_1 = 1,
    FS_OCL_FORM_2 = 2,
};
#define FS_OCL_FORM_2_MARK 0x10u
/* Form 2 keeps sizes up to this; a larger file is recorded with it and
 * always counts as resized. */
#define FS_OCL_SIZE_LIMIT ((UINT64_C(1) << 48) - 1)

/* Attributes from lstat: low 16 bits of the ids, the size (form 1: its low
 * 32 bits), modification time in seconds. */
struct fs_ocl_file_attrs {
    uint32_t mode;
    uint16_t uid;
    uint16_t gid;
    uint64_t size;
    uint32_t mtime;
};

struct fs_ocl_dir_attrs {
    uint32_t mode;
    uint16_t uid;
    uint16_t gid;
};

/* Listing of one directory level.  Names are sorted byte-wise.  Arrays
 * that a flag does not ask for are null.  Everything of the level lives in
 * one allocation (storage); subdirectory listings own their own. */
struct fs_ocl_dir_info {
    int32_t dir_count;            /* with FS_OCL_RECURSIVE only */
    char **dir_names;
    fs_ocl_dir_info *dirs;        /* one listing per subdirectory */
    fs_ocl_dir_attrs *dir_attrs;  /* with FS_OCL_CONTROL_ATTRS */
    int32_t file_count;
    char **file_names;
    uint8_t (*file_hashes)[FS_OCL_HASH_SIZE]; /* with FS_OCL_CONTROL_DATA */
    fs_ocl_file_attrs *file_attrs;            /* with FS_OCL_CONTROL_ATTRS */
    void *storage;
};

/* Common head of fs_ocl_file and fs_ocl_dir. */
struct fs_ocl_object {
    rb_node node;
    char *path;     /* inside the volume, begins with "/" */
    uint16_t type;  /* FS_OCL_TYPE_* */
    uint16_t flags; /* FS_OCL_EACH_FILE ... */
    uint16_t form;  /* FS_OCL_FORM_* */
};

struct fs_ocl_file {
    fs_ocl_object object;
    uint8_t hash[FS_OCL_HASH_SIZE]; /* with FS_OCL_CONTROL_DATA */
    fs_ocl_file_attrs attrs;        /* with FS_OCL_CONTROL_ATTRS */
};

struct fs_ocl_dir {
    fs_ocl_object object;
    char **masks;                   /* shell patterns; null: every file */
    uint8_t hash[FS_OCL_HASH_SIZE]; /* without FS_OCL_EACH_FILE */
    fs_ocl_dir_info info;           /* with FS_OCL_EACH_FILE */
    fs_ocl_dir_attrs attrs;         /* with FS_OCL_EACH_FILE and FS_OCL_CONTROL_ATTRS */
};

struct fs_ocl {
    rb_root root;   /* fs_ocl_object by path (strcmp order) */
    uint32_t count;
};

int fs_ocl_create(fs_ocl **ocl);
void fs_ocl_destroy(fs_ocl *ocl);

/* Adds the file or symbolic link mount_dir + path (a link is not followed;
 * its text is hashed).  An object with the same path is replaced.  flags
 * must not hold FS_OCL_FORM_2_MARK (FS_OCL_ERR_INVAL), here and below. */
int fs_ocl_add_file(fs_ocl *ocl, const char *mount_dir, const char *path, uint16_t flags,
                    fs_ocl_object **object);

/* Adds the directory mount_dir + path.  masks: shell patterns a file name
 * must match (null or empty: every file). */
int fs_ocl_add_dir(fs_ocl *ocl, const char *mount_dir, const char *path,
                   const char *const *masks, uint16_t flags, fs_ocl_object **object);

/* Adds a file record (form 2) without touching the disk; hash is needed
 * with FS_OCL_CONTROL_DATA, attrs with FS_OCL_CONTROL_ATTRS (a mode of 16
 * bits, a size up to FS_OCL_SIZE_LIMIT). */
int fs_ocl_add_file_info(fs_ocl *ocl, const char *path, uint16_t flags,
                         const uint8_t hash[FS_OCL_HASH_SIZE], const fs_ocl_file_attrs *attrs,
                         fs_ocl_object **object);

fs_ocl_object *fs_ocl_find_object(const fs_ocl *ocl, const char *path);
/* FS_OCL_ERR_NOTFOUND when absent. */
int fs_ocl_remove_object(fs_ocl *ocl, const char *path);

/* Path order; null at the end. */
fs_ocl_object *fs_ocl_first_object(const fs_ocl *ocl);
fs_ocl_object *fs_ocl_next_object(const fs_ocl *ocl, const fs_ocl_object *object);

/* Byte image.  write_to_mem hands over a malloc'ed buffer (free()); the
 * readers leave the bytes with the caller.  read_from_mem wants the whole
 * buffer to be one list; the rbuf forms read and write one list inside a
 * larger image. */
int fs_ocl_write_to_mem(const fs_ocl *ocl, uint8_t **data, uint32_t *size);
int fs_ocl_read_from_mem(const void *data, uint32_t size, fs_ocl **ocl);
int fs_ocl_write_to_wbuf(const fs_ocl *ocl, wbuf *wb);
int fs_ocl_read_from_rbuf(rbuf *rb, fs_ocl **ocl);

#endif
