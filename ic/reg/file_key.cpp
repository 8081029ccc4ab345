// Stable keys: key records ("nk") of a hive file, their subkey lists
// ("li", "lf", "lh", "ri") and their enumeration.
#include "reg_internal.h"

#include "ic/util/le.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

enum list_kind : uint32_t { LIST_NONE = 0, LIST_LI = 1, LIST_LF = 2, LIST_LH = 3, LIST_RI = 4 };

int format_error(const char *what)
{
    IC_LOG(ic_log_reg, IC_LOG_ERROR, "%s\n", what);
    return REG_ERR_FORMAT;
}

// Reads the subkey list at cell: its kind and elements (for "lf"/"lh" the
// hints go to hints, 4 bytes per element, when asked).
int read_list(reg_hive *hive, uint32_t cell, uint32_t &kind, std::vector<uint32_t> &elements,
              std::vector<uint8_t> *hints)
{
    std::vector<uint8_t> data;
    uint32_t size;
    int rc = reg_file_read_cell(hive, cell, UINT32_MAX, data, &size);
    if (rc)
        return rc;
    if (size < 4)
        return format_error("can't read cell: cell size is too small");
    const uint8_t *d = data.data();
    uint32_t elem;
    if (!std::memcmp(d, "li", 2))
        kind = LIST_LI, elem = 4;
    else if (!std::memcmp(d, "lf", 2))
        kind = LIST_LF, elem = 8;
    else if (!std::memcmp(d, "lh", 2))
        kind = LIST_LH, elem = 8;
    else if (!std::memcmp(d, "ri", 2))
        kind = LIST_RI, elem = 4;
    else
        return format_error("invalid subkey list signature");
    const uint32_t count = ic_le16(d + 2);
    if (uint64_t(count) * elem + 4 > size)
        return format_error("can't read cell: cell size is too small");
    try {
        elements.resize(count);
        if (hints)
            hints->assign(elem == 8 ? size_t(count) * 4 : 0, 0);
    } catch (const std::bad_alloc &) {
        return REG_ERR_NOMEM;
    }
    for (uint32_t i = 0; i < count; ++i) {
        elements[i] = ic_le32(d + 4 + size_t(i) * elem);
        if (hints && elem == 8)
            std::memcpy(hints->data() + size_t(i) * 4, d + 8 + size_t(i) * elem, 4);
    }
    return REG_OK;
}

// Name of the key record at cell, widened; length in units.
int read_key_name(reg_hive *hive, uint32_t cell, std::vector<reg_char> &name)
{
    std::vector<uint8_t> data;
    uint32_t size;
    int rc = reg_file_read_cell(hive, cell, UINT32_MAX, data, &size);
    if (rc)
        return rc;
    if (size < 76 || std::memcmp(data.data(), "nk", 2))
        return format_error(size < 76 ? "can't read cell: cell size is too small" : "invalid key signature");
    const uint16_t flags = ic_le16(data.data() + 2), len = ic_le16(data.data() + 72);
    if (76u + len > size)
        return format_error("can't read cell: cell size is too small");
    const uint8_t *p = data.data() + 76;
    if (flags & REG_NK_COMPRESSED) {
        name.resize(len);
        for (uint16_t i = 0; i < len; ++i)
            name[i] = p[i];
    } else {
        name.resize(len / 2);
        for (uint16_t i = 0; i < len / 2; ++i)
            name[i] = reg_char(p[2 * i] | p[2 * i + 1] << 8);
    }
    return REG_OK;
}

// Compares name with an "lf" hint: <0, >0 when the hint decides, 0 when the
// whole name must be read.
int compare_hint(const reg_char *name, size_t len, const uint8_t *hint)
{
    while (len && name[len - 1] == 0)
        --len;
    for (size_t i = 0; i < 4; ++i) {
        if (hint[i] == 0)
            return 0;
        if (i >= len)
            return -1;
        reg_char a = reg_u16uppercase(name[i]), b = reg_u16uppercase(hint[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return 0;
}

// Compares name with the element of a list: the hint first for "lf".
int compare_element(reg_hive *hive, const reg_char *name, size_t len, uint32_t kind, uint32_t cell,
                    const uint8_t *hint, int &result)
{
    if (kind == LIST_LF) {
        result = compare_hint(name, len, hint);
        if (result)
            return REG_OK;
    }
    std::vector<reg_char> stored;
    int rc = read_key_name(hive, cell, stored);
    if (rc)
        return rc;
    result = reg_u16strncasecmp2(name, len, stored.data(), stored.size());
    return REG_OK;
}

// Binary search of one "li", "lf" or "lh" list.
int search_list(reg_hive *hive, const reg_char *name, size_t len, uint32_t kind,
                const std::vector<uint32_t> &cells, const std::vector<uint8_t> &hints, uint32_t &found)
{
    size_t low = 0, high = cells.size();
    while (low < high) {
        size_t probe = low + (high - low) / 2;
        int c;
        int rc = compare_element(hive, name, len, kind, cells[probe],
                                 kind == LIST_LF ? hints.data() + probe * 4 : nullptr, c);
        if (rc)
            return rc;
        if (c == 0) {
            found = cells[probe];
            return REG_OK;
        }
        if (c > 0)
            low = probe + 1;
        else
            high = probe;
    }
    return REG_ERR_NOT_FOUND;
}

// Whether a list names one cell twice (a flat list is checked whole, an
// "ri" enumeration key by key).
bool has_duplicates(const std::vector<uint32_t> &cells)
{
    std::vector<uint32_t> sorted = cells;
    std::sort(sorted.begin(), sorted.end());
    return std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
}

int read_sub_list(reg_hive *hive, uint32_t cell, uint32_t &kind, std::vector<uint32_t> &cells,
                  std::vector<uint8_t> *hints)
{
    int rc = read_list(hive, cell, kind, cells, hints);
    if (!rc && kind == LIST_RI)
        rc = format_error("nested index list");
    return rc;
}

} // namespace

// Cell of the subkey called name, or 7.
int __reg_find_subkey(reg_key *key, const reg_char *name, size_t len, uint32_t *cell)
{
    if (key->subkey_count == 0)
        return REG_ERR_NOT_FOUND;
    reg_hive *hive = key->hive;
    uint32_t kind;
    std::vector<uint32_t> elements;
    std::vector<uint8_t> hints;
    int rc = read_list(hive, key->subkey_list, kind, elements, &hints);
    if (rc)
        return rc;
    if (kind != LIST_RI)
        return search_list(hive, name, len, kind, elements, hints, *cell);
    // The last sub-list whose first key is not greater than the name.
    size_t low = 0, high = elements.size(), pick = SIZE_MAX;
    std::vector<uint32_t> sub;
    std::vector<uint8_t> sub_hints;
    uint32_t sub_kind;
    while (low < high) {
        size_t probe = low + (high - low) / 2;
        rc = read_sub_list(hive, elements[probe], sub_kind, sub, &sub_hints);
        if (rc)
            return rc;
        int c = 1;
        if (!sub.empty()) {
            rc = compare_element(hive, name, len, sub_kind, sub[0], sub_kind == LIST_LF ? sub_hints.data() : nullptr, c);
            if (rc)
                return rc;
        }
        if (c >= 0) {
            pick = probe;
            low = probe + 1;
        } else {
            high = probe;
        }
    }
    if (pick == SIZE_MAX)
        return REG_ERR_NOT_FOUND;
    rc = read_sub_list(hive, elements[pick], sub_kind, sub, &sub_hints);
    if (rc)
        return rc;
    return search_list(hive, name, len, sub_kind, sub, sub_hints, *cell);
}

namespace {

int key_is_symlink(reg_key *key)
{
    return (key->flags & REG_NK_SYMLINK) ? 1 : 0;
}

int key_delete(reg_key *)
{
    return REG_ERR_NOT_SUPPORTED;
}

int key_open_subkey(reg_key *key, const reg_char *name, size_t len, reg_key **subkey)
{
    if (reg_key *k = reg_tree_find_key(&key->stable, name, len)) {
        reg_key_add_ref_common(k);
        *subkey = k;
        return REG_OK;
    }
    if (reg_mem_open_subkey(key, name, len, subkey) == REG_OK)
        return REG_OK;
    uint32_t cell;
    int rc = __reg_find_subkey(key, name, len, &cell);
    if (rc)
        return rc;
    return reg_stable_key_load(key->hive, key, cell, subkey);
}

int key_create_subkey(reg_key *key, const reg_char *name, size_t len, const reg_char *class_name, unsigned flags,
                      reg_key **subkey)
{
    return reg_mem_create_subkey(key, name, len, class_name, flags, subkey);
}

int key_class_size(reg_key *key, uint32_t *units)
{
    if (key->class_cell == kNone || key->class_len == 0)
        return REG_ERR_NOT_FOUND;
    *units = key->class_len / 2u + 1;
    return REG_OK;
}

int key_class(reg_key *key, reg_char *buffer, uint32_t units)
{
    uint32_t need;
    int rc = key_class_size(key, &need);
    if (rc)
        return rc;
    if (units < need)
        return REG_ERR_BUFFER;
    std::vector<uint8_t> data;
    uint32_t size;
    rc = reg_file_read_cell(key->hive, key->class_cell, key->class_len, data, &size);
    if (rc)
        return rc;
    if (size < key->class_len)
        return format_error("can't read cell: cell size is too small");
    for (uint32_t i = 0; i + 1 < need; ++i)
        buffer[i] = reg_char(data[2 * i] | data[2 * i + 1] << 8);
    buffer[need - 1] = 0;
    return REG_OK;
}

int key_security(reg_key *key, void *buffer, uint32_t *size)
{
    if (key->security_cell == kNone) {
        *size = 0;
        return REG_OK;
    }
    std::vector<uint8_t> data;
    uint32_t cell_size;
    int rc = reg_file_read_cell(key->hive, key->security_cell, 20, data, &cell_size);
    if (rc)
        return rc;
    if (cell_size < 20)
        return format_error("can't read cell: cell size is too small");
    if (std::memcmp(data.data(), "sk", 2))
        return format_error("invalid security record signature");
    const uint32_t sd_size = ic_le32(data.data() + 16);
    if (uint64_t(sd_size) + 20 > cell_size)
        return format_error("can't read cell: cell size is too small");
    if (!buffer) {
        *size = sd_size;
        return REG_OK;
    }
    if (*size < sd_size) {
        *size = sd_size;
        return REG_ERR_BUFFER;
    }
    rc = reg_file_read_cell(key->hive, key->security_cell, 20 + sd_size, data, &cell_size);
    if (rc)
        return rc;
    std::memcpy(buffer, data.data() + 20, sd_size);
    *size = sd_size;
    return REG_OK;
}

/* Enumeration: the file's list, sub-list by sub-list, then the volatile keys. */

int enum_next(reg_key_enum *en, reg_key **key)
{
    reg_key *k = en->key;
    while (!en->in_volatiles) {
        if (en->cell_pos < en->cells.size()) {
            uint32_t cell = en->cells[en->cell_pos++];
            try {
                if (en->list_kind == LIST_RI && !en->seen.insert(cell).second)
                    return format_error("key listed twice");
            } catch (const std::bad_alloc &) {
                return REG_ERR_NOMEM;
            }
            return reg_stable_key_load(k->hive, k, cell, key);
        }
        if (en->list_kind != LIST_RI || en->top_pos >= en->top.size()) {
            en->in_volatiles = true;
            break;
        }
        uint32_t kind;
        int rc = read_sub_list(k->hive, en->top[en->top_pos++], kind, en->cells, nullptr);
        if (rc)
            return rc;
        en->cell_pos = 0;
    }
    return reg_volatile_next_key(en, key);
}

void enum_destroy(reg_key_enum *en)
{
    reg_close_key(en->key);
    std::free(en->last);
    delete en;
}

const reg_key_enum_ops stable_enum_ops = {enum_next, enum_destroy};

int key_create_enum(reg_key *key, unsigned flags, reg_key_enum **out)
{
    auto *en = new (std::nothrow) reg_key_enum{};
    if (!en)
        return REG_ERR_NOMEM;
    en->ops = &stable_enum_ops;
    en->key = key;
    reg_key_add_ref_common(key);
    en->flags = flags;
    if (key->subkey_count) {
        int rc = read_list(key->hive, key->subkey_list, en->list_kind, en->top, nullptr);
        if (!rc && en->list_kind != LIST_RI)
            en->cells.swap(en->top);
        try {
            if (!rc && has_duplicates(en->list_kind == LIST_RI ? en->top : en->cells))
                rc = format_error("key listed twice");
        } catch (const std::bad_alloc &) {
            rc = REG_ERR_NOMEM;
        }
        if (rc) {
            enum_destroy(en);
            return rc;
        }
    } else {
        en->in_volatiles = true;
    }
    *out = en;
    return REG_OK;
}

int key_open_value(reg_key *key, const reg_char *name, size_t len, reg_value **value)
{
    if (reg_mem_open_value(key, name, len, value) == REG_OK)
        return REG_OK;
    // __reg_find_value: a linear scan of the value list.
    std::vector<uint32_t> cells;
    int rc = reg_file_value_list(key, cells);
    if (rc)
        return rc;
    for (uint32_t cell : cells) {
        reg_value *v;
        rc = reg_stable_value_load(key, cell, &v);
        if (rc)
            return rc;
        if (reg_u16strncasecmp2(name, len, v->name, v->name_len) == 0) {
            *value = v;
            return REG_OK;
        }
        reg_close_value(v);
    }
    return REG_ERR_NOT_FOUND;
}

int key_create_value(reg_key *key, const reg_char *name, uint32_t type, const void *data, uint32_t size,
                     reg_value **value)
{
    return reg_mem_create_value(key, name, type, data, size, value);
}

int value_enum_next(reg_value_enum *en, reg_value **value)
{
    if (!en->in_volatiles) {
        if (en->pos < en->cells.size())
            return reg_stable_value_load(en->key, en->cells[en->pos++], value);
        en->in_volatiles = true;
    }
    return reg_volatile_next_value(en, value);
}

const reg_value_enum_ops stable_value_enum_ops = {value_enum_next, reg_volatile_value_enum_ops.destroy};

int key_create_value_enum(reg_key *key, reg_value_enum **out)
{
    auto *en = new (std::nothrow) reg_value_enum{};
    if (!en)
        return REG_ERR_NOMEM;
    en->ops = &stable_value_enum_ops;
    en->key = key;
    reg_key_add_ref_common(key);
    int rc = reg_file_value_list(key, en->cells);
    if (rc) {
        en->ops->destroy(en);
        return rc;
    }
    *out = en;
    return REG_OK;
}

int key_remove_volatile(reg_key *key, reg_key *subkey)
{
    return reg_mem_remove_subkey(key, subkey);
}

const reg_key_ops stable_key_ops = {
    reg_key_op_add_ref, reg_key_op_release, reg_key_op_get_hive,   reg_key_op_get_name,
    key_is_symlink,     key_delete,         key_open_subkey,       key_create_subkey,
    key_create_enum,    key_open_value,     key_create_value,      key_create_value_enum,
    key_class_size,     key_class,          key_security,          reg_key_op_get_timestamp,
    key_remove_volatile,
};

} // namespace

// Loads the key record at cell as a subkey of parent (null: the hive's root),
// or takes the one already opened under that name.
int reg_stable_key_load(reg_hive *hive, reg_key *parent, uint32_t cell, reg_key **out)
{
    // A key that is its own ancestor makes a cycle.
    for (reg_key *a = parent; a; a = a->parent)
        if (a->kind == KEY_KIND_STABLE && a->hive == hive && a->cell == cell)
            return format_error("key list refers to an ancestor");
    std::vector<uint8_t> data;
    uint32_t size;
    int rc = reg_file_read_cell(hive, cell, UINT32_MAX, data, &size);
    if (rc)
        return rc;
    if (size < 76)
        return format_error("can't read cell: cell size is too small");
    const uint8_t *d = data.data();
    if (std::memcmp(d, "nk", 2))
        return format_error("invalid key signature");
    const uint16_t flags = ic_le16(d + 2), name_bytes = ic_le16(d + 72);
    if (76u + name_bytes > size)
        return format_error("can't read cell: cell size is too small");
    const size_t units = (flags & REG_NK_COMPRESSED) ? name_bytes : name_bytes / 2u;
    reg_char *name = static_cast<reg_char *>(std::malloc((units + 1) * sizeof(reg_char)));
    if (!name)
        return REG_ERR_NOMEM;
    if (flags & REG_NK_COMPRESSED) {
        std::memcpy(name, d + 76, units);
        __reg_decompress_str(name, units);
    } else {
        for (size_t i = 0; i < units; ++i)
            name[i] = reg_char(d[76 + 2 * i] | d[77 + 2 * i] << 8);
    }
    name[units] = 0;
    size_t len = units;
    while (len && name[len - 1] == 0)
        --len;
    if (parent) {
        if (reg_key *k = reg_tree_find_key(&parent->stable, name, len)) {
            std::free(name);
            reg_key_add_ref_common(k);
            *out = k;
            return REG_OK;
        }
    }
    auto *k = new (std::nothrow) reg_key;
    if (!k) {
        std::free(name);
        return REG_ERR_NOMEM;
    }
    reg_key_init(k, &stable_key_ops, KEY_KIND_STABLE, hive, parent);
    k->name = name;
    k->name_len = uint32_t(len);
    k->flags = flags;
    k->timestamp = ic_load_le(d + 4, 8);
    k->subkey_count = ic_le32(d + 20);
    k->subkey_list = ic_le32(d + 28);
    k->value_count = ic_le32(d + 36);
    k->value_list = ic_le32(d + 40);
    k->security_cell = ic_le32(d + 44);
    k->class_cell = ic_le32(d + 48);
    k->class_len = ic_le16(d + 74);
    k->cell = cell;
    if (parent)
        reg_tree_insert_key(&parent->stable, k);
    *out = k;
    return REG_OK;
}
