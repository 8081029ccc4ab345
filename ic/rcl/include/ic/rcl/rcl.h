/*
 * rcl.h - registry check list: registry keys and values under integrity
 * control with their reference data, its byte image, and the check of a
 * registry name space against it.
 *
 * Entry flags (per key and value entry, stored in the byte image):
 *   RCL_KEY_NODE          key entry: a detailed picture (key node), not one digest
 *   RCL_SUBTREE           subkeys, recursively
 *   RCL_CLASS             class names
 *   RCL_TIMESTAMP         last-write timestamps
 *   RCL_SECURITY          digests of security descriptors
 *   RCL_VALUE_TYPE        value types
 *   RCL_VALUE_DATA        digests of value data
 *
 * Digests are GOST R 34.11-94 (CryptoPro parameters), 32 bytes.  Links
 * inside a sub-tree are not followed: a link key counts with its own value.
 * Every operation returns a code of reg.h, or RCL_ERR_NOT_FOUND (4) from
 * the remove operations.
 */
#ifndef IC_RCL_RCL_H
#define IC_RCL_RCL_H

#include "ic/reg/reg.h"
#include "ic/util/rbtree.h"

#include <array>
#include <optional>
#include <stdint.h>
#include <string>
#include <vector>

#define RCL_KEY_NODE 0x01u
#define RCL_SUBTREE 0x02u
#define RCL_CLASS 0x04u
#define RCL_TIMESTAMP 0x08u
#define RCL_SECURITY 0x10u
#define RCL_VALUE_TYPE 0x20u
#define RCL_VALUE_DATA 0x40u

/* Result flags of the check. */
#define RCL_VALUE_REMOVED 0x001u
#define RCL_VALUE_NEW 0x002u
#define RCL_VALUE_TYPE_CHANGED 0x004u
#define RCL_VALUE_DATA_MODIFIED 0x008u
#define RCL_KEY_ROOT_HASH 0x010u
#define RCL_KEY_REMOVED 0x020u
#define RCL_KEY_NEW 0x040u
#define RCL_KEY_CLASS 0x080u
#define RCL_KEY_TIMESTAMP 0x100u
#define RCL_KEY_SECURITY_DESCRIPTOR 0x200u

#define RCL_ERR_NOT_FOUND 4

/* Key nodes and sub-trees deeper than this are refused (code 5 from the
 * registry, 1 from a byte image). */
#define RCL_MAX_DEPTH 512

typedef std::array<uint8_t, 32> rcl_digest;
typedef std::u16string rcl_string; /* UTF-16 units */

/* The detailed picture of one key: its subkeys (with their own nodes and
 * attributes) and its values, names sorted case-insensitively. */
struct rcl_key_node {
    std::vector<rcl_string> subkey_names;
    std::vector<rcl_key_node> subkeys;
    std::vector<std::optional<rcl_string>> classes; /* RCL_CLASS */
    std::vector<uint64_t> timestamps;               /* RCL_TIMESTAMP */
    std::vector<rcl_digest> security;               /* RCL_SECURITY */
    std::vector<rcl_string> value_names;
    std::vector<uint32_t> types;                    /* RCL_VALUE_TYPE */
    std::vector<rcl_digest> data;                   /* RCL_VALUE_DATA */
};

struct rcl_value_entry {
    rb_node node;
    rcl_string path; /* absolute key path */
    rcl_string name; /* value name */
    uint16_t flags;
    uint32_t type;     /* RCL_VALUE_TYPE */
    rcl_digest digest; /* RCL_VALUE_DATA */
};

struct rcl_key_entry {
    rb_node node;
    rcl_string path;
    uint16_t flags;
    rcl_digest digest;                    /* RCL_KEY_NODE clear */
    rcl_key_node key_node;                /* RCL_KEY_NODE set, with: */
    std::optional<rcl_string> class_name; /*   RCL_CLASS */
    uint64_t timestamp;                   /*   RCL_TIMESTAMP */
    rcl_digest security;                  /*   RCL_SECURITY */
};

struct rcl {
    uint32_t value_count;
    rb_root values; /* rcl_value_entry, by key path then value name */
    uint32_t key_count;
    rb_root keys; /* rcl_key_entry, by path */
};

int rcl_create(rcl **list);
void rcl_destroy(rcl *list);

/* Adds (or replaces) the entry for the key or value as the name space
 * holds it now; *entry (may be null) points into the list. */
int rcl_add_key(rcl *list, reg *space, const reg_char *path, uint16_t flags, rcl_key_entry **entry);
int rcl_add_key_u8(rcl *list, reg *space, const char *path, uint16_t flags, rcl_key_entry **entry);
int rcl_add_value(rcl *list, reg *space, const reg_char *path, const reg_char *name, uint16_t flags,
                  rcl_value_entry **entry);
int rcl_add_value_u8(rcl *list, reg *space, const char *path, const char *name, uint16_t flags,
                     rcl_value_entry **entry);

rcl_key_entry *rcl_find_key(const rcl *list, const reg_char *path);
rcl_key_entry *rcl_find_key_u8(const rcl *list, const char *path);
rcl_value_entry *rcl_find_value(const rcl *list, const reg_char *path, const reg_char *name);
rcl_value_entry *rcl_find_value_u8(const rcl *list, const char *path, const char *name);
int rcl_remove_key(rcl *list, const reg_char *path);
int rcl_remove_key_u8(rcl *list, const char *path);
int rcl_remove_value(rcl *list, const reg_char *path, const reg_char *name);
int rcl_remove_value_u8(rcl *list, const char *path, const char *name);

rcl_key_entry *rcl_first_key(const rcl *list);
rcl_key_entry *rcl_next_key(const rcl_key_entry *entry);
rcl_value_entry *rcl_first_value(const rcl *list);
rcl_value_entry *rcl_next_value(const rcl_value_entry *entry);

/* Byte image: *data is malloc'ed, released with free(). */
int rcl_write_to_mem(const rcl *list, uint8_t **data, uint32_t *size);
int rcl_read_from_mem(const uint8_t *data, uint32_t size, rcl **list);

/* Check results.  They point at the list's entries: the list must outlive
 * the result. */
struct rcl_key_item {
    rcl_string path;                 /* "" for the entry's key, "\Sub\Key" below it */
    std::optional<rcl_string> value; /* absent for key-level items */
    uint32_t flags;
};

struct rcl_check_value {
    rb_node node;
    const rcl_value_entry *entry;
    uint32_t flags;
};

struct rcl_check_key {
    rb_node node;
    const rcl_key_entry *entry;
    std::vector<rcl_key_item> items; /* in the order found */
};

struct rcl_check_info {
    uint32_t value_count;
    rb_root values;
    uint32_t key_count;
    rb_root keys;
};

int rcl_check_info_create(const rcl *list, reg *space, rcl_check_info **result);
void rcl_check_info_destroy(rcl_check_info *result);
rcl_check_value *rcl_check_first_value(const rcl_check_info *result);
rcl_check_value *rcl_check_next_value(const rcl_check_value *value);
rcl_check_key *rcl_check_first_key(const rcl_check_info *result);
rcl_check_key *rcl_check_next_key(const rcl_check_key *key);
const rcl_key_item *rcl_check_first_key_item(const rcl_check_key *key);
const rcl_key_item *rcl_check_next_key_item(const rcl_check_key *key, const rcl_key_item *item);
rcl_check_value *rcl_check_find_value(const rcl_check_info *result, const reg_char *path, const reg_char *name);
rcl_check_key *rcl_check_find_key(const rcl_check_info *result, const reg_char *path);

/* Names of the result flags ("VALUE_REMOVED" ...), for bit b (0-9), or null. */
const char *rcl_result_flag_name(unsigned bit);

#endif
