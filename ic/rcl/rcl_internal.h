// Pieces shared by the units of the registry check list.
#ifndef IC_RCL_RCL_INTERNAL_H
#define IC_RCL_RCL_INTERNAL_H

#include "ic/rcl/rcl.h"
#include "ic/util/log.h"
#include "gost/gost_r3411_94.h"

#include <memory>
#include <set>
#include <utility>

namespace rcl_impl {

inline const reg_char *wide(const rcl_string &s)
{
    return reinterpret_cast<const reg_char *>(s.c_str());
}

inline int compare(const rcl_string &a, const rcl_string &b)
{
    return reg_u16strncasecmp2(wide(a), a.size(), wide(b), b.size());
}

struct ctx_free {
    void operator()(gost_r3411_94_ctx *c) const { gost_r3411_94_free_context(c); }
};
using ctx_ptr = std::unique_ptr<gost_r3411_94_ctx, ctx_free>;

// A new context initialised with the CryptoPro parameters, or null.
ctx_ptr new_context();
void feed_name(gost_r3411_94_ctx *ctx, const rcl_string &name); // UTF-16LE with the 0 unit
void feed_u32(gost_r3411_94_ctx *ctx, uint32_t v);
void feed_u64(gost_r3411_94_ctx *ctx, uint64_t v);

struct key_closer {
    void operator()(reg_key *k) const { reg_close_key(k); }
};
struct value_closer {
    void operator()(reg_value *v) const { reg_close_value(v); }
};
using key_ptr = std::unique_ptr<reg_key, key_closer>;
using value_ptr = std::unique_ptr<reg_value, value_closer>;

// Subkeys and values of a key, sorted by name (links not followed).
int list_subkeys(reg_key *key, std::vector<std::pair<rcl_string, key_ptr>> &out);
int list_values(reg_key *key, std::vector<std::pair<rcl_string, value_ptr>> &out);

// Keys met on one walk; a key met twice or too deep is a malformed registry.
struct walk_guard {
    std::set<std::pair<const void *, uint32_t>> seen;
    int enter(reg_key *key, unsigned depth);
};

int value_digest(reg_value *value, rcl_digest &digest);
int security_digest(reg_key *key, rcl_digest &digest);
int class_name(reg_key *key, std::optional<rcl_string> &name);
int key_digest(reg_key *key, uint16_t flags, walk_guard &guard, rcl_digest &digest);
int build_key_node(reg_key *key, uint16_t flags, walk_guard &guard, unsigned depth, rcl_key_node &node);

// First and next records of an ordered set.
template <typename T>
T *first(const rb_root *tree)
{
    rb_node *n = tree ? rb_first(tree) : nullptr;
    return n ? rb_entry(n, T, node) : nullptr;
}

template <typename T>
T *next(const T *item)
{
    rb_node *n = item ? rb_next(&item->node) : nullptr;
    return n ? rb_entry(n, T, node) : nullptr;
}

// The UTF-16 form of a UTF-8 string.
int from_u8(const char *s, rcl_string &out);

} // namespace rcl_impl

// Links an entry into the list, replacing one with the same path (and name).
void rcl_insert_key(rcl *list, rcl_key_entry *e);
void rcl_insert_value(rcl *list, rcl_value_entry *e);

#endif
