// Reference counting, the ordered trees of keys and values, and the public
// operations that dispatch through the operation tables.
#include "reg_internal.h"

#include "ic/util/le.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

int compare_name(const reg_char *name, size_t len, const reg_key *key)
{
    return reg_u16strncasecmp2(name, len, key->name, key->name_len);
}

void free_key(reg_key *key)
{
    std::free(key->name);
    std::free(key->class_name);
    delete key;
}

} // namespace

reg_char *reg_dup_name(const reg_char *name, size_t len)
{
    auto *copy = static_cast<reg_char *>(std::malloc((len + 1) * sizeof(reg_char)));
    if (!copy)
        return nullptr;
    if (len)
        std::memcpy(copy, name, len * sizeof(reg_char));
    copy[len] = 0;
    return copy;
}

void reg_key_init(reg_key *key, const reg_key_ops *ops, reg_key_kind kind, reg_hive *hive, reg_key *parent)
{
    key->ops = ops;
    key->kind = kind;
    key->refs = 1;
    key->hive = hive;
    key->parent = parent;
    if (parent)
        reg_key_add_ref_common(parent);
    key->name = nullptr;
    key->name_len = 0;
    key->flags = 0;
    key->timestamp = 0;
    key->class_name = nullptr;
    key->mount = nullptr;
    key->node = {};
    key->linked = key->owned = key->deleted = false;
    key->stable = key->volatiles = key->values = rb_root{nullptr};
    key->cell = 0xFFFFFFFFu;
    key->subkey_count = key->value_count = 0;
    key->subkey_list = key->value_list = key->security_cell = key->class_cell = 0xFFFFFFFFu;
    key->class_len = 0;
    ++hive->objects;
}

void reg_key_add_ref_common(reg_key *key)
{
    ++key->refs;
}

// Drops one reference; a key that reaches zero leaves its parent's tree and
// drops its reference on the parent, and so on upwards.
void reg_key_release_common(reg_key *key)
{
    while (key && --key->refs == 0) {
        reg_key *parent = key->parent;
        if (key->linked && parent) {
            rb_erase(&key->node, key->owned ? &parent->volatiles : &parent->stable);
            key->linked = false;
        }
        reg_hive *hive = key->hive;
        free_key(key);
        reg_hive_object_gone(hive);
        key = parent;
    }
}

void reg_value_init(reg_value *value, const reg_value_ops *ops, reg_value_kind kind, reg_key *key)
{
    value->ops = ops;
    value->kind = kind;
    value->refs = 1;
    value->key = key;
    reg_key_add_ref_common(key);
    value->name = nullptr;
    value->name_len = 0;
    value->type = 0;
    value->node = {};
    value->linked = value->owned = false;
    value->data = nullptr;
    value->size = 0;
    value->cell = value->raw_size = value->data_field = 0;
    ++key->hive->objects;
}

void reg_value_release_common(reg_value *value)
{
    if (--value->refs)
        return;
    reg_key *key = value->key;
    if (value->linked)
        rb_erase(&value->node, &key->values);
    reg_hive *hive = key->hive;
    std::free(value->name);
    std::free(value->data);
    delete value;
    reg_key_release_common(key);
    reg_hive_object_gone(hive);
}

reg_key *reg_tree_find_key(const rb_root *tree, const reg_char *name, size_t len)
{
    rb_node *n = tree->rb_node;
    while (n) {
        reg_key *k = rb_entry(n, reg_key, node);
        int c = compare_name(name, len, k);
        if (c == 0)
            return k;
        n = c < 0 ? n->rb_left : n->rb_right;
    }
    return nullptr;
}

void reg_tree_insert_key(rb_root *tree, reg_key *key)
{
    rb_node **link = &tree->rb_node, *parent = nullptr;
    while (*link) {
        parent = *link;
        int c = compare_name(key->name, key->name_len, rb_entry(parent, reg_key, node));
        link = c < 0 ? &parent->rb_left : &parent->rb_right;
    }
    rb_link_node(&key->node, parent, link);
    rb_insert_color(&key->node, tree);
    key->linked = true;
}

reg_value *reg_tree_find_value(const rb_root *tree, const reg_char *name, size_t len)
{
    rb_node *n = tree->rb_node;
    while (n) {
        reg_value *v = rb_entry(n, reg_value, node);
        int c = reg_u16strncasecmp2(name, len, v->name, v->name_len);
        if (c == 0)
            return v;
        n = c < 0 ? n->rb_left : n->rb_right;
    }
    return nullptr;
}

void reg_tree_insert_value(rb_root *tree, reg_value *value)
{
    rb_node **link = &tree->rb_node, *parent = nullptr;
    while (*link) {
        parent = *link;
        reg_value *v = rb_entry(parent, reg_value, node);
        int c = reg_u16strncasecmp2(value->name, value->name_len, v->name, v->name_len);
        link = c < 0 ? &parent->rb_left : &parent->rb_right;
    }
    rb_link_node(&value->node, parent, link);
    rb_insert_color(&value->node, tree);
    value->linked = true;
}

reg_key *reg_tree_key_after(const rb_root *tree, const reg_char *after)
{
    rb_node *n = tree->rb_node, *best = nullptr;
    size_t len = after ? reg_u16strlen(after) : 0;
    while (n) {
        reg_key *k = rb_entry(n, reg_key, node);
        if (!after || compare_name(after, len, k) < 0) {
            best = n;
            n = n->rb_left;
        } else {
            n = n->rb_right;
        }
    }
    return best ? rb_entry(best, reg_key, node) : nullptr;
}

reg_value *reg_tree_value_after(const rb_root *tree, const reg_char *after)
{
    rb_node *n = tree->rb_node, *best = nullptr;
    size_t len = after ? reg_u16strlen(after) : 0;
    while (n) {
        reg_value *v = rb_entry(n, reg_value, node);
        if (!after || reg_u16strncasecmp2(after, len, v->name, v->name_len) < 0) {
            best = n;
            n = n->rb_left;
        } else {
            n = n->rb_right;
        }
    }
    return best ? rb_entry(best, reg_value, node) : nullptr;
}

// The last user of the hive is gone: drop the trees' references on keys and
// values made in memory and the hive's reference on its root.
void reg_hive_purge(reg_hive *hive)
{
    reg_key *root = hive->root;
    if (!root)
        return;
    std::vector<reg_key *> keys, stack{root}, owned_keys;
    std::vector<reg_value *> owned_values;
    while (!stack.empty()) {
        reg_key *k = stack.back();
        stack.pop_back();
        for (rb_node *n = rb_first(&k->stable); n; n = rb_next(n))
            stack.push_back(rb_entry(n, reg_key, node));
        for (rb_node *n = rb_first(&k->volatiles); n; n = rb_next(n)) {
            stack.push_back(rb_entry(n, reg_key, node));
            owned_keys.push_back(rb_entry(n, reg_key, node));
        }
        for (rb_node *n = rb_first(&k->values); n; n = rb_next(n))
            owned_values.push_back(rb_entry(n, reg_value, node));
    }
    for (reg_value *v : owned_values) {
        rb_erase(&v->node, &v->key->values);
        v->linked = v->owned = false;
    }
    for (reg_key *k : owned_keys) {
        rb_erase(&k->node, &k->parent->volatiles);
        k->linked = k->owned = false;
    }
    hive->root = nullptr;
    // Keep the hive record while releasing: the last object frees it.
    ++hive->objects;
    for (reg_value *v : owned_values)
        reg_value_release_common(v);
    for (reg_key *k : owned_keys)
        reg_key_release_common(k);
    reg_key_release_common(root);
    reg_hive_object_gone(hive);
}

/* Operations shared by the kinds. */

void reg_key_op_add_ref(reg_key *key)
{
    reg_key_add_ref_common(key);
}

void reg_key_op_release(reg_key *key)
{
    reg_key_release_common(key);
}

reg_hive *reg_key_op_get_hive(reg_key *key)
{
    return key->hive;
}

const reg_char *reg_key_op_get_name(reg_key *key)
{
    return key->name;
}

int reg_key_op_get_timestamp(reg_key *key, uint64_t *timestamp)
{
    *timestamp = key->timestamp;
    return REG_OK;
}

void reg_value_op_add_ref(reg_value *value)
{
    ++value->refs;
}

void reg_value_op_release(reg_value *value)
{
    reg_value_release_common(value);
}

const reg_char *reg_value_op_get_name(reg_value *value)
{
    return value->name;
}

int reg_value_op_get_type(reg_value *value, uint32_t *type)
{
    *type = value->type;
    return REG_OK;
}

int reg_read_value_bytes(reg_key *key, const reg_char *name, size_t len, uint32_t type, std::vector<uint8_t> &bytes)
{
    reg_value *value;
    int rc = key->ops->open_value(key, name, len, &value);
    if (rc)
        return rc;
    uint32_t t = 0, size = 0;
    rc = value->ops->get_type(value, &t);
    if (!rc && t != type)
        rc = REG_ERR_INVAL;
    if (!rc)
        rc = value->ops->get_data_size(value, &size);
    // Grown as the data is read: a size the file cannot back costs nothing.
    bytes.clear();
    for (uint32_t at = 0; !rc && at < size;) {
        const uint32_t n = size - at < 65536 ? size - at : 65536;
        try {
            bytes.resize(size_t(at) + n);
        } catch (const std::bad_alloc &) {
            rc = REG_ERR_NOMEM;
            break;
        }
        rc = value->ops->get_data(value, at, bytes.data() + at, n);
        at += n;
    }
    reg_close_value(value);
    return rc;
}

/* Public operations. */

void reg_close_key(reg_key *key)
{
    if (key)
        key->ops->release(key);
}

int reg_key_add_ref(reg_key *key)
{
    if (!key)
        return REG_ERR_INVAL;
    key->ops->add_ref(key);
    return REG_OK;
}

int reg_get_key_name(reg_key *key, const reg_char **name)
{
    if (!key || !name)
        return REG_ERR_INVAL;
    *name = key->ops->get_name(key);
    return REG_OK;
}

int reg_get_key_name_u8(reg_key *key, char **name)
{
    if (!key || !name)
        return REG_ERR_INVAL;
    return reg_utf16_to_utf8_alloc(key->ops->get_name(key), name);
}

int reg_is_symlink(reg_key *key)
{
    return key ? key->ops->is_symlink(key) : 0;
}

int reg_get_timestamp(reg_key *key, uint64_t *timestamp)
{
    if (!key || !timestamp)
        return REG_ERR_INVAL;
    return key->ops->get_timestamp(key, timestamp);
}

int reg_get_class_name_size(reg_key *key, uint32_t *units)
{
    if (!key || !units)
        return REG_ERR_INVAL;
    return key->ops->get_class_name_size(key, units);
}

int reg_get_class_name(reg_key *key, reg_char *buffer, uint32_t units)
{
    if (!key || !buffer)
        return REG_ERR_INVAL;
    return key->ops->get_class_name(key, buffer, units);
}

int reg_get_class_name_u8(reg_key *key, char **name)
{
    if (!key || !name)
        return REG_ERR_INVAL;
    uint32_t units;
    int rc = reg_get_class_name_size(key, &units);
    if (rc)
        return rc;
    auto *buf = static_cast<reg_char *>(std::malloc(size_t(units) * sizeof(reg_char)));
    if (!buf)
        return REG_ERR_NOMEM;
    rc = reg_get_class_name(key, buf, units);
    if (!rc)
        rc = reg_utf16_to_utf8_alloc(buf, name);
    std::free(buf);
    return rc;
}

int reg_get_security_descriptor(reg_key *key, void *buffer, uint32_t *size)
{
    if (!key || !size)
        return REG_ERR_INVAL;
    return key->ops->get_security_descriptor(key, buffer, size);
}

int reg_get_key_identity(reg_key *key, const void **hive, uint32_t *cell)
{
    if (!key || !hive || !cell)
        return REG_ERR_INVAL;
    // A key made in memory is its own identity.
    *hive = key->kind == KEY_KIND_STABLE ? static_cast<const void *>(key->hive) : key;
    *cell = key->kind == KEY_KIND_STABLE ? key->cell : 0xFFFFFFFFu;
    return REG_OK;
}

int reg_delete_key(reg_key *key)
{
    if (!key)
        return REG_ERR_INVAL;
    return key->ops->del(key);
}

int reg_create_key_enum(reg_key *key, unsigned flags, reg_key_enum **en)
{
    if (!key || !en)
        return REG_ERR_INVAL;
    return key->ops->create_subkey_enum(key, flags, en);
}

int reg_get_next_enum_key(reg_key_enum *en, reg_char **name, reg_key **key)
{
    if (!en)
        return REG_ERR_INVAL;
    reg_key *k = nullptr;
    int rc = en->ops->get_next(en, &k);
    if (rc)
        return rc;
    if (name) {
        *name = reg_u16strdup(k->ops->get_name(k));
        if (!*name) {
            reg_close_key(k);
            return REG_ERR_NOMEM;
        }
    }
    rc = reg_resolve_final(&k, en->flags);
    if (rc) {
        if (name) {
            reg_free_name(*name);
            *name = nullptr;
        }
        return rc;
    }
    if (key)
        *key = k;
    else
        reg_close_key(k);
    return REG_OK;
}

int reg_get_next_enum_key_u8(reg_key_enum *en, char **name, reg_key **key)
{
    reg_char *wide = nullptr;
    int rc = reg_get_next_enum_key(en, name ? &wide : nullptr, key);
    if (rc || !name)
        return rc;
    rc = reg_utf16_to_utf8_alloc(wide, name);
    reg_free_name(wide);
    if (rc && key) {
        reg_close_key(*key);
        *key = nullptr;
    }
    return rc;
}

void reg_destroy_key_enum(reg_key_enum *en)
{
    if (en)
        en->ops->destroy(en);
}

/* Values. */

int reg_open_value(reg_key *key, const reg_char *name, reg_value **value)
{
    if (!key || !name || !value)
        return REG_ERR_INVAL;
    return key->ops->open_value(key, name, reg_u16strlen(name), value);
}

int reg_open_value_u8(reg_key *key, const char *name, reg_value **value)
{
    reg_char *wide;
    int rc = reg_utf8_to_utf16_alloc(name, &wide);
    if (rc)
        return rc;
    reg_wide_ptr hold(wide);
    return reg_open_value(key, wide, value);
}

int reg_create_value(reg_key *key, const reg_char *name, uint32_t type, const void *data, uint32_t size,
                     reg_value **value)
{
    if (!key || !name || (!data && size))
        return REG_ERR_INVAL;
    return key->ops->create_value(key, name, type, data, size, value);
}

int reg_create_value_u8(reg_key *key, const char *name, uint32_t type, const void *data, uint32_t size,
                        reg_value **value)
{
    reg_char *wide;
    int rc = reg_utf8_to_utf16_alloc(name, &wide);
    if (rc)
        return rc;
    reg_wide_ptr hold(wide);
    return reg_create_value(key, wide, type, data, size, value);
}

int reg_create_string_value(reg_key *key, const reg_char *name, uint32_t type, const reg_char *string,
                            reg_value **value)
{
    if (!string)
        return REG_ERR_INVAL;
    size_t units = reg_u16strlen(string) + 1;
    if (units > 0x7FFFFFFF / sizeof(reg_char))
        return REG_ERR_INVAL;
    // Stored little-endian, with the terminating unit.
    std::vector<uint8_t> bytes(units * 2);
    for (size_t i = 0; i < units; ++i) {
        bytes[2 * i] = uint8_t(string[i]);
        bytes[2 * i + 1] = uint8_t(string[i] >> 8);
    }
    return reg_create_value(key, name, type, bytes.data(), uint32_t(bytes.size()), value);
}

int reg_delete_value(reg_value *value)
{
    if (!value)
        return REG_ERR_INVAL;
    return value->ops->del(value);
}

void reg_close_value(reg_value *value)
{
    if (value)
        value->ops->release(value);
}

int reg_get_value_name(reg_value *value, const reg_char **name)
{
    if (!value || !name)
        return REG_ERR_INVAL;
    *name = value->ops->get_name(value);
    return REG_OK;
}

int reg_get_value_name_u8(reg_value *value, char **name)
{
    if (!value || !name)
        return REG_ERR_INVAL;
    return reg_utf16_to_utf8_alloc(value->ops->get_name(value), name);
}

int reg_get_value_type(reg_value *value, uint32_t *type)
{
    if (!value || !type)
        return REG_ERR_INVAL;
    return value->ops->get_type(value, type);
}

int reg_get_value_data_size(reg_value *value, uint32_t *size)
{
    if (!value || !size)
        return REG_ERR_INVAL;
    return value->ops->get_data_size(value, size);
}

int reg_get_value_data(reg_value *value, uint32_t offset, void *buffer, uint32_t length)
{
    if (!value || (!buffer && length))
        return REG_ERR_INVAL;
    return value->ops->get_data(value, offset, buffer, length);
}

int reg_get_dword_value(reg_value *value, uint32_t *number)
{
    if (!value || !number)
        return REG_ERR_INVAL;
    uint32_t type, size;
    uint8_t b[4];
    if (value->ops->get_type(value, &type) || type != REG_DWORD || value->ops->get_data_size(value, &size)
        || size != 4 || value->ops->get_data(value, 0, b, 4))
        return REG_ERR_IO;
    *number = ic_le32(b);
    return REG_OK;
}

int reg_get_string_value(reg_key *key, const reg_char *name, uint32_t type, reg_char **string)
{
    if (!key || !name || !string)
        return REG_ERR_INVAL;
    std::vector<uint8_t> bytes;
    int rc = reg_read_value_bytes(key, name, reg_u16strlen(name), type, bytes);
    if (rc)
        return rc;
    size_t units = bytes.size() / 2;
    auto *s = static_cast<reg_char *>(std::malloc((units + 1) * sizeof(reg_char)));
    if (!s)
        return REG_ERR_NOMEM;
    for (size_t i = 0; i < units; ++i)
        s[i] = reg_char(bytes[2 * i] | bytes[2 * i + 1] << 8);
    s[units] = 0;
    *string = s;
    return REG_OK;
}

int reg_get_string_value_u8(reg_key *key, const char *name, uint32_t type, char **string)
{
    if (!string)
        return REG_ERR_INVAL;
    reg_char *wide_name, *wide;
    int rc = reg_utf8_to_utf16_alloc(name, &wide_name);
    if (rc)
        return rc;
    reg_wide_ptr hold_name(wide_name);
    if ((rc = reg_get_string_value(key, wide_name, type, &wide)))
        return rc;
    reg_wide_ptr hold(wide);
    return reg_utf16_to_utf8_alloc(wide, string);
}

int reg_create_value_enum(reg_key *key, reg_value_enum **en)
{
    if (!key || !en)
        return REG_ERR_INVAL;
    return key->ops->create_value_enum(key, en);
}

int reg_get_next_enum_value(reg_value_enum *en, reg_value **value)
{
    if (!en || !value)
        return REG_ERR_INVAL;
    return en->ops->get_next(en, value);
}

void reg_destroy_value_enum(reg_value_enum *en)
{
    if (en)
        en->ops->destroy(en);
}
