// The name space: mounts of hives on keys, paths and symbolic links.
#include "reg_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

const reg_char kLinkValue[] = {'S', 'y', 'm', 'b', 'o', 'l', 'i', 'c', 'L', 'i', 'n', 'k', 'V', 'a', 'l', 'u', 'e', 0};

// At most this many mounts are followed from one key (a hive mounted inside itself).
constexpr int kMaxMountSteps = 64;

bool is_sep(reg_char c)
{
    return c == '\\';
}

// The target of a link key as a UTF-16 path (units, no terminator).
int read_link_target(reg_key *key, std::vector<reg_char> &target)
{
    std::vector<uint8_t> bytes;
    int rc = reg_read_value_bytes(key, kLinkValue, reg_u16strlen(kLinkValue), REG_LINK, bytes);
    if (rc)
        return rc;
    // The path without its terminator; Windows itself stores links without one.
    size_t units = bytes.size() / 2;
    while (units && bytes[2 * units - 2] == 0 && bytes[2 * units - 1] == 0)
        --units;
    target.resize(units);
    for (size_t i = 0; i < units; ++i)
        target[i] = reg_char(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return REG_OK;
}

int space_root(reg *space, reg_key **key)
{
    int rc = space->root_hive->ops->get_root_key(space->root_hive, key);
    if (rc)
        return rc;
    return reg_follow_mount(key);
}

} // namespace

int reg_follow_mount(reg_key **key)
{
    for (int i = 0; (*key)->mount; ++i) {
        if (i == kMaxMountSteps)
            return REG_ERR_IO;
        reg_key *root;
        reg_hive *hive = (*key)->mount->hive;
        int rc = hive->ops->get_root_key(hive, &root);
        if (rc)
            return rc;
        reg_close_key(*key);
        *key = root;
    }
    return REG_OK;
}

namespace {

// Walks path (len units) from start; a link is resolved from the name-space
// root with the rest of the path appended.  steps links are already behind.
int open_path(reg *space, reg_key *start, const reg_char *path, size_t len, unsigned flags, int steps,
              reg_key **out)
{
    std::vector<reg_char> current(path, path + len);
    reg_key *key = start;
    reg_key_add_ref_common(key);
    int rc = reg_follow_mount(&key);
    if (rc) {
        reg_close_key(key);
        return rc;
    }
    size_t pos = 0;
    for (;;) {
        while (pos < current.size() && is_sep(current[pos]))
            ++pos;
        if (pos >= current.size())
            break;
        size_t end = pos;
        while (end < current.size() && !is_sep(current[end]))
            ++end;
        reg_key *next;
        rc = key->ops->open_subkey(key, current.data() + pos, end - pos, &next);
        reg_close_key(key);
        if (rc)
            return rc;
        key = next;
        rc = reg_follow_mount(&key);
        if (rc) {
            reg_close_key(key);
            return rc;
        }
        pos = end;
        size_t rest = pos;
        while (rest < current.size() && is_sep(current[rest]))
            ++rest;
        const bool more = rest < current.size();
        if (!key->ops->is_symlink(key) || (!more && (flags & REG_OPEN_LINK)))
            continue;
        if (++steps > REG_MAX_LINK_STEPS) {
            reg_close_key(key);
            return REG_ERR_IO;
        }
        reg *link_space = key->hive->space ? key->hive->space : space;
        std::vector<reg_char> target;
        rc = link_space ? read_link_target(key, target) : REG_ERR_NOT_FOUND;
        reg_close_key(key);
        if (rc)
            return rc;
        target.push_back('\\');
        target.insert(target.end(), current.begin() + long(pos), current.end());
        current.swap(target);
        pos = 0;
        rc = space_root(link_space, &key);
        if (rc)
            return rc;
        space = link_space;
    }
    *out = key;
    return REG_OK;
}

} // namespace

int reg_open_path(reg *space, reg_key *start, const reg_char *path, size_t len, unsigned flags, reg_key **out)
{
    return open_path(space, start, path, len, flags, 0, out);
}

// Takes over *key: on failure it is closed.
int reg_resolve_final(reg_key **key, unsigned flags)
{
    int rc = reg_follow_mount(key);
    if (rc)
        reg_close_key(*key);
    if (rc || !(*key)->ops->is_symlink(*key) || (flags & REG_OPEN_LINK))
        return rc;
    // The link's target, resolved from the name-space root.
    reg_key *k = *key;
    reg *space = k->hive->space;
    if (!space) {
        reg_close_key(k);
        return REG_ERR_NOT_FOUND;
    }
    std::vector<reg_char> target;
    rc = read_link_target(k, target);
    reg_close_key(k);
    if (rc)
        return rc;
    reg_key *root;
    rc = space_root(space, &root);
    if (rc)
        return rc;
    // The link just read is the first step of the chain.
    rc = open_path(space, root, target.data(), target.size(), 0, 1, key);
    reg_close_key(root);
    return rc;
}

int reg_create(reg **space)
{
    if (!space)
        return REG_ERR_INVAL;
    auto *s = new (std::nothrow) reg{};
    if (!s)
        return REG_ERR_NOMEM;
    auto *m = new (std::nothrow) reg_mount{};
    if (!m) {
        delete s;
        return REG_ERR_NOMEM;
    }
    int rc = reg_create_mem_hive(&m->hive);
    if (rc) {
        delete m;
        delete s;
        return rc;
    }
    m->hive->space = s;
    s->mounts = m;
    s->root_hive = m->hive;
    *space = s;
    return REG_OK;
}

namespace {

void drop_mount(reg *space, reg_mount *m)
{
    reg_mount **link = &space->mounts;
    while (*link && *link != m)
        link = &(*link)->next;
    if (*link)
        *link = m->next;
    if (m->point) {
        // Unchain it from its key.
        reg_mount **chain = &m->point->mount;
        while (*chain && *chain != m)
            chain = &(*chain)->previous;
        if (*chain)
            *chain = m->previous;
        reg_close_key(m->point);
    }
    if (m->hive->space == space)
        m->hive->space = nullptr;
    reg_close_hive(m->hive);
    delete m;
}

// Whether the mount's point lies in hive, or below key within its hive.
bool lies_below(const reg_mount *m, const reg_hive *hive, const reg_key *key)
{
    if (!m->point)
        return false;
    if (m->point->hive == hive)
        return true;
    for (const reg_key *k = m->point; k; k = k->parent)
        if (k == key)
            return true;
    return false;
}

// The UTF-16 form of a UTF-8 argument, terminated; REG_ERR_INVAL for null.
int u8_path(const char *path, reg_wide_ptr &out)
{
    reg_char *wide;
    int rc = reg_utf8_to_utf16_alloc(path, &wide);
    if (!rc)
        out.reset(wide);
    return rc;
}

// Calls call with the UTF-16 form of a UTF-8 path, or gives the conversion's code.
template <class Call>
int with_u16(const char *path, Call call)
{
    reg_wide_ptr wide;
    int rc = u8_path(path, wide);
    return rc ? rc : call(wide.get());
}

int open_abs(reg *space, const reg_char *path, size_t len, unsigned flags, reg_key **key)
{
    if (!len || !is_sep(path[0]))
        return REG_ERR_INVAL;
    reg_key *root;
    int rc = space->root_hive->ops->get_root_key(space->root_hive, &root);
    if (rc)
        return rc;
    rc = reg_open_path(space, root, path, len, flags, key);
    reg_close_key(root);
    return rc;
}

} // namespace

void reg_destroy(reg *space)
{
    if (!space)
        return;
    // Later mounts first, so that a chain unwinds in order; the root last.
    while (space->mounts && space->mounts->next) {
        reg_mount *last = space->mounts;
        while (last->next)
            last = last->next;
        drop_mount(space, last);
    }
    if (space->mounts)
        drop_mount(space, space->mounts);
    delete space;
}

int reg_mount_hive(reg *space, const reg_char *path, reg_hive *hive)
{
    if (!space || !path || !hive)
        return REG_ERR_INVAL;
    reg_key *point;
    int rc = open_abs(space, path, reg_u16strlen(path), REG_OPEN_LINK, &point);
    if (rc)
        return rc;
    auto *m = new (std::nothrow) reg_mount{};
    if (!m) {
        reg_close_key(point);
        return REG_ERR_NOMEM;
    }
    m->point = point;
    m->hive = hive;
    hive->ops->add_ref(hive);
    hive->space = space;
    m->previous = point->mount;
    point->mount = m;
    reg_mount **link = &space->mounts;
    while (*link)
        link = &(*link)->next;
    *link = m;
    return REG_OK;
}

int reg_mount_hive_u8(reg *space, const char *path, reg_hive *hive)
{
    return with_u16(path, [&](const reg_char *wide) { return reg_mount_hive(space, wide, hive); });
}

int reg_umount_hive(reg *space, const reg_char *path)
{
    if (!space || !path)
        return REG_ERR_INVAL;
    reg_key *point;
    int rc = open_abs(space, path, reg_u16strlen(path), REG_OPEN_LINK, &point);
    if (rc)
        return rc;
    // The key found may be the root of the mounted hive: find the mount
    // whose hive root it is, or whose point it is.
    reg_mount *target = nullptr;
    for (reg_mount *m = space->mounts; m; m = m->next)
        if (m->point && (m->point == point || m->hive->root == point))
            target = m;
    reg_close_key(point);
    if (!target)
        return REG_ERR_NOT_FOUND;
    // It and every mount below it, innermost first.
    std::vector<reg_mount *> doomed{target};
    for (size_t i = 0; i < doomed.size(); ++i)
        for (reg_mount *m = space->mounts; m; m = m->next)
            if (lies_below(m, doomed[i]->hive, doomed[i]->point)
                && std::find(doomed.begin(), doomed.end(), m) == doomed.end())
                doomed.push_back(m);
    for (size_t i = doomed.size(); i-- > 0;)
        drop_mount(space, doomed[i]);
    return REG_OK;
}

int reg_umount_hive_u8(reg *space, const char *path)
{
    return with_u16(path, [&](const reg_char *wide) { return reg_umount_hive(space, wide); });
}

int reg_open_key_by_abs_path(reg *space, const reg_char *path, unsigned flags, reg_key **key)
{
    if (!space || !path || !key)
        return REG_ERR_INVAL;
    return open_abs(space, path, reg_u16strlen(path), flags, key);
}

int reg_open_key_by_abs_path_u8(reg *space, const char *path, unsigned flags, reg_key **key)
{
    return with_u16(path, [&](const reg_char *wide) { return reg_open_key_by_abs_path(space, wide, flags, key); });
}

int reg_open_subkey(reg_key *key, const reg_char *path, unsigned flags, reg_key **subkey)
{
    if (!key || !path || !subkey)
        return REG_ERR_INVAL;
    return reg_open_path(key->hive->space, key, path, reg_u16strlen(path), flags, subkey);
}

int reg_open_subkey_u8(reg_key *key, const char *path, unsigned flags, reg_key **subkey)
{
    return with_u16(path, [&](const reg_char *wide) { return reg_open_subkey(key, wide, flags, subkey); });
}

namespace {

// Opens the existing components and makes the missing ones in memory.
int create_path(reg *space, reg_key *start, const reg_char *path, size_t len, const reg_char *class_name,
                unsigned flags, reg_key **out)
{
    reg_key *key = start;
    reg_key_add_ref_common(key);
    int rc = reg_follow_mount(&key);
    size_t pos = 0;
    while (!rc) {
        while (pos < len && is_sep(path[pos]))
            ++pos;
        if (pos >= len)
            break;
        size_t end = pos;
        while (end < len && !is_sep(path[end]))
            ++end;
        size_t rest = end;
        while (rest < len && is_sep(path[rest]))
            ++rest;
        const bool last = rest >= len;
        reg_key *next;
        // An existing component is opened as a path step (mounts, links but
        // the last); a missing one is made, never below a link.
        rc = reg_open_path(space, key, path + pos, end - pos, last ? REG_OPEN_LINK : 0, &next);
        if (rc == REG_ERR_NOT_FOUND)
            rc = key->ops->create_subkey(key, path + pos, end - pos, last ? class_name : nullptr,
                                         last ? flags : (flags & REG_KEY_VOLATILE), &next);
        if (rc)
            break;
        reg_close_key(key);
        key = next;
        pos = end;
    }
    if (rc) {
        reg_close_key(key);
        return rc;
    }
    if (out)
        *out = key;
    else
        reg_close_key(key);
    return REG_OK;
}

} // namespace

int reg_create_key_by_abs_path(reg *space, const reg_char *path, const reg_char *class_name, unsigned flags,
                               reg_key **key)
{
    if (!space || !path)
        return REG_ERR_INVAL;
    const size_t len = reg_u16strlen(path);
    if (!len || !is_sep(path[0]))
        return REG_ERR_INVAL;
    reg_key *root;
    int rc = space->root_hive->ops->get_root_key(space->root_hive, &root);
    if (rc)
        return rc;
    rc = create_path(space, root, path, len, class_name, flags, key);
    reg_close_key(root);
    return rc;
}

int reg_create_key_by_abs_path_u8(reg *space, const char *path, const char *class_name, unsigned flags,
                                  reg_key **key)
{
    reg_wide_ptr wide, wide_class;
    int rc = u8_path(path, wide);
    if (!rc && class_name)
        rc = u8_path(class_name, wide_class);
    if (rc)
        return rc;
    return reg_create_key_by_abs_path(space, wide.get(), wide_class.get(), flags, key);
}

int reg_create_subkey(reg_key *key, const reg_char *path, const reg_char *class_name, unsigned flags,
                      reg_key **subkey)
{
    if (!key || !path)
        return REG_ERR_INVAL;
    const size_t len = reg_u16strlen(path);
    if (!len || is_sep(path[0]))
        return REG_ERR_INVAL;
    return create_path(key->hive->space, key, path, len, class_name, flags, subkey);
}

int reg_create_subkey_u8(reg_key *key, const char *path, const char *class_name, unsigned flags, reg_key **subkey)
{
    reg_wide_ptr wide, wide_class;
    int rc = u8_path(path, wide);
    if (!rc && class_name)
        rc = u8_path(class_name, wide_class);
    if (rc)
        return rc;
    return reg_create_subkey(key, wide.get(), wide_class.get(), flags, subkey);
}

namespace {

// Deletes the key and closes it.
int delete_and_close(reg_key *key)
{
    int rc = reg_delete_key(key);
    reg_close_key(key);
    return rc;
}

} // namespace

int reg_delete_subkey(reg_key *key, const reg_char *path)
{
    reg_key *sub;
    int rc = reg_open_subkey(key, path, REG_OPEN_LINK, &sub);
    return rc ? rc : delete_and_close(sub);
}

int reg_delete_subkey_u8(reg_key *key, const char *path)
{
    return with_u16(path, [&](const reg_char *wide) { return reg_delete_subkey(key, wide); });
}

int reg_delete_key_by_abs_path(reg *space, const reg_char *path)
{
    reg_key *key;
    int rc = reg_open_key_by_abs_path(space, path, REG_OPEN_LINK, &key);
    return rc ? rc : delete_and_close(key);
}

int reg_delete_key_by_abs_path_u8(reg *space, const char *path)
{
    return with_u16(path, [&](const reg_char *wide) { return reg_delete_key_by_abs_path(space, wide); });
}

size_t reg_get_problem_count(const reg *space)
{
    return space ? space->problems.size() : 0;
}

int reg_get_problem(const reg *space, size_t index, reg_problem *problem)
{
    if (!space || !problem || index >= space->problems.size())
        return REG_ERR_INVAL;
    const reg_problem_record &r = space->problems[index];
    problem->kind = r.kind;
    problem->subject = r.subject.c_str();
    problem->detail = r.has_detail ? r.detail.c_str() : nullptr;
    return REG_OK;
}
