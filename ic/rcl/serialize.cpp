// The byte image of a check list.
#include "rcl_internal.h"

#include "ic/util/rbuf.h"
#include "ic/util/result.h"
#include "ic/util/wbuf.h"

#include <cstdlib>
#include <new>

using namespace rcl_impl;

namespace {

constexpr uint16_t kAbsent = 0xFFFF;

int write_string(wbuf *wb, const rcl_string &s)
{
    if (s.size() >= kAbsent || s.find(u'\0') != rcl_string::npos)
        return REG_ERR_INVAL;
    int rc = wb_write_u16(wb, uint16_t(s.size()));
    for (size_t i = 0; !rc && i < s.size(); ++i)
        rc = wb_write_u16(wb, uint16_t(s[i]));
    return rc;
}

int write_optional(wbuf *wb, const std::optional<rcl_string> &s)
{
    return s ? write_string(wb, *s) : wb_write_u16(wb, kAbsent);
}

int write_digest(wbuf *wb, const rcl_digest &d)
{
    return wb_write(wb, d.data(), uint32_t(d.size()));
}

int write_node(wbuf *wb, const rcl_key_node &n, uint16_t flags, unsigned depth)
{
    if (depth > RCL_MAX_DEPTH)
        return REG_ERR_INVAL;
    const size_t count = n.subkey_names.size();
    int rc = wb_write_u32(wb, uint32_t(count));
    for (size_t i = 0; !rc && i < count; ++i)
        rc = write_string(wb, n.subkey_names[i]);
    for (size_t i = 0; !rc && i < count; ++i)
        rc = write_node(wb, n.subkeys[i], flags, depth + 1);
    for (size_t i = 0; !rc && (flags & RCL_CLASS) && i < count; ++i)
        rc = write_optional(wb, n.classes[i]);
    for (size_t i = 0; !rc && (flags & RCL_TIMESTAMP) && i < count; ++i)
        rc = wb_write_u64(wb, n.timestamps[i]);
    for (size_t i = 0; !rc && (flags & RCL_SECURITY) && i < count; ++i)
        rc = write_digest(wb, n.security[i]);
    const size_t values = n.value_names.size();
    if (!rc)
        rc = wb_write_u32(wb, uint32_t(values));
    for (size_t i = 0; !rc && i < values; ++i)
        rc = write_string(wb, n.value_names[i]);
    for (size_t i = 0; !rc && (flags & RCL_VALUE_TYPE) && i < values; ++i)
        rc = wb_write_u32(wb, n.types[i]);
    for (size_t i = 0; !rc && (flags & RCL_VALUE_DATA) && i < values; ++i)
        rc = write_digest(wb, n.data[i]);
    return rc;
}

int read_string(rbuf *rb, rcl_string &s, bool optional, bool &absent)
{
    uint16_t count;
    int rc = rb_read_u16(rb, &count);
    if (rc)
        return rc;
    absent = optional && count == kAbsent;
    if (absent)
        return REG_OK;
    const uint8_t *p;
    if ((rc = rb_get_ptr(rb, 2u * count, &p)))
        return rc;
    s.resize(count);
    for (size_t i = 0; i < count; ++i)
        s[i] = char16_t(p[2 * i] | p[2 * i + 1] << 8);
    return REG_OK;
}

int read_string(rbuf *rb, rcl_string &s)
{
    bool absent;
    return read_string(rb, s, false, absent);
}

// A name of a key node: an optional string that is never absent when we
// write it; an absent one reads as empty.
int read_name(rbuf *rb, rcl_string &s)
{
    bool absent;
    int rc = read_string(rb, s, true, absent);
    if (!rc && absent)
        s.clear();
    return rc;
}

int read_digest(rbuf *rb, rcl_digest &d)
{
    return rb_read(rb, d.data(), uint32_t(d.size()));
}

// Counts are checked against the bytes left before anything is allocated.
int read_count(rbuf *rb, uint32_t &count, uint32_t least_bytes_each)
{
    int rc = rb_read_u32(rb, &count);
    if (!rc && uint64_t(count) * least_bytes_each > rb_remaining(rb))
        rc = REG_ERR_IO;
    return rc;
}

int read_node(rbuf *rb, rcl_key_node &n, uint16_t flags, unsigned depth)
{
    if (depth > RCL_MAX_DEPTH)
        return REG_ERR_IO;
    uint32_t count;
    int rc = read_count(rb, count, 2 + 8); // a name and the smallest node
    if (rc)
        return rc;
    n.subkey_names.resize(count);
    n.subkeys.resize(count);
    for (uint32_t i = 0; !rc && i < count; ++i)
        rc = read_name(rb, n.subkey_names[i]);
    for (uint32_t i = 0; !rc && i < count; ++i)
        rc = read_node(rb, n.subkeys[i], flags, depth + 1);
    if (!rc && (flags & RCL_CLASS)) {
        n.classes.resize(count);
        for (uint32_t i = 0; !rc && i < count; ++i) {
            rcl_string s;
            bool absent;
            rc = read_string(rb, s, true, absent);
            if (!rc && !absent)
                n.classes[i] = s;
        }
    }
    if (!rc && (flags & RCL_TIMESTAMP)) {
        n.timestamps.resize(count);
        for (uint32_t i = 0; !rc && i < count; ++i)
            rc = rb_read_u64(rb, &n.timestamps[i]);
    }
    if (!rc && (flags & RCL_SECURITY)) {
        n.security.resize(count);
        for (uint32_t i = 0; !rc && i < count; ++i)
            rc = read_digest(rb, n.security[i]);
    }
    uint32_t values = 0;
    if (!rc)
        rc = read_count(rb, values, 2);
    if (rc)
        return rc;
    n.value_names.resize(values);
    for (uint32_t i = 0; !rc && i < values; ++i)
        rc = read_name(rb, n.value_names[i]);
    if (!rc && (flags & RCL_VALUE_TYPE)) {
        n.types.resize(values);
        for (uint32_t i = 0; !rc && i < values; ++i)
            rc = rb_read_u32(rb, &n.types[i]);
    }
    if (!rc && (flags & RCL_VALUE_DATA)) {
        n.data.resize(values);
        for (uint32_t i = 0; !rc && i < values; ++i)
            rc = read_digest(rb, n.data[i]);
    }
    return rc;
}

int write_list(wbuf *wb, const rcl *list)
{
    int rc = wb_write_u32(wb, list->value_count);
    for (const rcl_value_entry *e = rcl_first_value(list); !rc && e; e = rcl_next_value(e)) {
        rc = write_string(wb, e->path);
        if (!rc)
            rc = write_string(wb, e->name);
        if (!rc)
            rc = wb_write_u16(wb, e->flags);
        if (!rc && (e->flags & RCL_VALUE_TYPE))
            rc = wb_write_u32(wb, e->type);
        if (!rc && (e->flags & RCL_VALUE_DATA))
            rc = write_digest(wb, e->digest);
    }
    if (!rc)
        rc = wb_write_u32(wb, list->key_count);
    for (const rcl_key_entry *e = rcl_first_key(list); !rc && e; e = rcl_next_key(e)) {
        rc = write_string(wb, e->path);
        if (!rc)
            rc = wb_write_u16(wb, e->flags);
        if (rc)
            break;
        if (!(e->flags & RCL_KEY_NODE)) {
            rc = write_digest(wb, e->digest);
            continue;
        }
        rc = write_node(wb, e->key_node, e->flags, 0);
        if (!rc && (e->flags & RCL_CLASS))
            rc = write_optional(wb, e->class_name);
        if (!rc && (e->flags & RCL_TIMESTAMP))
            rc = wb_write_u64(wb, e->timestamp);
        if (!rc && (e->flags & RCL_SECURITY))
            rc = write_digest(wb, e->security);
    }
    return rc;
}

int read_list(rbuf *rb, rcl *list)
{
    uint32_t count;
    int rc = read_count(rb, count, 2 + 2 + 2);
    for (uint32_t i = 0; !rc && i < count; ++i) {
        auto e = std::make_unique<rcl_value_entry>();
        e->type = 0;
        e->digest = {};
        rc = read_string(rb, e->path);
        if (!rc)
            rc = read_string(rb, e->name);
        if (!rc)
            rc = rb_read_u16(rb, &e->flags);
        if (!rc && (e->flags & RCL_VALUE_TYPE))
            rc = rb_read_u32(rb, &e->type);
        if (!rc && (e->flags & RCL_VALUE_DATA))
            rc = read_digest(rb, e->digest);
        if (!rc)
            rcl_insert_value(list, e.release());
    }
    if (!rc)
        rc = read_count(rb, count, 2 + 2);
    for (uint32_t i = 0; !rc && i < count; ++i) {
        auto e = std::make_unique<rcl_key_entry>();
        e->digest = e->security = {};
        e->timestamp = 0;
        rc = read_string(rb, e->path);
        if (!rc)
            rc = rb_read_u16(rb, &e->flags);
        if (rc)
            break;
        if (!(e->flags & RCL_KEY_NODE)) {
            rc = read_digest(rb, e->digest);
        } else {
            rc = read_node(rb, e->key_node, e->flags, 0);
            if (!rc && (e->flags & RCL_CLASS)) {
                rcl_string s;
                bool absent;
                rc = read_string(rb, s, true, absent);
                if (!rc && !absent)
                    e->class_name = s;
            }
            if (!rc && (e->flags & RCL_TIMESTAMP))
                rc = rb_read_u64(rb, &e->timestamp);
            if (!rc && (e->flags & RCL_SECURITY))
                rc = read_digest(rb, e->security);
        }
        if (!rc)
            rcl_insert_key(list, e.release());
    }
    return rc;
}

} // namespace

int rcl_write_to_mem(const rcl *list, uint8_t **data, uint32_t *size)
{
    if (!list || !data || !size)
        return REG_ERR_INVAL;
    wbuf wb;
    int rc = wb_init(&wb, 0);
    if (rc)
        return rc;
    try {
        rc = write_list(&wb, list);
    } catch (const std::bad_alloc &) {
        rc = REG_ERR_NOMEM;
    }
    if (rc) {
        wb_finalize(&wb, 1);
        return rc;
    }
    *size = wb.length;
    *data = wb_finalize(&wb, 0);
    return REG_OK;
}

int rcl_read_from_mem(const uint8_t *data, uint32_t size, rcl **out)
{
    if ((!data && size) || !out)
        return REG_ERR_INVAL;
    rcl *list;
    int rc = rcl_create(&list);
    if (rc)
        return rc;
    rbuf rb;
    rb_init(&rb, data, size);
    try {
        rc = read_list(&rb, list);
    } catch (const std::bad_alloc &) {
        rc = REG_ERR_NOMEM;
    }
    if (rc) {
        rcl_destroy(list);
        return rc == IC_ERR_NOMEM ? REG_ERR_NOMEM : REG_ERR_IO;
    }
    *out = list;
    return REG_OK;
}
