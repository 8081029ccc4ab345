// Reading every key and value of a hive the way a careful caller does:
// enumerators, a visited set against cycles, every value's data, every
// class name and security descriptor.  Shared by the tests and the fuzz target.
#ifndef TESTS_IC_REG_WALK_H
#define TESTS_IC_REG_WALK_H

#include "ic/reg/reg.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace regtest {

inline std::string u8(const reg_char *s)
{
    char *text = nullptr;
    std::string out;
    if (reg_utf16_to_utf8_alloc(s, &text) == REG_OK)
        out = text;
    reg_free_string_u8(text);
    return out;
}

struct Value {
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    bool operator==(const Value &o) const { return name == o.name && type == o.type && data == o.data; }
};

struct Key {
    std::string path; // "" for the root, "\A\B" below it
    std::vector<Value> values;
    bool operator==(const Key &o) const { return path == o.path && values == o.values; }
};

inline int read_value(reg_value *v, Value &out)
{
    const reg_char *name;
    uint32_t size;
    int rc = reg_get_value_name(v, &name);
    if (!rc)
        rc = reg_get_value_type(v, &out.type);
    if (!rc)
        rc = reg_get_value_data_size(v, &size);
    if (rc)
        return rc;
    out.name = u8(name);
    // Read piece by piece: a hostile size is never allocated ahead.
    out.data.clear();
    for (uint32_t at = 0; at < size;) {
        const uint32_t n = size - at < 65536 ? size - at : 65536;
        out.data.resize(size_t(at) + n);
        if ((rc = reg_get_value_data(v, at, out.data.data() + at, n)))
            return rc;
        at += n;
    }
    return REG_OK;
}

inline int read_values(reg_key *key, std::vector<Value> &values)
{
    reg_value_enum *en;
    int rc = reg_create_value_enum(key, &en);
    if (rc)
        return rc;
    reg_value *v;
    while ((rc = reg_get_next_enum_value(en, &v)) == REG_OK) {
        values.emplace_back();
        rc = read_value(v, values.back());
        reg_close_value(v);
        if (rc)
            break;
    }
    reg_destroy_value_enum(en);
    return rc == REG_ERR_NOT_FOUND ? REG_OK : rc;
}

// Every key below key, depth first in enumeration order.  A key met twice
// ends the walk with REG_ERR_FORMAT.
inline int walk(reg_key *root, std::vector<Key> &keys)
{
    struct Frame {
        reg_key *key;
        reg_key_enum *en;
        std::string path;
    };
    std::set<std::pair<const void *, uint32_t>> seen;
    std::vector<Frame> stack;
    auto visit = [&](reg_key *key, const std::string &path) -> int {
        const void *hive;
        uint32_t cell;
        reg_get_key_identity(key, &hive, &cell);
        if (!seen.insert({hive, cell}).second)
            return REG_ERR_FORMAT;
        keys.push_back({path, {}});
        int rc = read_values(key, keys.back().values);
        uint32_t size = 0;
        if (!rc)
            rc = reg_get_security_descriptor(key, nullptr, &size);
        std::vector<uint8_t> sd(size);
        if (!rc && size)
            rc = reg_get_security_descriptor(key, sd.data(), &size);
        char *class_name = nullptr;
        if (!rc && (rc = reg_get_class_name_u8(key, &class_name)) == REG_ERR_NOT_FOUND)
            rc = REG_OK;
        reg_free_string_u8(class_name);
        reg_key_enum *en = nullptr;
        if (!rc)
            rc = reg_create_key_enum(key, REG_OPEN_LINK, &en);
        if (rc)
            return rc;
        reg_key_add_ref(key);
        stack.push_back({key, en, path});
        return REG_OK;
    };
    int rc = visit(root, "");
    while (!rc && !stack.empty()) {
        reg_char *name;
        reg_key *key;
        rc = reg_get_next_enum_key(stack.back().en, &name, &key);
        if (rc == REG_ERR_NOT_FOUND) {
            rc = REG_OK;
            reg_destroy_key_enum(stack.back().en);
            reg_close_key(stack.back().key);
            stack.pop_back();
            continue;
        }
        if (rc)
            break;
        std::string path = stack.back().path + "\\" + u8(name);
        reg_free_name(name);
        rc = visit(key, path);
        reg_close_key(key);
    }
    for (Frame &f : stack) {
        reg_destroy_key_enum(f.en);
        reg_close_key(f.key);
    }
    return rc;
}

// Opens the file, walks it and closes it; the first failing code.
inline int walk_file(const std::string &path, std::vector<Key> *keys = nullptr)
{
    reg_hive *hive;
    int rc = reg_create_file_hive(path.c_str(), &hive);
    if (rc)
        return rc;
    reg_key *root;
    rc = reg_get_root_key(hive, &root);
    std::vector<Key> local;
    if (!rc) {
        rc = walk(root, keys ? *keys : local);
        reg_close_key(root);
    }
    reg_close_hive(hive);
    return rc;
}

} // namespace regtest

#endif
