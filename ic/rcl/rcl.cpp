// The check list: ordered sets of key and value entries.
#include "rcl_internal.h"

#include <new>

using namespace rcl_impl;

namespace {

int compare_value(const rcl_string &path, const rcl_string &name, const rcl_value_entry *e)
{
    int c = compare(path, e->path);
    return c ? c : compare(name, e->name);
}

template <typename Entry, typename Cmp>
Entry *find(const rb_root *tree, Cmp cmp)
{
    rb_node *n = tree->rb_node;
    while (n) {
        Entry *e = rb_entry(n, Entry, node);
        int c = cmp(e);
        if (!c)
            return e;
        n = c < 0 ? n->rb_left : n->rb_right;
    }
    return nullptr;
}

// Links e into tree, replacing an entry that compares equal (returned).
template <typename Entry, typename Cmp>
Entry *insert(rb_root *tree, Entry *e, Cmp cmp)
{
    rb_node **link = &tree->rb_node, *parent = nullptr;
    while (*link) {
        parent = *link;
        Entry *other = rb_entry(parent, Entry, node);
        int c = cmp(other);
        if (!c) {
            rb_replace_node(parent, &e->node, tree);
            return other;
        }
        link = c < 0 ? &parent->rb_left : &parent->rb_right;
    }
    rb_link_node(&e->node, parent, link);
    rb_insert_color(&e->node, tree);
    return nullptr;
}

key_ptr open_key(reg *space, const rcl_string &path, int &rc)
{
    reg_key *key = nullptr;
    rc = reg_open_key_by_abs_path(space, wide(path), 0, &key);
    return key_ptr(key);
}

} // namespace

void rcl_insert_key(rcl *list, rcl_key_entry *e)
{
    rcl_key_entry *old = insert(&list->keys, e, [&](const rcl_key_entry *o) { return compare(e->path, o->path); });
    if (old)
        delete old;
    else
        ++list->key_count;
}

void rcl_insert_value(rcl *list, rcl_value_entry *e)
{
    rcl_value_entry *old =
        insert(&list->values, e, [&](const rcl_value_entry *o) { return compare_value(e->path, e->name, o); });
    if (old)
        delete old;
    else
        ++list->value_count;
}

int rcl_create(rcl **list)
{
    if (!list)
        return REG_ERR_INVAL;
    *list = new (std::nothrow) rcl{0, {nullptr}, 0, {nullptr}};
    return *list ? REG_OK : REG_ERR_NOMEM;
}

void rcl_destroy(rcl *list)
{
    if (!list)
        return;
    while (rb_node *n = rb_first(&list->keys)) {
        rb_erase(n, &list->keys);
        delete rb_entry(n, rcl_key_entry, node);
    }
    while (rb_node *n = rb_first(&list->values)) {
        rb_erase(n, &list->values);
        delete rb_entry(n, rcl_value_entry, node);
    }
    delete list;
}

int rcl_add_key(rcl *list, reg *space, const reg_char *path, uint16_t flags, rcl_key_entry **entry)
{
    if (!list || !space || !path)
        return REG_ERR_INVAL;
    try {
        auto e = std::make_unique<rcl_key_entry>();
        e->path = reinterpret_cast<const char16_t *>(path);
        e->flags = flags;
        int rc;
        key_ptr key = open_key(space, e->path, rc);
        if (rc)
            return rc;
        walk_guard guard;
        if (!(flags & RCL_KEY_NODE)) {
            rc = key_digest(key.get(), flags, guard, e->digest);
        } else {
            rc = build_key_node(key.get(), flags, guard, 0, e->key_node);
            if (!rc && (flags & RCL_CLASS))
                rc = class_name(key.get(), e->class_name);
            if (!rc && (flags & RCL_TIMESTAMP))
                rc = reg_get_timestamp(key.get(), &e->timestamp);
            if (!rc && (flags & RCL_SECURITY))
                rc = security_digest(key.get(), e->security);
        }
        if (rc)
            return rc;
        if (entry)
            *entry = e.get();
        rcl_insert_key(list, e.release());
        return REG_OK;
    } catch (const std::bad_alloc &) {
        return REG_ERR_NOMEM;
    }
}

int rcl_add_value(rcl *list, reg *space, const reg_char *path, const reg_char *name, uint16_t flags,
                  rcl_value_entry **entry)
{
    if (!list || !space || !path || !name)
        return REG_ERR_INVAL;
    try {
        auto e = std::make_unique<rcl_value_entry>();
        e->path = reinterpret_cast<const char16_t *>(path);
        e->name = reinterpret_cast<const char16_t *>(name);
        e->flags = flags;
        e->type = 0;
        e->digest = {};
        int rc;
        key_ptr key = open_key(space, e->path, rc);
        if (rc)
            return rc;
        reg_value *v;
        if ((rc = reg_open_value(key.get(), name, &v)))
            return rc;
        value_ptr value(v);
        if (flags & RCL_VALUE_TYPE)
            rc = reg_get_value_type(v, &e->type);
        if (!rc && (flags & RCL_VALUE_DATA))
            rc = value_digest(v, e->digest);
        if (rc)
            return rc;
        if (entry)
            *entry = e.get();
        rcl_insert_value(list, e.release());
        return REG_OK;
    } catch (const std::bad_alloc &) {
        return REG_ERR_NOMEM;
    }
}

int rcl_add_key_u8(rcl *list, reg *space, const char *path, uint16_t flags, rcl_key_entry **entry)
{
    rcl_string p;
    int rc = from_u8(path, p);
    return rc ? rc : rcl_add_key(list, space, wide(p), flags, entry);
}

int rcl_add_value_u8(rcl *list, reg *space, const char *path, const char *name, uint16_t flags,
                     rcl_value_entry **entry)
{
    rcl_string p, n;
    int rc = from_u8(path, p);
    if (!rc)
        rc = from_u8(name, n);
    return rc ? rc : rcl_add_value(list, space, wide(p), wide(n), flags, entry);
}

rcl_key_entry *rcl_find_key(const rcl *list, const reg_char *path)
{
    if (!list || !path)
        return nullptr;
    const rcl_string p(reinterpret_cast<const char16_t *>(path));
    return find<rcl_key_entry>(&list->keys, [&](const rcl_key_entry *e) { return compare(p, e->path); });
}

rcl_value_entry *rcl_find_value(const rcl *list, const reg_char *path, const reg_char *name)
{
    if (!list || !path || !name)
        return nullptr;
    const rcl_string p(reinterpret_cast<const char16_t *>(path)), n(reinterpret_cast<const char16_t *>(name));
    return find<rcl_value_entry>(&list->values, [&](const rcl_value_entry *e) { return compare_value(p, n, e); });
}

rcl_key_entry *rcl_find_key_u8(const rcl *list, const char *path)
{
    rcl_string p;
    return from_u8(path, p) ? nullptr : rcl_find_key(list, wide(p));
}

rcl_value_entry *rcl_find_value_u8(const rcl *list, const char *path, const char *name)
{
    rcl_string p, n;
    if (from_u8(path, p) || from_u8(name, n))
        return nullptr;
    return rcl_find_value(list, wide(p), wide(n));
}

int rcl_remove_key(rcl *list, const reg_char *path)
{
    rcl_key_entry *e = rcl_find_key(list, path);
    if (!e)
        return list && path ? RCL_ERR_NOT_FOUND : REG_ERR_INVAL;
    rb_erase(&e->node, &list->keys);
    --list->key_count;
    delete e;
    return REG_OK;
}

int rcl_remove_value(rcl *list, const reg_char *path, const reg_char *name)
{
    rcl_value_entry *e = rcl_find_value(list, path, name);
    if (!e)
        return list && path && name ? RCL_ERR_NOT_FOUND : REG_ERR_INVAL;
    rb_erase(&e->node, &list->values);
    --list->value_count;
    delete e;
    return REG_OK;
}

int rcl_remove_key_u8(rcl *list, const char *path)
{
    rcl_string p;
    int rc = from_u8(path, p);
    return rc ? rc : rcl_remove_key(list, wide(p));
}

int rcl_remove_value_u8(rcl *list, const char *path, const char *name)
{
    rcl_string p, n;
    int rc = from_u8(path, p);
    if (!rc)
        rc = from_u8(name, n);
    return rc ? rc : rcl_remove_value(list, wide(p), wide(n));
}

rcl_key_entry *rcl_first_key(const rcl *list)
{
    return first<rcl_key_entry>(list ? &list->keys : nullptr);
}

rcl_key_entry *rcl_next_key(const rcl_key_entry *entry)
{
    return next(entry);
}

rcl_value_entry *rcl_first_value(const rcl *list)
{
    return first<rcl_value_entry>(list ? &list->values : nullptr);
}

rcl_value_entry *rcl_next_value(const rcl_value_entry *entry)
{
    return next(entry);
}
