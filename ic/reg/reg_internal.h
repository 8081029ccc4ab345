// Records and operation tables behind reg.h.
//
// Lifetimes: every object holds one reference on the object above it (a key
// on its parent, a value on its key, a mount on its point and hive).  Keys
// and values made in memory are also held by their parent's tree ("owned");
// the cycle this makes is broken by deleting them or when the last user of
// their hive goes (reg_hive_purge).  Stable keys are cached in their parent's
// tree without a reference and leave it when their count drops to zero.
#ifndef IC_REG_REG_INTERNAL_H
#define IC_REG_REG_INTERNAL_H

#include "ic/reg/reg.h"
#include "ic/util/log.h"
#include "ic/util/rbtree.h"

#include <memory>
#include <set>
#include <stdint.h>
#include <string>
#include <vector>

struct reg_mount;

// A UTF-16 string of reg_utf8_to_utf16_alloc, freed when it goes.
struct reg_string_free {
    void operator()(reg_char *s) const { reg_free_string(s); }
};
using reg_wide_ptr = std::unique_ptr<reg_char, reg_string_free>;

struct reg_hive_ops {
    void (*add_ref)(reg_hive *hive);
    void (*release)(reg_hive *hive);
    int (*get_root_key)(reg_hive *hive, reg_key **key);
};

struct reg_key_ops {
    void (*add_ref)(reg_key *key);
    void (*release)(reg_key *key);
    reg_hive *(*get_hive)(reg_key *key);
    const reg_char *(*get_name)(reg_key *key);
    int (*is_symlink)(reg_key *key);
    int (*del)(reg_key *key);
    int (*open_subkey)(reg_key *key, const reg_char *name, size_t len, reg_key **subkey);
    int (*create_subkey)(reg_key *key, const reg_char *name, size_t len, const reg_char *class_name,
                         unsigned flags, reg_key **subkey);
    int (*create_subkey_enum)(reg_key *key, unsigned flags, reg_key_enum **en);
    int (*open_value)(reg_key *key, const reg_char *name, size_t len, reg_value **value);
    int (*create_value)(reg_key *key, const reg_char *name, uint32_t type, const void *data, uint32_t size,
                        reg_value **value);
    int (*create_value_enum)(reg_key *key, reg_value_enum **en);
    int (*get_class_name_size)(reg_key *key, uint32_t *units);
    int (*get_class_name)(reg_key *key, reg_char *buffer, uint32_t units);
    int (*get_security_descriptor)(reg_key *key, void *buffer, uint32_t *size);
    int (*get_timestamp)(reg_key *key, uint64_t *timestamp);
    int (*remove_volatile_subkey)(reg_key *key, reg_key *subkey);
};

struct reg_value_ops {
    void (*add_ref)(reg_value *value);
    void (*release)(reg_value *value);
    const reg_char *(*get_name)(reg_value *value);
    int (*del)(reg_value *value);
    int (*get_type)(reg_value *value, uint32_t *type);
    int (*get_data_size)(reg_value *value, uint32_t *size);
    int (*get_data)(reg_value *value, uint32_t offset, void *buffer, uint32_t length);
};

struct reg_key_enum_ops {
    int (*get_next)(reg_key_enum *en, reg_key **key);
    void (*destroy)(reg_key_enum *en);
};

struct reg_value_enum_ops {
    int (*get_next)(reg_value_enum *en, reg_value **value);
    void (*destroy)(reg_value_enum *en);
};

// Page cache of a hive file: positioned reads of whole pages (512 KiB per
// hive), so that walking a hive does not cost a system call per cell.
struct reg_page_cache {
    static constexpr uint32_t page_size = 16384;
    static constexpr unsigned slots = 32;
    uint64_t tags[slots];
    uint32_t valid[slots];
    unsigned used = slots; // slots in use: fewer for a small file
    uint8_t *pages = nullptr;
};

// File offset of the first hive bin: the base block comes before it.
constexpr uint64_t kBinsStart = 4096;

// Pages of the hive bins data that the transaction logs replace, in 512-byte
// units, consulted when the page cache reads from the file.
struct reg_overlay {
    static constexpr uint32_t unit = 512;
    static constexpr uint32_t chunk_units = 256;
    std::vector<uint32_t> units;                  // unit numbers (bins offset / 512), ascending
    std::vector<uint32_t> slots;                  // the place of each unit's bytes in chunks
    std::vector<std::unique_ptr<uint8_t[]>> chunks; // chunk_units units each
    uint64_t file_end = 0;                        // file offsets from here to the end of the bins read as zeros
    uint8_t *slot(uint32_t s) const { return chunks[s / chunk_units].get() + size_t(s % chunk_units) * unit; }
};

enum reg_hive_kind { REG_HIVE_MEM, REG_HIVE_FILE };

struct reg_hive {
    const reg_hive_ops *ops;
    reg_hive_kind kind;
    uint32_t users;   // callers and mounts
    uint32_t objects; // live keys and values of this hive
    reg_key *root;    // held while users > 0
    reg *space;       // name space the hive was last mounted in, for links
    // file hives
    int fd;
    uint32_t major, minor;
    uint32_t root_cell;
    uint32_t bins_size;
    reg_page_cache cache;
    reg_overlay *overlay; // null: the file as it is
};

enum reg_key_kind { KEY_KIND_MEM, KEY_KIND_STABLE, KEY_KIND_VOLATILE };

struct reg_key {
    const reg_key_ops *ops;
    reg_key_kind kind;
    uint32_t refs;
    reg_hive *hive;
    reg_key *parent; // holds a reference; null for a hive's root
    reg_char *name;
    uint32_t name_len;
    uint32_t flags;
    uint64_t timestamp;
    reg_char *class_name; // keys made in memory; null: none
    reg_mount *mount;     // last mount on this key
    rb_node node;         // in the parent's stable or volatile tree
    bool linked;          // node is in a tree
    bool owned;           // the tree holds a reference
    bool deleted;
    rb_root stable;       // opened stable subkeys
    rb_root volatiles;    // subkeys made in memory (owned)
    rb_root values;       // values made in memory (owned)
    // stable keys: from the key record
    uint32_t cell, subkey_count, subkey_list, value_count, value_list, security_cell, class_cell;
    uint16_t class_len;
};

enum reg_value_kind { VALUE_KIND_MEM, VALUE_KIND_STABLE };

struct reg_value {
    const reg_value_ops *ops;
    reg_value_kind kind;
    uint32_t refs;
    reg_key *key; // holds a reference
    reg_char *name;
    uint32_t name_len;
    uint32_t type;
    rb_node node;
    bool linked, owned;
    // memory values
    uint8_t *data;
    uint32_t size;
    // stable values
    uint32_t cell, raw_size, data_field;
};

struct reg_key_enum {
    const reg_key_enum_ops *ops;
    reg_key *key; // holds a reference
    unsigned flags;
    // stable part
    uint32_t list_kind; // 0: none left
    std::vector<uint32_t> top;    // elements of the key's list ("ri": sub-lists)
    std::vector<uint32_t> cells;  // key cells of the current sub-list
    size_t top_pos, cell_pos;
    std::set<uint32_t> seen;      // key cells returned: one listed twice is malformed
    // volatile part: the last name returned
    reg_char *last;
    bool in_volatiles;
};

struct reg_value_enum {
    const reg_value_enum_ops *ops;
    reg_key *key;
    std::vector<uint32_t> cells;
    size_t pos;
    reg_char *last;
    bool in_volatiles;
};

struct reg_mount {
    reg_mount *next;     // in the name space's list
    reg_mount *previous; // earlier mount on the same key
    reg_key *point;
    reg_hive *hive;
};

struct reg_problem_record {
    int kind;
    std::string subject, detail;
    bool has_detail;
};

struct reg {
    reg_mount *mounts; // the first is the root memory hive (point null)
    reg_hive *root_hive;
    std::vector<reg_problem_record> problems; // met while a Windows name space was built
};

// Operations shared by the kinds (key.cpp).
void reg_key_op_add_ref(reg_key *key);
void reg_key_op_release(reg_key *key);
reg_hive *reg_key_op_get_hive(reg_key *key);
const reg_char *reg_key_op_get_name(reg_key *key);
int reg_key_op_get_timestamp(reg_key *key, uint64_t *timestamp);
void reg_value_op_add_ref(reg_value *value);
void reg_value_op_release(reg_value *value);
const reg_char *reg_value_op_get_name(reg_value *value);
int reg_value_op_get_type(reg_value *value, uint32_t *type);
// The data of the value called name of type type (else REG_ERR_INVAL).
int reg_read_value_bytes(reg_key *key, const reg_char *name, size_t len, uint32_t type, std::vector<uint8_t> &bytes);

// Common key helpers (key.cpp).
void reg_key_init(reg_key *key, const reg_key_ops *ops, reg_key_kind kind, reg_hive *hive, reg_key *parent);
void reg_key_add_ref_common(reg_key *key);
void reg_key_release_common(reg_key *key);
void reg_value_release_common(reg_value *value);
void reg_value_init(reg_value *value, const reg_value_ops *ops, reg_value_kind kind, reg_key *key);
reg_key *reg_tree_find_key(const rb_root *tree, const reg_char *name, size_t len);
void reg_tree_insert_key(rb_root *tree, reg_key *key); // no equal name may be present
reg_value *reg_tree_find_value(const rb_root *tree, const reg_char *name, size_t len);
void reg_tree_insert_value(rb_root *tree, reg_value *value);
// The first key/value of the tree whose name is greater than after (null: the first).
reg_key *reg_tree_key_after(const rb_root *tree, const reg_char *after);
reg_value *reg_tree_value_after(const rb_root *tree, const reg_char *after);
reg_char *reg_dup_name(const reg_char *name, size_t len);
void reg_hive_purge(reg_hive *hive);
void reg_hive_object_gone(reg_hive *hive);

// Keys and values made in memory (mem_key.cpp).
int reg_mem_key_create(reg_hive *hive, reg_key *parent, const reg_char *name, size_t len,
                       const reg_char *class_name, unsigned flags, reg_key **key);
int reg_mem_open_subkey(reg_key *key, const reg_char *name, size_t len, reg_key **subkey);
int reg_mem_create_subkey(reg_key *key, const reg_char *name, size_t len, const reg_char *class_name,
                          unsigned flags, reg_key **subkey);
int reg_mem_create_value(reg_key *key, const reg_char *name, uint32_t type, const void *data, uint32_t size,
                         reg_value **value);
int reg_mem_open_value(reg_key *key, const reg_char *name, size_t len, reg_value **value);
int reg_mem_remove_subkey(reg_key *key, reg_key *subkey);
extern const reg_value_enum_ops reg_volatile_value_enum_ops;
int reg_volatile_next_key(reg_key_enum *en, reg_key **key);
int reg_volatile_next_value(reg_value_enum *en, reg_value **value);

// Hive files (file_hive.cpp, file_key.cpp, file_value.cpp).
int reg_file_read(reg_hive *hive, uint64_t offset, void *buffer, uint32_t length);
// Reads the data of the used cell at offset (relative to the first bin):
// at most max bytes of it into out; *data_size is the cell's full data size.
int reg_file_read_cell(reg_hive *hive, uint32_t offset, uint32_t max, std::vector<uint8_t> &out,
                       uint32_t *data_size);
int reg_stable_key_load(reg_hive *hive, reg_key *parent, uint32_t cell, reg_key **key);
int reg_stable_value_load(reg_key *key, uint32_t cell, reg_value **value);
int reg_file_value_list(reg_key *key, std::vector<uint32_t> &cells);

// Marvin32 (marvin32.cpp).
struct reg_marvin32 {
    uint32_t lo, hi;
    uint8_t tail[4];
    unsigned tail_len;
};
void reg_marvin32_init(reg_marvin32 *m, uint64_t seed);
void reg_marvin32_update(reg_marvin32 *m, const uint8_t *data, size_t n);
uint64_t reg_marvin32_final(reg_marvin32 *m);
uint64_t reg_marvin32_digest(uint64_t seed, const uint8_t *data, size_t n);

// Files below a directory (file_path.cpp).  Paths are relative to root_fd,
// components separated by '/'; a component ".." is refused (EXDEV), as is a
// link that leaves root_fd or names an absolute path.  0 or an errno value.
int reg_open_below(int root_fd, const std::string &path, int flags, int &fd);
// The REG_ERR_* code of a reg_open_below failure: REG_ERR_OUTSIDE for a
// refused path, else REG_ERR_IO.
int reg_below_error(int err);
// The name of the entry of directory dir_fd equal to name case-insensitively
// (the one spelt exactly so first, else the lowest in byte order); ENOENT.
int reg_find_name_ci(int dir_fd, const std::string &name, std::string &found);
// Opens path below root_fd for reading, non-blocking; it must be a regular
// file.  REG_OK, REG_ERR_IO (missing or unreadable), REG_ERR_OUTSIDE,
// REG_ERR_NOT_REGULAR.
int reg_open_regular_below(int root_fd, const std::string &path, int &fd);

// Transaction logs (hive_log.cpp).  Recovers the hive file hive_fd
// (base block fields) called name in the directory dir
// (relative to root_fd) from its logs: on success fields are those of the
// recovered base block and *overlay holds the replaced pages.  REG_ERR_DIRTY
// when no log recovers it.
struct reg_base_fields {
    uint32_t sequence1, sequence2;
    uint64_t timestamp;
    uint32_t major, minor, root_cell, bins_size;
    bool checksum_ok;
};
void reg_parse_base(const uint8_t *block, reg_base_fields &fields);
int reg_recover_hive(int hive_fd, int root_fd, const std::string &dir, const std::string &name,
                     reg_base_fields &fields, reg_overlay **overlay, reg_recovery *info);
void reg_overlay_free(reg_overlay *overlay);

// Name space (reg.cpp).
int reg_follow_mount(reg_key **key); // replaces *key (reference moved)
int reg_open_path(reg *space, reg_key *start, const reg_char *path, size_t len, unsigned flags, reg_key **key);
// Resolves a symbolic link reached by enumeration or opening (flags as for opening).
int reg_resolve_final(reg_key **key, unsigned flags);

#endif
