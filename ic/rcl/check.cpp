// The check of a name space against a check list.
#include "rcl_internal.h"

#include <new>

using namespace rcl_impl;

namespace {

// Stored attributes of the key being compared.
struct Attributes {
    const std::optional<rcl_string> *class_name;
    uint64_t timestamp;
    const rcl_digest *security;
};

class Checker {
public:
    explicit Checker(uint16_t flags) : flags_(flags) {}

    // check_key: the key against its node, items collected in order.
    int check(reg_key *key, const rcl_key_node &node, const Attributes &stored, const rcl_string &path,
              unsigned depth, std::vector<rcl_key_item> &items)
    {
        int rc = guard_.enter(key, depth);
        if (rc)
            return rc;
        uint32_t result = 0;
        if (flags_ & RCL_CLASS) {
            std::optional<rcl_string> now;
            if ((rc = class_name(key, now)))
                return rc;
            const auto &was = *stored.class_name;
            if (bool(now) != bool(was) || (now && compare(*now, *was) != 0))
                result |= RCL_KEY_CLASS;
        }
        if (flags_ & RCL_TIMESTAMP) {
            uint64_t ts;
            if ((rc = reg_get_timestamp(key, &ts)))
                return rc;
            if (ts != stored.timestamp)
                result |= RCL_KEY_TIMESTAMP;
        }
        if (flags_ & RCL_SECURITY) {
            rcl_digest d;
            if ((rc = security_digest(key, d)))
                return rc;
            if (d != *stored.security)
                result |= RCL_KEY_SECURITY_DESCRIPTOR;
        }
        if (result)
            items.push_back({path, std::nullopt, result});
        if (flags_ & RCL_SUBTREE) {
            std::vector<std::pair<rcl_string, key_ptr>> now;
            if ((rc = list_subkeys(key, now)))
                return rc;
            size_t i = 0, j = 0;
            const size_t count = std::min(node.subkey_names.size(), node.subkeys.size());
            while (i < count || j < now.size()) {
                const int c = i >= count ? 1 : j >= now.size() ? -1 : compare(node.subkey_names[i], now[j].first);
                if (c < 0) {
                    items.push_back({path + u"\\" + node.subkey_names[i++], std::nullopt, RCL_KEY_REMOVED});
                } else if (c > 0) {
                    items.push_back({path + u"\\" + now[j++].first, std::nullopt, RCL_KEY_NEW});
                } else {
                    static const std::optional<rcl_string> none;
                    static const rcl_digest zero{};
                    const Attributes sub = {i < node.classes.size() ? &node.classes[i] : &none,
                                            i < node.timestamps.size() ? node.timestamps[i] : 0,
                                            i < node.security.size() ? &node.security[i] : &zero};
                    rc = check(now[j].second.get(), node.subkeys[i], sub, path + u"\\" + now[j].first, depth + 1,
                               items);
                    if (rc)
                        return rc;
                    ++i, ++j;
                }
            }
        }
        std::vector<std::pair<rcl_string, value_ptr>> values;
        if ((rc = list_values(key, values)))
            return rc;
        size_t i = 0, j = 0;
        const size_t count = node.value_names.size();
        while (i < count || j < values.size()) {
            const int c = i >= count ? 1 : j >= values.size() ? -1 : compare(node.value_names[i], values[j].first);
            if (c < 0) {
                items.push_back({path, node.value_names[i++], RCL_VALUE_REMOVED});
            } else if (c > 0) {
                items.push_back({path, values[j++].first, RCL_VALUE_NEW});
            } else {
                uint32_t flags = 0;
                if ((rc = compare_value(values[j].second.get(), i < node.types.size() ? &node.types[i] : nullptr,
                                        i < node.data.size() ? &node.data[i] : nullptr, flags_, flags)))
                    return rc;
                if (flags)
                    items.push_back({path, values[j].first, flags});
                ++i, ++j;
            }
        }
        return REG_OK;
    }

    static int compare_value(reg_value *v, const uint32_t *type, const rcl_digest *digest, uint16_t entry_flags,
                             uint32_t &result)
    {
        result = 0;
        int rc = REG_OK;
        if ((entry_flags & RCL_VALUE_TYPE) && type) {
            uint32_t now;
            if ((rc = reg_get_value_type(v, &now)))
                return rc;
            if (now != *type)
                result = RCL_VALUE_TYPE_CHANGED;
        }
        if ((entry_flags & RCL_VALUE_DATA) && digest) {
            rcl_digest now;
            if ((rc = value_digest(v, now)))
                return rc;
            if (now != *digest)
                result |= RCL_VALUE_DATA_MODIFIED;
        }
        return rc;
    }

    walk_guard guard_;

private:
    uint16_t flags_;
};

// Results in the list's order: appended at the right end.
template <typename T>
void append(rb_root *tree, T *item)
{
    rb_node **link = &tree->rb_node, *parent = nullptr;
    while (*link) {
        parent = *link;
        link = &parent->rb_right;
    }
    rb_link_node(&item->node, parent, link);
    rb_insert_color(&item->node, tree);
}

int check_values(const rcl *list, reg *space, rcl_check_info *info)
{
    for (const rcl_value_entry *e = rcl_first_value(list); e; e = rcl_next_value(e)) {
        reg_key *k = nullptr;
        reg_value *v = nullptr;
        int rc = reg_open_key_by_abs_path(space, wide(e->path), 0, &k);
        key_ptr key(k);
        if (!rc)
            rc = reg_open_value(k, wide(e->name), &v);
        value_ptr value(v);
        uint32_t flags = 0;
        if (rc == REG_ERR_NOT_FOUND)
            flags = RCL_VALUE_REMOVED;
        else if (rc)
            return rc;
        else if ((rc = Checker::compare_value(v, &e->type, &e->digest, e->flags, flags)))
            return rc;
        if (flags) {
            append(&info->values, new rcl_check_value{{}, e, flags});
            ++info->value_count;
        }
    }
    return REG_OK;
}

int check_keys(const rcl *list, reg *space, rcl_check_info *info)
{
    for (const rcl_key_entry *e = rcl_first_key(list); e; e = rcl_next_key(e)) {
        reg_key *k = nullptr;
        int rc = reg_open_key_by_abs_path(space, wide(e->path), 0, &k);
        key_ptr key(k);
        std::vector<rcl_key_item> items;
        if (rc == REG_ERR_NOT_FOUND) {
            items.push_back({rcl_string(), std::nullopt, RCL_KEY_REMOVED});
        } else if (rc) {
            return rc;
        } else if (!(e->flags & RCL_KEY_NODE)) {
            walk_guard guard;
            rcl_digest d;
            if ((rc = key_digest(k, e->flags, guard, d)))
                return rc;
            if (d != e->digest)
                items.push_back({rcl_string(), std::nullopt, RCL_KEY_ROOT_HASH});
        } else {
            Checker checker(e->flags);
            const Attributes top = {&e->class_name, e->timestamp, &e->security};
            if ((rc = checker.check(k, e->key_node, top, rcl_string(), 0, items)))
                return rc;
        }
        if (!items.empty()) {
            auto *r = new rcl_check_key{{}, e, std::move(items)};
            append(&info->keys, r);
            ++info->key_count;
        }
    }
    return REG_OK;
}

} // namespace

int rcl_check_info_create(const rcl *list, reg *space, rcl_check_info **result)
{
    if (!list || !space || !result)
        return REG_ERR_INVAL;
    auto *info = new (std::nothrow) rcl_check_info{0, {nullptr}, 0, {nullptr}};
    if (!info)
        return REG_ERR_NOMEM;
    int rc;
    try {
        rc = check_values(list, space, info);
        if (!rc)
            rc = check_keys(list, space, info);
    } catch (const std::bad_alloc &) {
        rc = REG_ERR_NOMEM;
    }
    if (rc) {
        IC_LOG(ic_log_rcl, IC_LOG_ERROR, "registry check failed: %d\n", rc);
        rcl_check_info_destroy(info);
        return rc;
    }
    *result = info;
    return REG_OK;
}

void rcl_check_info_destroy(rcl_check_info *info)
{
    if (!info)
        return;
    while (rb_node *n = rb_first(&info->values)) {
        rb_erase(n, &info->values);
        delete rb_entry(n, rcl_check_value, node);
    }
    while (rb_node *n = rb_first(&info->keys)) {
        rb_erase(n, &info->keys);
        delete rb_entry(n, rcl_check_key, node);
    }
    delete info;
}

rcl_check_value *rcl_check_first_value(const rcl_check_info *result)
{
    return first<rcl_check_value>(result ? &result->values : nullptr);
}

rcl_check_value *rcl_check_next_value(const rcl_check_value *value)
{
    return next(value);
}

rcl_check_key *rcl_check_first_key(const rcl_check_info *result)
{
    return first<rcl_check_key>(result ? &result->keys : nullptr);
}

rcl_check_key *rcl_check_next_key(const rcl_check_key *key)
{
    return next(key);
}

const rcl_key_item *rcl_check_first_key_item(const rcl_check_key *key)
{
    return key && !key->items.empty() ? &key->items.front() : nullptr;
}

const rcl_key_item *rcl_check_next_key_item(const rcl_check_key *key, const rcl_key_item *item)
{
    if (!key || !item || item < key->items.data() || item + 1 >= key->items.data() + key->items.size())
        return nullptr;
    return item + 1;
}

rcl_check_value *rcl_check_find_value(const rcl_check_info *result, const reg_char *path, const reg_char *name)
{
    if (!path || !name)
        return nullptr;
    const rcl_string p(reinterpret_cast<const char16_t *>(path)), n(reinterpret_cast<const char16_t *>(name));
    for (rcl_check_value *v = rcl_check_first_value(result); v; v = next(v))
        if (compare(p, v->entry->path) == 0 && compare(n, v->entry->name) == 0)
            return v;
    return nullptr;
}

rcl_check_key *rcl_check_find_key(const rcl_check_info *result, const reg_char *path)
{
    if (!path)
        return nullptr;
    const rcl_string p(reinterpret_cast<const char16_t *>(path));
    for (rcl_check_key *k = rcl_check_first_key(result); k; k = next(k))
        if (compare(p, k->entry->path) == 0)
            return k;
    return nullptr;
}

const char *rcl_result_flag_name(unsigned bit)
{
    static const char *const names[] = {"VALUE_REMOVED", "VALUE_NEW",     "VALUE_TYPE_CHANGED", "VALUE_DATA_MODIFIED",
                                        "KEY_ROOT_HASH", "KEY_REMOVED",   "KEY_NEW",            "KEY_CLASS",
                                        "KEY_TIMESTAMP", "KEY_SECURITY_DESCRIPTOR"};
    return bit < 10 ? names[bit] : nullptr;
}
