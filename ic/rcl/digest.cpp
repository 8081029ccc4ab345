// Digests of value data, security descriptors and whole keys; the sorted
// listing of a key's subkeys and values.
#include "rcl_internal.h"

#include <algorithm>
#include <cstdlib>

namespace rcl_impl {

ctx_ptr new_context()
{
    ctx_ptr ctx(gost_r3411_94_create_context());
    if (ctx && gost_r3411_94_init(ctx.get(), GOST_R3411_94_PARAMS_CRYPTOPRO) != GOST_OK)
        ctx.reset();
    return ctx;
}

void feed_name(gost_r3411_94_ctx *ctx, const rcl_string &name)
{
    std::vector<uint8_t> bytes(2 * name.size() + 2, 0);
    for (size_t i = 0; i < name.size(); ++i) {
        bytes[2 * i] = uint8_t(name[i]);
        bytes[2 * i + 1] = uint8_t(name[i] >> 8);
    }
    gost_r3411_94_update(ctx, bytes.data(), bytes.size());
}

void feed_u32(gost_r3411_94_ctx *ctx, uint32_t v)
{
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    gost_r3411_94_update(ctx, b, 4);
}

void feed_u64(gost_r3411_94_ctx *ctx, uint64_t v)
{
    feed_u32(ctx, uint32_t(v));
    feed_u32(ctx, uint32_t(v >> 32));
}

int from_u8(const char *s, rcl_string &out)
{
    reg_char *w;
    int rc = reg_utf8_to_utf16_alloc(s, &w);
    if (rc)
        return rc;
    out.assign(reinterpret_cast<const char16_t *>(w));
    reg_free_string(w);
    return REG_OK;
}

int walk_guard::enter(reg_key *key, unsigned depth)
{
    const void *hive;
    uint32_t cell;
    reg_get_key_identity(key, &hive, &cell);
    if (depth > RCL_MAX_DEPTH || !seen.insert({hive, cell}).second) {
        IC_LOG(ic_log_rcl, IC_LOG_ERROR, "key met twice or nested too deep\n");
        return REG_ERR_FORMAT;
    }
    return REG_OK;
}

int list_subkeys(reg_key *key, std::vector<std::pair<rcl_string, key_ptr>> &out)
{
    reg_key_enum *en;
    int rc = reg_create_key_enum(key, REG_OPEN_LINK, &en);
    if (rc)
        return rc;
    for (;;) {
        reg_char *name;
        reg_key *sub;
        rc = reg_get_next_enum_key(en, &name, &sub);
        if (rc)
            break;
        out.emplace_back(rcl_string(reinterpret_cast<const char16_t *>(name)), key_ptr(sub));
        reg_free_name(name);
    }
    reg_destroy_key_enum(en);
    if (rc != REG_ERR_NOT_FOUND)
        return rc;
    std::stable_sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return compare(a.first, b.first) < 0; });
    return REG_OK;
}

int list_values(reg_key *key, std::vector<std::pair<rcl_string, value_ptr>> &out)
{
    reg_value_enum *en;
    int rc = reg_create_value_enum(key, &en);
    if (rc)
        return rc;
    for (;;) {
        reg_value *v;
        rc = reg_get_next_enum_value(en, &v);
        if (rc)
            break;
        const reg_char *name;
        reg_get_value_name(v, &name);
        out.emplace_back(rcl_string(reinterpret_cast<const char16_t *>(name)), value_ptr(v));
    }
    reg_destroy_value_enum(en);
    if (rc != REG_ERR_NOT_FOUND)
        return rc;
    std::stable_sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return compare(a.first, b.first) < 0; });
    return REG_OK;
}

// __rcl_calc_value_hash: the data in pieces of at most 4096 bytes.
int value_digest(reg_value *value, rcl_digest &digest)
{
    ctx_ptr ctx = new_context();
    if (!ctx)
        return REG_ERR_NOMEM;
    uint32_t size;
    int rc = reg_get_value_data_size(value, &size);
    uint8_t piece[4096];
    for (uint32_t at = 0; !rc && at < size;) {
        const uint32_t n = size - at < sizeof piece ? size - at : uint32_t(sizeof piece);
        rc = reg_get_value_data(value, at, piece, n);
        if (!rc)
            gost_r3411_94_update(ctx.get(), piece, n);
        at += n;
    }
    if (!rc)
        gost_r3411_94_final(ctx.get(), digest.data());
    return rc;
}

// __rcl_get_key_sd_hash: an absent descriptor is the empty message.
int security_digest(reg_key *key, rcl_digest &digest)
{
    uint32_t size = 0;
    int rc = reg_get_security_descriptor(key, nullptr, &size);
    if (rc)
        return rc;
    std::vector<uint8_t> sd(size);
    if (size && (rc = reg_get_security_descriptor(key, sd.data(), &size)))
        return rc;
    ctx_ptr ctx = new_context();
    if (!ctx)
        return REG_ERR_NOMEM;
    gost_r3411_94_update(ctx.get(), sd.data(), size);
    gost_r3411_94_final(ctx.get(), digest.data());
    return REG_OK;
}

int class_name(reg_key *key, std::optional<rcl_string> &name)
{
    uint32_t units;
    int rc = reg_get_class_name_size(key, &units);
    if (rc == REG_ERR_NOT_FOUND) {
        name.reset();
        return REG_OK;
    }
    if (rc)
        return rc;
    std::vector<reg_char> buf(units);
    rc = reg_get_class_name(key, buf.data(), units);
    if (!rc)
        name = rcl_string(reinterpret_cast<const char16_t *>(buf.data()), units - 1);
    return rc;
}

namespace {

// The key's contribution to outer (__rcl_key_hash).
int contribute(reg_key *key, uint16_t flags, walk_guard &guard, unsigned depth, gost_r3411_94_ctx *outer)
{
    int rc = guard.enter(key, depth);
    if (rc)
        return rc;
    ctx_ptr inner = new_context();
    if (!inner)
        return REG_ERR_NOMEM;
    if (flags & RCL_SUBTREE) {
        std::vector<std::pair<rcl_string, key_ptr>> subkeys;
        rc = list_subkeys(key, subkeys);
        for (size_t i = 0; !rc && i < subkeys.size(); ++i) {
            feed_name(inner.get(), subkeys[i].first);
            rc = contribute(subkeys[i].second.get(), flags, guard, depth + 1, inner.get());
        }
        if (rc)
            return rc;
    }
    std::vector<std::pair<rcl_string, value_ptr>> values;
    rc = list_values(key, values);
    for (size_t i = 0; !rc && i < values.size(); ++i) {
        feed_name(inner.get(), values[i].first);
        if (flags & RCL_VALUE_TYPE) {
            uint32_t type;
            rc = reg_get_value_type(values[i].second.get(), &type);
            feed_u32(inner.get(), type);
        }
        if (!rc && (flags & RCL_VALUE_DATA)) {
            rcl_digest d;
            rc = value_digest(values[i].second.get(), d);
            gost_r3411_94_update(inner.get(), d.data(), d.size());
        }
    }
    if (rc)
        return rc;
    rcl_digest d;
    gost_r3411_94_final(inner.get(), d.data());
    gost_r3411_94_update(outer, d.data(), d.size());
    if (flags & RCL_CLASS) {
        std::optional<rcl_string> cls;
        if ((rc = class_name(key, cls)))
            return rc;
        if (cls)
            feed_name(outer, *cls);
    }
    if (flags & RCL_TIMESTAMP) {
        uint64_t ts;
        if ((rc = reg_get_timestamp(key, &ts)))
            return rc;
        feed_u64(outer, ts);
    }
    if (flags & RCL_SECURITY) {
        if ((rc = security_digest(key, d)))
            return rc;
        gost_r3411_94_update(outer, d.data(), d.size());
    }
    return REG_OK;
}

} // namespace

int key_digest(reg_key *key, uint16_t flags, walk_guard &guard, rcl_digest &digest)
{
    ctx_ptr outer = new_context();
    if (!outer)
        return REG_ERR_NOMEM;
    int rc = contribute(key, flags, guard, 0, outer.get());
    if (!rc)
        gost_r3411_94_final(outer.get(), digest.data());
    return rc;
}

// init_key_node: values (and with RCL_SUBTREE the subkeys with their nodes
// and attributes), names sorted.
int build_key_node(reg_key *key, uint16_t flags, walk_guard &guard, unsigned depth, rcl_key_node &node)
{
    int rc = guard.enter(key, depth);
    if (rc)
        return rc;
    node = rcl_key_node{};
    if (flags & RCL_SUBTREE) {
        std::vector<std::pair<rcl_string, key_ptr>> subkeys;
        if ((rc = list_subkeys(key, subkeys)))
            return rc;
        node.subkeys.resize(subkeys.size());
        for (size_t i = 0; i < subkeys.size(); ++i) {
            reg_key *sub = subkeys[i].second.get();
            node.subkey_names.push_back(subkeys[i].first);
            if ((rc = build_key_node(sub, flags, guard, depth + 1, node.subkeys[i])))
                return rc;
            if (flags & RCL_CLASS) {
                node.classes.emplace_back();
                if ((rc = class_name(sub, node.classes.back())))
                    return rc;
            }
            if (flags & RCL_TIMESTAMP) {
                node.timestamps.push_back(0);
                if ((rc = reg_get_timestamp(sub, &node.timestamps.back())))
                    return rc;
            }
            if (flags & RCL_SECURITY) {
                node.security.emplace_back();
                if ((rc = security_digest(sub, node.security.back())))
                    return rc;
            }
        }
    }
    std::vector<std::pair<rcl_string, value_ptr>> values;
    if ((rc = list_values(key, values)))
        return rc;
    for (auto &v : values) {
        node.value_names.push_back(v.first);
        if (flags & RCL_VALUE_TYPE) {
            node.types.push_back(0);
            if ((rc = reg_get_value_type(v.second.get(), &node.types.back())))
                return rc;
        }
        if (flags & RCL_VALUE_DATA) {
            node.data.emplace_back();
            if ((rc = value_digest(v.second.get(), node.data.back())))
                return rc;
        }
    }
    return REG_OK;
}

} // namespace rcl_impl
