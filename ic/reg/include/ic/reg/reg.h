/*
 * reg.h - read-only reader of Windows registry hive files and the name space
 * that joins hives into one tree of keys ("\REGISTRY\MACHINE\SYSTEM" ...).
 *
 * Hives, keys and values are reference-counted objects; every object that an
 * operation hands out carries one reference that the caller drops with the
 * matching close/release call.  Names are UTF-16 strings (host-order 16-bit
 * units, NUL-terminated); the operations ending in _u8 take and give UTF-8.
 * Keys and values made by the program (mount points, links) live in memory
 * only: hive files are never written.
 *
 * Every operation returns one of the REG_* codes below.
 */
#ifndef IC_REG_REG_H
#define IC_REG_REG_H

#include <stddef.h>
#include <stdint.h>

/* Result codes. */
enum {
    REG_OK = 0,
    REG_ERR_IO = 1,            /* input/output error, missing file, too many link steps */
    REG_ERR_INVAL = 2,         /* invalid argument, relative path, range outside the data, wrong type */
    REG_ERR_NOMEM = 3,
    REG_ERR_FORMAT = 5,        /* malformed hive file */
    REG_ERR_NOT_SUPPORTED = 6, /* deleting a key of a hive file */
    REG_ERR_NOT_FOUND = 7,     /* also the end of an enumeration and a key without class */
    REG_ERR_EXISTS = 10,
    REG_ERR_BUFFER = 13,       /* caller's buffer too small */
    REG_ERR_DIRTY = 14,        /* a hive left half-written, and no transaction log recovers it */
    REG_ERR_OUTSIDE = 15,      /* a path that leaves its volume or directory, or a refused link */
    REG_ERR_NOT_REGULAR = 16,  /* a FIFO, socket, device or directory where a file should be */
};

/* Value types. */
enum {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_LINK = 6,
    REG_MULTI_SZ = 7,
    REG_RESOURCE_LIST = 8,
    REG_FULL_RESOURCE_DESCRIPTOR = 9,
    REG_RESOURCE_REQUIREMENTS_LIST = 10,
    REG_QWORD = 11,
};

/* Flags of key creation (bit 0, bit 1) and of opening (bit 2). */
#define REG_KEY_VOLATILE 0x1u
#define REG_KEY_SYMLINK 0x2u
#define REG_OPEN_LINK 0x4u /* do not follow a symbolic link at the last component */

/* Flags of a key record read from a hive file. */
#define REG_NK_SYMLINK 0x0010u
#define REG_NK_COMPRESSED 0x0020u

/* At most this many symbolic-link steps while opening one path. */
#define REG_MAX_LINK_STEPS 15

typedef uint16_t reg_char;

struct reg;
struct reg_hive;
struct reg_key;
struct reg_value;
struct reg_key_enum;
struct reg_value_enum;

/* Name space. */
int reg_create(reg **space);
void reg_destroy(reg *space);
int reg_mount_hive(reg *space, const reg_char *path, reg_hive *hive);
int reg_mount_hive_u8(reg *space, const char *path, reg_hive *hive);
int reg_umount_hive(reg *space, const reg_char *path);
int reg_umount_hive_u8(reg *space, const char *path);

/* Hives. */
int reg_create_mem_hive(reg_hive **hive);
/* A hive file as Windows would load it: when its base block says it was left
 * half-written (its two sequence numbers differ, or its checksum is bad),
 * the transaction logs beside it (NAME.LOG1, NAME.LOG2, NAME.LOG, names
 * compared case-insensitively) are applied in memory; without a log that
 * recovers it the result is REG_ERR_DIRTY.  Nothing is written. */
int reg_create_file_hive(const char *file_path, reg_hive **hive);

#define REG_HIVE_NO_LOGS 0x1u /* read the base file alone, dirty or not */

/* Log formats. */
enum { REG_LOG_NONE = 0, REG_LOG_OLD = 1 /* base block, dirty-page bitmap, pages */, REG_LOG_NEW = 2 /* entries */ };

#define REG_MAX_HIVE_LOGS 3

/* What the transaction logs did for one hive. */
struct reg_log_info {
    char name[256];   /* file name in the hive's directory */
    int status;       /* REG_OK: applied; else why not (REG_ERR_NOT_FOUND: older than the hive
                         or not applicable, REG_ERR_FORMAT, REG_ERR_NOT_REGULAR, ...) */
    uint32_t entries; /* log entries applied (REG_LOG_NEW) */
    uint32_t pages;   /* pages applied: 512-byte pages (REG_LOG_OLD) or page references (REG_LOG_NEW) */
};

struct reg_recovery {
    int dirty;              /* the base file needed recovery */
    int base_repaired;      /* its base block was taken from a log */
    int format;             /* REG_LOG_* of the logs applied */
    uint32_t sequence;      /* sequence number of the state read */
    unsigned log_count;     /* logs looked at: applied ones first, in the order applied */
    reg_log_info logs[REG_MAX_HIVE_LOGS];
};

/* As reg_create_file_hive, with REG_HIVE_* flags; recovery (may be null) is
 * filled also when the hive is refused. */
int reg_create_file_hive_ex(const char *file_path, unsigned flags, reg_hive **hive, reg_recovery *recovery);
/* The hive file at path inside the directory root_fd (a volume's root): the
 * path and the logs beside it are resolved below root_fd only (no "..",
 * no link out of it or to an absolute path) and must be regular files. */
int reg_create_file_hive_at(int root_fd, const char *path, unsigned flags, reg_hive **hive,
                            reg_recovery *recovery);
void reg_close_hive(reg_hive *hive);
int reg_get_root_key(reg_hive *hive, reg_key **key);

/* Opening, creating and deleting keys.  Components of a path are separated
 * by one or more backslashes; an absolute path begins with one or more. */
int reg_open_key_by_abs_path(reg *space, const reg_char *path, unsigned flags, reg_key **key);
int reg_open_key_by_abs_path_u8(reg *space, const char *path, unsigned flags, reg_key **key);
int reg_open_subkey(reg_key *key, const reg_char *path, unsigned flags, reg_key **subkey);
int reg_open_subkey_u8(reg_key *key, const char *path, unsigned flags, reg_key **subkey);
int reg_create_key_by_abs_path(reg *space, const reg_char *path, const reg_char *class_name, unsigned flags,
                               reg_key **key);
int reg_create_key_by_abs_path_u8(reg *space, const char *path, const char *class_name, unsigned flags,
                                  reg_key **key);
int reg_create_subkey(reg_key *key, const reg_char *path, const reg_char *class_name, unsigned flags,
                      reg_key **subkey);
int reg_create_subkey_u8(reg_key *key, const char *path, const char *class_name, unsigned flags,
                         reg_key **subkey);
int reg_delete_key(reg_key *key);
int reg_delete_subkey(reg_key *key, const reg_char *path);
int reg_delete_subkey_u8(reg_key *key, const char *path);
int reg_delete_key_by_abs_path(reg *space, const reg_char *path);
int reg_delete_key_by_abs_path_u8(reg *space, const char *path);
void reg_close_key(reg_key *key);
int reg_key_add_ref(reg_key *key);

/* Key attributes. */
int reg_get_key_name(reg_key *key, const reg_char **name); /* valid while the key is open */
int reg_get_key_name_u8(reg_key *key, char **name);        /* free with reg_free_string_u8 */
int reg_is_symlink(reg_key *key);                          /* 1 or 0 */
int reg_get_timestamp(reg_key *key, uint64_t *timestamp);
int reg_get_class_name_size(reg_key *key, uint32_t *units); /* with the terminating unit */
int reg_get_class_name(reg_key *key, reg_char *buffer, uint32_t units);
int reg_get_class_name_u8(reg_key *key, char **name);
int reg_get_security_descriptor(reg_key *key, void *buffer, uint32_t *size);

/* Key enumeration: subkeys of a hive file in the file's order, then the
 * keys made in memory in name order.  Flags as for opening. */
int reg_create_key_enum(reg_key *key, unsigned flags, reg_key_enum **en);
int reg_get_next_enum_key(reg_key_enum *en, reg_char **name, reg_key **key);
int reg_get_next_enum_key_u8(reg_key_enum *en, char **name, reg_key **key);
void reg_destroy_key_enum(reg_key_enum *en);
void reg_free_name(reg_char *name);

/* Values. */
int reg_open_value(reg_key *key, const reg_char *name, reg_value **value);
int reg_open_value_u8(reg_key *key, const char *name, reg_value **value);
int reg_create_value(reg_key *key, const reg_char *name, uint32_t type, const void *data, uint32_t size,
                     reg_value **value);
int reg_create_value_u8(reg_key *key, const char *name, uint32_t type, const void *data, uint32_t size,
                        reg_value **value);
int reg_delete_value(reg_value *value);
void reg_close_value(reg_value *value);
int reg_get_value_name(reg_value *value, const reg_char **name); /* valid while the value is open */
int reg_get_value_name_u8(reg_value *value, char **name);
int reg_get_value_type(reg_value *value, uint32_t *type);
int reg_get_value_data_size(reg_value *value, uint32_t *size);
int reg_get_value_data(reg_value *value, uint32_t offset, void *buffer, uint32_t length);
int reg_get_dword_value(reg_value *value, uint32_t *number);
int reg_get_string_value(reg_key *key, const reg_char *name, uint32_t type, reg_char **string);
int reg_get_string_value_u8(reg_key *key, const char *name, uint32_t type, char **string);
int reg_create_string_value(reg_key *key, const reg_char *name, uint32_t type, const reg_char *string,
                            reg_value **value);

int reg_create_value_enum(reg_key *key, reg_value_enum **en);
int reg_get_next_enum_value(reg_value_enum *en, reg_value **value);
void reg_destroy_value_enum(reg_value_enum *en);

/* Strings.  Sizes count units (UTF-16) or bytes (UTF-8) with the
 * terminator; the converters give -1 when the output is too small and -2
 * for malformed input, else the units or bytes written with the terminator. */
size_t reg_u16strlen(const reg_char *s);
reg_char *reg_u16strdup(const reg_char *s);
reg_char reg_u16uppercase(reg_char c);
int reg_u16strcasecmp(const reg_char *a, const reg_char *b);
/* Compares a and b of the given lengths; trailing NUL units are ignored. */
int reg_u16strncasecmp2(const reg_char *a, size_t alen, const reg_char *b, size_t blen);
void __reg_decompress_str(reg_char *buffer, size_t length);
int reg_utf8_to_utf16_size(const char *s);
int reg_utf8_to_utf16(const char *s, reg_char *out, size_t units);
int reg_utf16_to_utf8_size(const reg_char *s);
int reg_utf16_to_utf8(const reg_char *s, char *out, size_t bytes);
int reg_utf8_to_utf16_alloc(const char *s, reg_char **out);
int reg_utf16_to_utf8_alloc(const reg_char *s, char **out);
void reg_free_string(reg_char *s);
void reg_free_string_u8(char *s);

/* The Windows name space for the Windows directory at windows_dir (a path
 * of this system): standard hives, control-set links, user profiles and
 * the HKEY_* aliases.  Files are looked up below the directory above
 * windows_dir (the system drive). */
int create_winreg(const char *windows_dir, reg **space);
/* The same for the Windows directory at windows_dir inside the volume
 * mounted at volume_root ("/Windows"); files are looked up inside the
 * volume only. */
int create_winreg_in(const char *volume_root, const char *windows_dir, reg **space);

/* Problems met while a Windows name space was built: what was refused and
 * left out.  Each one is a failure of the check that uses the name space. */
enum {
    REG_PROBLEM_DIRTY = 1,       /* subject: hive file; a half-written hive that no log recovers */
    REG_PROBLEM_OUTSIDE = 2,     /* subject: path; it leaves the volume ("..", a link out or to an absolute path) */
    REG_PROBLEM_NOT_REGULAR = 3, /* subject: file; a FIFO, socket, device or directory in place of a hive or log */
    REG_PROBLEM_NAME_TAKEN = 4,  /* subject: key path; a profile whose name is taken or is not one key name */
    REG_PROBLEM_CONTROL_SET = 5, /* subject: the set Select\Current names; detail: the set Windows boots */
};

struct reg_problem {
    int kind;            /* REG_PROBLEM_* */
    const char *subject; /* UTF-8; paths of files are inside the volume */
    const char *detail;  /* UTF-8 or null: the profile's identifier, the other control set */
};

size_t reg_get_problem_count(const reg *space);
/* Valid while the name space lives. */
int reg_get_problem(const reg *space, size_t index, reg_problem *problem);

/* Identity of a key, for walks that must notice a key met twice: the hive
 * and the key record's cell, or for keys made in memory the key itself and
 * 0xFFFFFFFF. */
int reg_get_key_identity(reg_key *key, const void **hive, uint32_t *cell);

#endif
