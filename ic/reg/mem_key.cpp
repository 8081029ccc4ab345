// Keys and values made in memory: the keys of a memory hive, and volatile
// keys and values below the keys of a hive file.
#include "reg_internal.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

int key_is_symlink(reg_key *key)
{
    return (key->flags & REG_KEY_SYMLINK) ? 1 : 0;
}

int key_delete(reg_key *key)
{
    if (key->deleted || !key->parent)
        return REG_ERR_INVAL;
    return key->parent->ops->remove_volatile_subkey(key->parent, key);
}

int key_class_size(reg_key *key, uint32_t *units)
{
    if (!key->class_name)
        return REG_ERR_NOT_FOUND;
    *units = uint32_t(reg_u16strlen(key->class_name) + 1);
    return REG_OK;
}

int key_class(reg_key *key, reg_char *buffer, uint32_t units)
{
    if (!key->class_name)
        return REG_ERR_NOT_FOUND;
    size_t n = reg_u16strlen(key->class_name) + 1;
    if (units < n)
        return REG_ERR_BUFFER;
    std::memcpy(buffer, key->class_name, n * sizeof(reg_char));
    return REG_OK;
}

int key_security(reg_key *, void *, uint32_t *size)
{
    *size = 0;
    return REG_OK;
}

int key_enum_next(reg_key_enum *en, reg_key **key)
{
    return reg_volatile_next_key(en, key);
}

void key_enum_destroy(reg_key_enum *en)
{
    reg_close_key(en->key);
    std::free(en->last);
    delete en;
}

const reg_key_enum_ops mem_key_enum_ops = {key_enum_next, key_enum_destroy};

int key_create_enum(reg_key *key, unsigned flags, reg_key_enum **en)
{
    auto *e = new (std::nothrow) reg_key_enum{};
    if (!e)
        return REG_ERR_NOMEM;
    e->ops = &mem_key_enum_ops;
    e->key = key;
    reg_key_add_ref_common(key);
    e->flags = flags;
    e->in_volatiles = true;
    *en = e;
    return REG_OK;
}

int value_enum_next(reg_value_enum *en, reg_value **value)
{
    return reg_volatile_next_value(en, value);
}

void value_enum_destroy(reg_value_enum *en)
{
    reg_close_key(en->key);
    std::free(en->last);
    delete en;
}

int key_create_value_enum(reg_key *key, reg_value_enum **en)
{
    auto *e = new (std::nothrow) reg_value_enum{};
    if (!e)
        return REG_ERR_NOMEM;
    e->ops = &reg_volatile_value_enum_ops;
    e->key = key;
    reg_key_add_ref_common(key);
    e->in_volatiles = true;
    *en = e;
    return REG_OK;
}

const reg_key_ops mem_key_ops = {
    reg_key_op_add_ref,   reg_key_op_release,    reg_key_op_get_hive,   reg_key_op_get_name,
    key_is_symlink,       key_delete,            reg_mem_open_subkey,   reg_mem_create_subkey,
    key_create_enum,      reg_mem_open_value,    reg_mem_create_value,  key_create_value_enum,
    key_class_size,       key_class,             key_security,          reg_key_op_get_timestamp,
    reg_mem_remove_subkey,
};

/* Values. */

int value_delete(reg_value *value)
{
    if (!value->linked)
        return REG_ERR_INVAL;
    rb_erase(&value->node, &value->key->values);
    value->linked = false;
    if (value->owned) {
        value->owned = false;
        reg_value_release_common(value);
    }
    return REG_OK;
}

int value_get_data_size(reg_value *value, uint32_t *size)
{
    *size = value->size;
    return REG_OK;
}

int value_get_data(reg_value *value, uint32_t offset, void *buffer, uint32_t length)
{
    if (offset > value->size || length > value->size - offset)
        return REG_ERR_INVAL;
    if (length)
        std::memcpy(buffer, value->data + offset, length);
    return REG_OK;
}

const reg_value_ops mem_value_ops = {reg_value_op_add_ref,  reg_value_op_release, reg_value_op_get_name,
                                     value_delete,          reg_value_op_get_type, value_get_data_size,
                                     value_get_data};

} // namespace

const reg_value_enum_ops reg_volatile_value_enum_ops = {value_enum_next, value_enum_destroy};

int reg_mem_key_create(reg_hive *hive, reg_key *parent, const reg_char *name, size_t len,
                       const reg_char *class_name, unsigned flags, reg_key **key)
{
    auto *k = new (std::nothrow) reg_key;
    if (!k)
        return REG_ERR_NOMEM;
    reg_key_init(k, &mem_key_ops, hive->kind == REG_HIVE_MEM ? KEY_KIND_MEM : KEY_KIND_VOLATILE, hive, parent);
    k->name = reg_dup_name(name, len);
    k->name_len = uint32_t(len);
    k->flags = flags & (REG_KEY_SYMLINK | REG_KEY_VOLATILE);
    if (!k->name || (class_name && !(k->class_name = reg_u16strdup(class_name)))) {
        reg_key_release_common(k);
        return REG_ERR_NOMEM;
    }
    *key = k;
    return REG_OK;
}

int reg_mem_open_subkey(reg_key *key, const reg_char *name, size_t len, reg_key **subkey)
{
    reg_key *k = reg_tree_find_key(&key->volatiles, name, len);
    if (!k)
        return REG_ERR_NOT_FOUND;
    reg_key_add_ref_common(k);
    *subkey = k;
    return REG_OK;
}

// Makes a key in memory below key (a key of either kind): the tree holds it.
int reg_mem_create_subkey(reg_key *key, const reg_char *name, size_t len, const reg_char *class_name,
                          unsigned flags, reg_key **subkey)
{
    // Keys made in memory live while their hive is in use (held or mounted).
    if (key->ops->is_symlink(key) || key->deleted || !key->hive->users)
        return REG_ERR_INVAL;
    reg_key *k;
    int rc = reg_mem_key_create(key->hive, key, name, len, class_name, flags, &k);
    if (rc)
        return rc;
    k->owned = true;
    reg_tree_insert_key(&key->volatiles, k);
    reg_key_add_ref_common(k); // the tree's
    if (subkey)
        *subkey = k;
    else
        reg_key_release_common(k);
    return REG_OK;
}

int reg_mem_remove_subkey(reg_key *key, reg_key *subkey)
{
    if (!subkey->linked || !subkey->owned || subkey->parent != key)
        return REG_ERR_INVAL;
    if (subkey->mount)
        return REG_ERR_INVAL; // unmount first
    rb_erase(&subkey->node, &key->volatiles);
    subkey->linked = subkey->owned = false;
    subkey->deleted = true;
    // Its own keys and values go with it.
    reg_key *hold = subkey;
    reg_key_add_ref_common(hold);
    std::vector<reg_key *> keys;
    std::vector<reg_value *> values;
    std::vector<reg_key *> stack{subkey};
    while (!stack.empty()) {
        reg_key *k = stack.back();
        stack.pop_back();
        for (rb_node *n = rb_first(&k->volatiles); n; n = rb_next(n)) {
            stack.push_back(rb_entry(n, reg_key, node));
            keys.push_back(rb_entry(n, reg_key, node));
        }
        for (rb_node *n = rb_first(&k->values); n; n = rb_next(n))
            values.push_back(rb_entry(n, reg_value, node));
    }
    for (reg_value *v : values) {
        rb_erase(&v->node, &v->key->values);
        v->linked = v->owned = false;
    }
    for (reg_key *k : keys) {
        rb_erase(&k->node, &k->parent->volatiles);
        k->linked = k->owned = false;
        k->deleted = true;
    }
    for (reg_value *v : values)
        reg_value_release_common(v);
    for (reg_key *k : keys)
        reg_key_release_common(k);
    reg_key_release_common(subkey); // the tree's
    reg_key_release_common(hold);
    return REG_OK;
}

int reg_mem_open_value(reg_key *key, const reg_char *name, size_t len, reg_value **value)
{
    reg_value *v = reg_tree_find_value(&key->values, name, len);
    if (!v)
        return REG_ERR_NOT_FOUND;
    ++v->refs;
    *value = v;
    return REG_OK;
}

int reg_mem_create_value(reg_key *key, const reg_char *name, uint32_t type, const void *data, uint32_t size,
                         reg_value **value)
{
    if (key->deleted || !key->hive->users)
        return REG_ERR_INVAL;
    size_t len = reg_u16strlen(name);
    reg_value *existing = nullptr;
    if (key->ops->open_value(key, name, len, &existing) == REG_OK) {
        reg_close_value(existing);
        return REG_ERR_EXISTS;
    }
    auto *v = new (std::nothrow) reg_value;
    if (!v)
        return REG_ERR_NOMEM;
    reg_value_init(v, &mem_value_ops, VALUE_KIND_MEM, key);
    v->name = reg_dup_name(name, len);
    v->name_len = uint32_t(len);
    v->type = type;
    v->size = size;
    v->data = static_cast<uint8_t *>(std::malloc(size ? size : 1));
    if (!v->name || !v->data) {
        reg_value_release_common(v);
        return REG_ERR_NOMEM;
    }
    if (size)
        std::memcpy(v->data, data, size);
    v->owned = true;
    reg_tree_insert_value(&key->values, v);
    ++v->refs; // the tree's
    if (value)
        *value = v;
    else
        reg_value_release_common(v);
    return REG_OK;
}

int reg_volatile_next_key(reg_key_enum *en, reg_key **key)
{
    reg_key *k = reg_tree_key_after(&en->key->volatiles, en->last);
    if (!k)
        return REG_ERR_NOT_FOUND;
    reg_char *last = reg_u16strdup(k->name);
    if (!last)
        return REG_ERR_NOMEM;
    std::free(en->last);
    en->last = last;
    reg_key_add_ref_common(k);
    *key = k;
    return REG_OK;
}

int reg_volatile_next_value(reg_value_enum *en, reg_value **value)
{
    reg_value *v = reg_tree_value_after(&en->key->values, en->last);
    if (!v)
        return REG_ERR_NOT_FOUND;
    reg_char *last = reg_u16strdup(v->name);
    if (!last)
        return REG_ERR_NOMEM;
    std::free(en->last);
    en->last = last;
    ++v->refs;
    *value = v;
    return REG_OK;
}
