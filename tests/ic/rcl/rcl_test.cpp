// The registry check list against name spaces that change under it.
#include "ic/rcl/rcl.h"
#include "log_build.h"
#include "reg_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using regtest::w;
using simcomputer::utf16;

// A name space made in memory, or with hive files mounted in it.
class Space {
public:
    Space() { EXPECT_EQ(reg_create(&space_), REG_OK); }
    ~Space() { reg_destroy(space_); }
    reg *get() const { return space_; }

    void key(const char *path, const char *class_name = nullptr)
    {
        ASSERT_EQ(reg_create_key_by_abs_path_u8(space_, path, class_name, 0, nullptr), REG_OK) << path;
    }
    void value(const char *path, const char *name, uint32_t type, const std::string &data)
    {
        reg_key *k;
        ASSERT_EQ(reg_create_key_by_abs_path_u8(space_, path, nullptr, 0, &k), REG_OK);
        reg_value *old;
        if (reg_open_value_u8(k, name, &old) == REG_OK) {
            reg_delete_value(old);
            reg_close_value(old);
        }
        ASSERT_EQ(reg_create_value_u8(k, name, type, data.data(), uint32_t(data.size()), nullptr), REG_OK);
        reg_close_key(k);
    }
    void remove_value(const char *path, const char *name)
    {
        reg_key *k;
        reg_value *v;
        ASSERT_EQ(reg_open_key_by_abs_path_u8(space_, path, 0, &k), REG_OK);
        ASSERT_EQ(reg_open_value_u8(k, name, &v), REG_OK);
        EXPECT_EQ(reg_delete_value(v), REG_OK);
        reg_close_value(v);
        reg_close_key(k);
    }
    void remove_key(const char *path) { ASSERT_EQ(reg_delete_key_by_abs_path_u8(space_, path), REG_OK) << path; }
    void mount(const char *path, const std::string &file)
    {
        reg_hive *hive;
        ASSERT_EQ(reg_create_file_hive(file.c_str(), &hive), REG_OK);
        key(path);
        ASSERT_EQ(reg_mount_hive_u8(space_, path, hive), REG_OK);
        reg_close_hive(hive);
    }

private:
    reg *space_ = nullptr;
};

struct Item {
    std::string path, value; // value "-" for key-level items
    uint32_t flags;
    bool operator==(const Item &o) const { return path == o.path && value == o.value && flags == o.flags; }
};

std::ostream &operator<<(std::ostream &os, const Item &i)
{
    return os << "{" << i.path << " : " << i.value << " : " << std::hex << i.flags << "}";
}

std::string u8(const rcl_string &s)
{
    std::vector<reg_char> units(s.begin(), s.end());
    units.push_back(0);
    return regtest::u8(units.data());
}

// The check's results: value results as items with the key path, and the
// items of every key entry.
struct Outcome {
    int rc;
    std::vector<Item> values;
    std::vector<std::pair<std::string, std::vector<Item>>> keys;
};

Outcome check(const rcl *list, reg *space)
{
    Outcome out{};
    rcl_check_info *info = nullptr;
    out.rc = rcl_check_info_create(list, space, &info);
    if (out.rc)
        return out;
    for (const rcl_check_value *v = rcl_check_first_value(info); v; v = rcl_check_next_value(v))
        out.values.push_back({u8(v->entry->path), u8(v->entry->name), v->flags});
    for (const rcl_check_key *k = rcl_check_first_key(info); k; k = rcl_check_next_key(k)) {
        out.keys.emplace_back(u8(k->entry->path), std::vector<Item>{});
        for (const rcl_key_item *i = rcl_check_first_key_item(k); i; i = rcl_check_next_key_item(k, i))
            out.keys.back().second.push_back({u8(i->path), i->value ? u8(*i->value) : "-", i->flags});
    }
    EXPECT_EQ(info->value_count, out.values.size());
    EXPECT_EQ(info->key_count, out.keys.size());
    rcl_check_info_destroy(info);
    return out;
}

struct List {
    List() { EXPECT_EQ(rcl_create(&list), REG_OK); }
    ~List() { rcl_destroy(list); }
    rcl *list = nullptr;
};

std::string dword(uint32_t v)
{
    return std::string(reinterpret_cast<const char *>(simcomputer::reg_dword(v).data()), 4);
}

TEST(RclValues, RemovedChangedAndTypeOnlyEntries)
{
    Space s;
    s.value("\\R\\Gone", "V", REG_DWORD, dword(1));
    s.value("\\R\\K", "Data", REG_DWORD, dword(1));
    s.value("\\R\\K", "TypeOnly", REG_DWORD, dword(1));
    s.value("\\R\\K", "Retyped", REG_DWORD, dword(1));
    List l;
    ASSERT_EQ(rcl_add_value_u8(l.list, s.get(), "\\R\\Gone", "V", 0x60, nullptr), REG_OK);
    ASSERT_EQ(rcl_add_value_u8(l.list, s.get(), "\\R\\K", "Data", 0x60, nullptr), REG_OK);
    ASSERT_EQ(rcl_add_value_u8(l.list, s.get(), "\\R\\K", "TypeOnly", 0x20, nullptr), REG_OK);
    ASSERT_EQ(rcl_add_value_u8(l.list, s.get(), "\\r\\k", "retyped", 0x60, nullptr), REG_OK);
    EXPECT_EQ(rcl_add_value_u8(l.list, s.get(), "\\R\\K", "Missing", 0x60, nullptr), REG_ERR_NOT_FOUND);
    EXPECT_EQ(l.list->value_count, 4u);
    Outcome same = check(l.list, s.get());
    EXPECT_EQ(same.rc, REG_OK);
    EXPECT_TRUE(same.values.empty());

    s.remove_key("\\R\\Gone");
    s.value("\\R\\K", "Data", REG_DWORD, dword(2));
    s.value("\\R\\K", "TypeOnly", REG_DWORD, dword(2));
    s.value("\\R\\K", "Retyped", REG_BINARY, dword(2));
    Outcome changed = check(l.list, s.get());
    ASSERT_EQ(changed.rc, REG_OK);
    // In the list's order: by key path, then value name, without case.
    EXPECT_EQ(changed.values, (std::vector<Item>{{"\\R\\Gone", "V", RCL_VALUE_REMOVED},
                                                 {"\\R\\K", "Data", RCL_VALUE_DATA_MODIFIED},
                                                 {"\\r\\k", "retyped", RCL_VALUE_TYPE_CHANGED | RCL_VALUE_DATA_MODIFIED}}));
}

TEST(RclKeys, DetailedEntryReportsNewSubkeyAndRemovedValue)
{
    Space s;
    s.key("\\R\\Top\\Alpha\\Deep");
    s.value("\\R\\Top", "Old", REG_SZ, "a");
    s.value("\\R\\Top", "Kept", REG_SZ, "k");
    s.value("\\R\\Top\\Alpha\\Deep", "D", REG_SZ, "d");
    List l;
    ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\R\\Top", 0x01 | 0x02 | 0x20 | 0x40, nullptr), REG_OK);
    EXPECT_TRUE(check(l.list, s.get()).keys.empty());

    s.key("\\R\\Top\\New");
    s.remove_value("\\R\\Top", "Old");
    Outcome o = check(l.list, s.get());
    ASSERT_EQ(o.rc, REG_OK);
    ASSERT_EQ(o.keys.size(), 1u);
    EXPECT_EQ(o.keys[0].second, (std::vector<Item>{{"\\New", "-", RCL_KEY_NEW}, {"", "Old", RCL_VALUE_REMOVED}}));

    // Alpha renamed alpha is the same key in the merge.
    s.remove_key("\\R\\Top\\New");
    s.value("\\R\\Top", "Old", REG_SZ, "a");
    s.remove_key("\\R\\Top\\Alpha");
    s.value("\\R\\Top\\alpha\\deep", "d", REG_SZ, "d");
    EXPECT_TRUE(check(l.list, s.get()).keys.empty());

    // A deep change is reported at its place; a removed sub-tree once.
    s.value("\\R\\Top\\alpha\\deep", "d", REG_SZ, "changed");
    s.value("\\R\\Top\\alpha\\deep", "Added", REG_SZ, "x");
    o = check(l.list, s.get());
    ASSERT_EQ(o.keys.size(), 1u);
    EXPECT_EQ(o.keys[0].second, (std::vector<Item>{{"\\alpha\\deep", "Added", RCL_VALUE_NEW},
                                                   {"\\alpha\\deep", "d", RCL_VALUE_DATA_MODIFIED}}));
    s.remove_key("\\R\\Top\\alpha");
    o = check(l.list, s.get());
    EXPECT_EQ(o.keys[0].second, (std::vector<Item>{{"\\Alpha", "-", RCL_KEY_REMOVED}}));
    s.remove_key("\\R\\Top");
    o = check(l.list, s.get());
    EXPECT_EQ(o.keys[0].second, (std::vector<Item>{{"", "-", RCL_KEY_REMOVED}}));
}

TEST(RclKeys, DigestOnlyEntryGivesOneItemForAnyDeepChange)
{
    Space s;
    s.value("\\R\\Top\\A\\B\\C", "V", REG_BINARY, "1");
    s.value("\\R\\Top\\A", "W", REG_BINARY, "2");
    List l;
    ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\R\\Top", 0x02 | 0x20 | 0x40, nullptr), REG_OK);
    EXPECT_TRUE(check(l.list, s.get()).keys.empty());
    const std::vector<Item> root_hash{{"", "-", RCL_KEY_ROOT_HASH}};
    s.value("\\R\\Top\\A\\B\\C", "V", REG_BINARY, "9");
    Outcome o = check(l.list, s.get());
    ASSERT_EQ(o.keys.size(), 1u);
    EXPECT_EQ(o.keys[0].second, root_hash);
    s.value("\\R\\Top\\A\\B\\C", "V", REG_BINARY, "1");
    s.key("\\R\\Top\\A\\B\\C\\D");
    EXPECT_EQ(check(l.list, s.get()).keys.at(0).second, root_hash);
    // Without the sub-tree flag the subkeys do not count.
    List shallow;
    ASSERT_EQ(rcl_add_key_u8(shallow.list, s.get(), "\\R\\Top", 0x20 | 0x40, nullptr), REG_OK);
    s.key("\\R\\Top\\Other");
    EXPECT_TRUE(check(shallow.list, s.get()).keys.empty());
}

TEST(RclKeys, ClassNames)
{
    Space s;
    s.key("\\R\\Plain\\Sub");
    s.key("\\R\\Classy", "cls");
    List l;
    rcl_key_entry *with_class, *without_class;
    // A key without class adds nothing to the digest under the class flag.
    ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\R\\Plain", 0x06, &with_class), REG_OK);
    const rcl_digest with = with_class->digest;
    ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\R\\Plain", 0x02, &without_class), REG_OK);
    EXPECT_EQ(with, without_class->digest);
    EXPECT_EQ(l.list->key_count, 1u); // the same path replaced
    ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\R\\Plain", 0x07, nullptr), REG_OK);
    ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\R\\Classy", 0x05, nullptr), REG_OK);
    EXPECT_FALSE(rcl_find_key_u8(l.list, "\\r\\plain")->class_name.has_value());
    EXPECT_TRUE(check(l.list, s.get()).keys.empty());
    // The class appears below the detailed entry, and differs on the other.
    s.remove_key("\\R\\Plain\\Sub");
    s.key("\\R\\Plain\\Sub", "new");
    s.remove_key("\\R\\Classy");
    s.key("\\R\\Classy", "CLS"); // same class without case
    Outcome o = check(l.list, s.get());
    ASSERT_EQ(o.keys.size(), 1u);
    EXPECT_EQ(o.keys[0], (std::pair<std::string, std::vector<Item>>{"\\R\\Plain", {{"\\Sub", "-", RCL_KEY_CLASS}}}));
    s.remove_key("\\R\\Classy");
    s.key("\\R\\Classy");
    EXPECT_EQ(check(l.list, s.get()).keys.at(0).second, (std::vector<Item>{{"", "-", RCL_KEY_CLASS}}));
}

TEST(RclKeys, TimestampsAndDescriptorsOfHiveFiles)
{
    simtest::TempDir dir("orva-rcl");
    simcomputer::RegHive h;
    h.root.child(u"Top\\Sub").value(u"V").data = {1, 2, 3, 4, 5};
    const std::string before = regtest::write_file(dir, "before", simcomputer::write_regf(h));
    h.root.child(u"Top\\Sub").timestamp += 1;
    h.root.child(u"Top").security = std::vector<uint8_t>{1, 0, 4, 0x80};
    const std::string after = regtest::write_file(dir, "after", simcomputer::write_regf(h));
    List l;
    {
        Space s;
        s.mount("\\H", before);
        ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\H\\Top", 0x7F, nullptr), REG_OK);
        ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\H", 0x1A, nullptr), REG_OK);
        EXPECT_TRUE(check(l.list, s.get()).keys.empty());
    }
    Space s;
    s.mount("\\H", after);
    Outcome o = check(l.list, s.get());
    ASSERT_EQ(o.keys.size(), 2u);
    EXPECT_EQ(o.keys[0].second, (std::vector<Item>{{"", "-", RCL_KEY_ROOT_HASH}}));
    EXPECT_EQ(o.keys[1].second, (std::vector<Item>{{"", "-", RCL_KEY_SECURITY_DESCRIPTOR},
                                                   {"\\Sub", "-", RCL_KEY_TIMESTAMP}}));
}

// A value written only into a transaction log is checked as the hive
// Windows will load: the same result as the hive with the log folded in.
TEST(RclKeys, ChangesWaitingInALogAreChecked)
{
    simtest::TempDir dir("orva-rcl");
    simcomputer::RegHive h;
    h.root.child(u"Run").value(u"Agent") = {u"Agent", {}, REG_SZ, {'a', 0, 0, 0}, {}};
    const std::vector<uint8_t> before = simcomputer::write_regf(h);
    h.root.child(u"Run").value(u"Evil") = {u"Evil", {}, REG_SZ, {'e', 0, 0, 0}, {}};
    const std::vector<uint8_t> after = simcomputer::write_regf(h);
    List l;
    {
        Space s;
        s.mount("\\H", regtest::write_file(dir, "listed", before));
        ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\H\\Run", 0x7F, nullptr), REG_OK);
    }
    const regtest::LogEntry to_after{10, regtest::get32(after, 40), regtest::changed_pages(after, before)};
    struct Case {
        const char *name;
        std::vector<uint8_t> hive, log;
        std::vector<Item> items;
    };
    const std::vector<Item> evil{{"", "Evil", RCL_VALUE_NEW}};
    const Case cases[] = {
        {"the value only in the log", regtest::with_sequence(before, 11, 10), regtest::new_log(after, 10, {to_after}),
         evil},
        {"the log folded in", after, {}, evil},
        {"a stale log beside a clean hive", before, regtest::new_log(after, 1, {{1, to_after.bins_size, to_after.pages}}),
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        simtest::TempDir files("orva-rcl-case");
        const std::string hive = regtest::write_file(files, "NTUSER.DAT", c.hive);
        if (!c.log.empty())
            regtest::write_file(files, "ntuser.dat.LOG1", c.log);
        Space s;
        s.mount("\\H", hive);
        Outcome o = check(l.list, s.get());
        ASSERT_EQ(o.rc, REG_OK);
        if (c.items.empty()) {
            EXPECT_TRUE(o.keys.empty());
        } else {
            ASSERT_EQ(o.keys.size(), 1u);
            EXPECT_EQ(o.keys[0].second, c.items);
        }
    }
}

TEST(RclKeys, CyclesInHiveFilesEndAddAndCheckWithACode)
{
    simtest::TempDir dir("orva-rcl");
    simcomputer::RegHive h;
    h.root.child(u"Top\\A");
    h.root.child(u"Top\\B");
    std::vector<uint8_t> bytes = simcomputer::write_regf(h);
    const std::string good = regtest::write_file(dir, "good", bytes);
    // Top's list names A twice (twice), or names Top itself (cycle).
    auto get = [&](size_t at) { return uint32_t(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24); };
    const uint32_t root = get(36);
    const uint32_t top = get(4096 + 4 + get(4096 + 4 + root + 28) + 4);
    const size_t elements = 4096 + 4 + get(4096 + 4 + top + 28) + 4;
    std::vector<uint8_t> twice = bytes, cycle = bytes;
    for (int i = 0; i < 4; ++i) {
        twice[elements + 8 + i] = bytes[elements + i];
        cycle[elements + 8 + i] = uint8_t(top >> (8 * i));
    }
    const struct {
        const char *name;
        std::vector<uint8_t> *image;
        uint16_t flags;
    } cases[] = {{"twice", &twice, 0x02}, {"cycle", &cycle, 0x02}, {"cycle", &cycle, 0x03}};
    for (const auto &c : cases) {
        List l;
        {
            Space s;
            s.mount("\\H", good);
            ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\H\\Top", c.flags, nullptr), REG_OK);
        }
        Space s;
        s.mount("\\H", regtest::write_file(dir, c.name, *c.image));
        EXPECT_EQ(rcl_add_key_u8(l.list, s.get(), "\\H\\Top", c.flags, nullptr), REG_ERR_FORMAT) << c.name;
        EXPECT_EQ(check(l.list, s.get()).rc, REG_ERR_FORMAT) << c.name;
    }
}

TEST(RclImage, LayoutRoundTripAndTruncation)
{
    Space s;
    s.value("\\K", "V", REG_DWORD, dword(1));
    List one;
    ASSERT_EQ(rcl_add_value_u8(one.list, s.get(), "\\K", "V", 0x20, nullptr), REG_OK);
    uint8_t *data;
    uint32_t size;
    ASSERT_EQ(rcl_write_to_mem(one.list, &data, &size), REG_OK);
    const std::vector<uint8_t> golden = {1, 0, 0, 0, 2, 0, '\\', 0, 'K', 0, 1, 0, 'V', 0, 0x20, 0, 4, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), golden);
    std::free(data);

    s.key("\\T\\Sub\\Deeper", "cls");
    s.value("\\T\\Sub", "X", REG_SZ, "x");
    List l;
    ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\T", 0x7F, nullptr), REG_OK);
    ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), "\\T\\Sub", 0x5E, nullptr), REG_OK);
    ASSERT_EQ(rcl_add_value_u8(l.list, s.get(), "\\K", "V", 0x60, nullptr), REG_OK);
    ASSERT_EQ(rcl_write_to_mem(l.list, &data, &size), REG_OK);
    const std::vector<uint8_t> image(data, data + size);
    std::free(data);
    rcl *back;
    ASSERT_EQ(rcl_read_from_mem(image.data(), size, &back), REG_OK);
    ASSERT_EQ(rcl_write_to_mem(back, &data, &size), REG_OK);
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), image);
    std::free(data);
    EXPECT_TRUE(check(back, s.get()).keys.empty());
    s.key("\\T\\Sub\\New");
    EXPECT_EQ(check(back, s.get()).keys.size(), 2u);
    rcl_destroy(back);
    for (uint32_t n = 0; n < image.size(); ++n) {
        rcl *cut = nullptr;
        EXPECT_EQ(rcl_read_from_mem(image.data(), n, &cut), REG_ERR_IO) << n;
    }
}

TEST(RclList, FindRemoveAndOrder)
{
    Space s;
    for (const char *p : {"\\b", "\\A", "\\c"})
        s.value(p, "v", REG_SZ, "x");
    List l;
    for (const char *p : {"\\b", "\\A", "\\c"}) {
        ASSERT_EQ(rcl_add_key_u8(l.list, s.get(), p, 0x60, nullptr), REG_OK);
        ASSERT_EQ(rcl_add_value_u8(l.list, s.get(), p, "v", 0x60, nullptr), REG_OK);
    }
    std::vector<std::string> order;
    for (const rcl_key_entry *e = rcl_first_key(l.list); e; e = rcl_next_key(e))
        order.push_back(u8(e->path));
    EXPECT_EQ(order, (std::vector<std::string>{"\\A", "\\b", "\\c"}));
    EXPECT_NE(rcl_find_value_u8(l.list, "\\B", "V"), nullptr);
    EXPECT_EQ(rcl_remove_value_u8(l.list, "\\B", "V"), REG_OK);
    EXPECT_EQ(rcl_remove_value_u8(l.list, "\\B", "V"), RCL_ERR_NOT_FOUND);
    EXPECT_EQ(rcl_remove_key_u8(l.list, "\\a"), REG_OK);
    EXPECT_EQ(rcl_remove_key_u8(l.list, "\\a"), RCL_ERR_NOT_FOUND);
    EXPECT_EQ(l.list->key_count, 2u);
    EXPECT_EQ(l.list->value_count, 2u);
    EXPECT_EQ(rcl_add_key_u8(l.list, s.get(), "\\Missing", 0x7F, nullptr), REG_ERR_NOT_FOUND);
    EXPECT_EQ(l.list->key_count, 2u);
}

} // namespace
