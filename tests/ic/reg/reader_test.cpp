// The hive reader through its API: paths, links, mounts, value data, names,
// classes and descriptors, keys made in memory.
#include "reg_support.h"
#include "sample.h"

#include "sim_root.h"

#include <gtest/gtest.h>

namespace {

using namespace regtest;
using simcomputer::RegHive;
using simcomputer::RegKey;
using simcomputer::RegValue;

std::u16string utf16(const std::string &s)
{
    return simcomputer::utf16(s);
}

struct Identity {
    const void *hive = nullptr;
    uint32_t cell = 0;
    bool operator==(const Identity &o) const { return hive == o.hive && cell == o.cell; }
};

Identity identity(reg_key *key)
{
    Identity id;
    reg_get_key_identity(key, &id.hive, &id.cell);
    return id;
}

std::vector<std::string> value_names(reg_key *key)
{
    std::vector<Value> values;
    EXPECT_EQ(read_values(key, values), REG_OK);
    std::vector<std::string> names;
    for (const auto &v : values)
        names.push_back(v.name);
    return names;
}

class WindowsRegistry : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = simtest::build_root(dir_, kSampleWindows);
        ASSERT_EQ(create_winreg((root_ + "/Windows/").c_str(), &space_), REG_OK);
    }
    void TearDown() override { reg_destroy(space_); }

    int open(const char *path, unsigned flags, reg_key **key)
    {
        return reg_open_key_by_abs_path_u8(space_, path, flags, key);
    }
    Identity id_of(const char *path)
    {
        reg_key *key = nullptr;
        EXPECT_EQ(open(path, 0, &key), REG_OK) << path;
        Identity id = key ? identity(key) : Identity{};
        reg_close_key(key);
        return id;
    }

    simtest::TempDir dir_{"orva-reg"};
    std::string root_;
    reg *space_ = nullptr;
};

TEST_F(WindowsRegistry, PathsWithDoubledSeparatorsCaseAndTwoLinksReachTheSameKey)
{
    const Identity services = id_of("\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001\\Services");
    ASSERT_NE(services.cell, 0xFFFFFFFFu);
    EXPECT_EQ(id_of("\\\\REGISTRY\\\\\\MACHINE\\SYSTEM\\\\ControlSet001\\Services\\\\"), services);
    EXPECT_EQ(id_of("\\registry\\machine\\system\\CONTROLSET001\\services"), services);
    // HKEY_LOCAL_MACHINE and CurrentControlSet are both links.
    EXPECT_EQ(id_of("\\HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services"), services);
    EXPECT_EQ(id_of("\\HKEY_CURRENT_CONFIG"),
              id_of("\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001\\Hardware Profiles\\0001"));
    // A link stored in the hive file is followed too.
    EXPECT_EQ(id_of("\\REGISTRY\\MACHINE\\SYSTEM\\Link"), id_of("\\REGISTRY\\MACHINE\\SYSTEM\\Select"));
}

TEST_F(WindowsRegistry, FlagFourOpensTheLinkItself)
{
    reg_key *link;
    ASSERT_EQ(open("\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet", REG_OPEN_LINK, &link), REG_OK);
    EXPECT_EQ(reg_is_symlink(link), 1);
    EXPECT_EQ(value_names(link), std::vector<std::string>{"SymbolicLinkValue"});
    reg_close_key(link);
    // Not at the last component: followed anyway.
    reg_key *key;
    ASSERT_EQ(open("\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services", REG_OPEN_LINK, &key), REG_OK);
    EXPECT_EQ(reg_is_symlink(key), 0);
    reg_close_key(key);
}

TEST_F(WindowsRegistry, UserProfilesAreMountedWhenTheirPathResolves)
{
    reg_key *key;
    ASSERT_EQ(open("\\REGISTRY\\USER\\S-1-5-21-1000\\Software\\Ivan", 0, &key), REG_OK);
    reg_close_key(key);
    ASSERT_EQ(open("\\HKEY_USERS\\S-1-5-21-1001\\Software\\Microsoft", 0, &key), REG_OK); // %SystemRoot%
    reg_close_key(key);
    EXPECT_EQ(open("\\REGISTRY\\USER\\S-1-5-21-1002", 0, &key), REG_ERR_NOT_FOUND);     // D:\...
    ASSERT_EQ(open("\\REGISTRY\\USER\\.DEFAULT\\Control Panel", 0, &key), REG_OK);
    reg_close_key(key);
}

TEST_F(WindowsRegistry, EnumerationFollowsLinksUnlessAskedNotTo)
{
    reg_key *system;
    ASSERT_EQ(open("\\REGISTRY\\MACHINE\\SYSTEM", 0, &system), REG_OK);
    for (unsigned flags : {0u, unsigned(REG_OPEN_LINK)}) {
        reg_key_enum *en;
        ASSERT_EQ(reg_create_key_enum(system, flags, &en), REG_OK);
        std::vector<std::string> names;
        char *name;
        reg_key *key;
        int rc;
        while ((rc = reg_get_next_enum_key_u8(en, &name, &key)) == REG_OK) {
            names.push_back(name);
            if (names.back() == "CurrentControlSet") {
                EXPECT_EQ(reg_is_symlink(key), flags ? 1 : 0);
            }
            reg_free_string_u8(name);
            reg_close_key(key);
        }
        EXPECT_EQ(rc, REG_ERR_NOT_FOUND);
        reg_destroy_key_enum(en);
        // The file's keys in list order, then the volatile link.
        EXPECT_EQ(names, (std::vector<std::string>{"ControlSet001", "Hashed", "Indexed", "Link", "Select",
                                                   "CurrentControlSet"}));
    }
    reg_close_key(system);
}

TEST_F(WindowsRegistry, MissingOrBrokenHiveFiles)
{
    reg *other;
    // A file that is not a hive is skipped; a missing one fails the whole name space.
    regtest::write_file(dir_, "root/Windows/System32/config/SECURITY", std::vector<uint8_t>(8192, 0x41));
    ASSERT_EQ(create_winreg((root_ + "/Windows").c_str(), &other), REG_OK);
    reg_key *key;
    EXPECT_EQ(reg_open_key_by_abs_path_u8(other, "\\REGISTRY\\MACHINE\\SECURITY", 0, &key), REG_ERR_NOT_FOUND);
    reg_destroy(other);
    std::remove((root_ + "/Windows/System32/config/SAM").c_str());
    EXPECT_EQ(create_winreg((root_ + "/Windows").c_str(), &other), REG_ERR_IO);
    EXPECT_EQ(create_winreg("Windows", &other), REG_ERR_IO); // no system drive
}

TEST(RegLinks, AChainOfSixteenLinkStepsFails)
{
    reg *space;
    ASSERT_EQ(reg_create(&space), REG_OK);
    ASSERT_EQ(reg_create_key_by_abs_path_u8(space, "\\Target\\Inner", nullptr, 0, nullptr), REG_OK);
    // \L0 -> \L1 -> ... -> \L15 -> \Target: sixteen steps from \L0, fifteen from \L1.
    for (int i = 0; i < 16; ++i) {
        reg_key *link;
        ASSERT_EQ(reg_create_key_by_abs_path_u8(space, ("\\L" + std::to_string(i)).c_str(), nullptr,
                                                REG_KEY_SYMLINK, &link), REG_OK);
        std::u16string target = i == 15 ? u"\\Target" : u"\\L" + utf16(std::to_string(i + 1));
        ASSERT_EQ(reg_create_string_value(link, w(u"SymbolicLinkValue"), REG_LINK, w(target), nullptr), REG_OK);
        reg_close_key(link);
    }
    reg_key *key;
    EXPECT_EQ(reg_open_key_by_abs_path_u8(space, "\\L0\\Inner", 0, &key), REG_ERR_IO);
    ASSERT_EQ(reg_open_key_by_abs_path_u8(space, "\\L1\\Inner", 0, &key), REG_OK);
    reg_close_key(key);
    // Enumeration follows the same chain with the same limit: \L0 comes first.
    reg_key *root;
    reg_key_enum *en;
    ASSERT_EQ(reg_open_key_by_abs_path_u8(space, "\\", 0, &root), REG_OK);
    ASSERT_EQ(reg_create_key_enum(root, 0, &en), REG_OK);
    EXPECT_EQ(reg_get_next_enum_key(en, nullptr, &key), REG_ERR_IO);
    ASSERT_EQ(reg_get_next_enum_key(en, nullptr, &key), REG_OK); // \L1: fifteen steps
    reg_close_key(key);
    reg_destroy_key_enum(en);
    reg_close_key(root);
    // A key made through a link lands at its target.
    EXPECT_EQ(reg_create_key_by_abs_path_u8(space, "\\L15\\New", nullptr, 0, &key), REG_OK);
    reg_close_key(key);
    EXPECT_EQ(reg_open_key_by_abs_path_u8(space, "\\Target\\New", REG_OPEN_LINK, &key), REG_OK);
    reg_close_key(key);
    reg_destroy(space);
}

class FileHive : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (reg_hive *h : hives_)
            reg_close_hive(h);
    }
    reg_key *root(const RegHive &h)
    {
        reg_hive *hive = nullptr;
        EXPECT_EQ(reg_create_file_hive(write_file(dir_, "hive" + std::to_string(n_++), simcomputer::write_regf(h)).c_str(),
                                       &hive), REG_OK);
        reg_key *key = nullptr;
        reg_get_root_key(hive, &key);
        hives_.push_back(hive);
        return key;
    }
    simtest::TempDir dir_{"orva-reg"};
    int n_ = 0;
    std::vector<reg_hive *> hives_;
};

TEST_F(FileHive, InlineDataSizes)
{
    RegHive h;
    RegValue &four = h.root.value(u"Four");
    four.raw_size = 0x80000004u;
    four.data = {1, 2, 3, 4};
    RegValue &five = h.root.value(u"Five");
    five.raw_size = 0x80000005u;
    five.data = {1, 2, 3, 4};
    reg_key *key = root(h);
    reg_value *v;
    ASSERT_EQ(reg_open_value_u8(key, "Four", &v), REG_OK);
    uint8_t data[4] = {};
    uint32_t size;
    EXPECT_EQ(reg_get_value_data_size(v, &size), REG_OK);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(reg_get_value_data(v, 0, data, 4), REG_OK);
    EXPECT_EQ(std::vector<uint8_t>(data, data + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(reg_get_value_data(v, 2, data, 3), REG_ERR_INVAL);
    reg_close_value(v);
    ASSERT_EQ(reg_open_value_u8(key, "Five", &v), REG_OK);
    EXPECT_EQ(reg_get_value_data(v, 0, data, 4), REG_ERR_FORMAT);
    reg_close_value(v);
    reg_close_key(key);
}

TEST_F(FileHive, BigDataSpansSegmentsFromVersion14Only)
{
    std::vector<uint8_t> big(20000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 31 + i / 256);
    for (uint32_t minor : {5u, 3u}) {
        RegHive h;
        h.minor = minor;
        h.root.value(u"Big").data = big;
        h.root.value(u"Big").type = REG_BINARY;
        std::vector<uint8_t> bytes = simcomputer::write_regf(h);
        // Version 1.5 stores a "db" record with two segments (16344 + 3656 bytes).
        const std::string image(bytes.begin(), bytes.end());
        EXPECT_EQ(image.find(std::string("db\x02\x00", 4)) != std::string::npos, minor == 5);
        reg_key *key = root(h);
        reg_value *v;
        ASSERT_EQ(reg_open_value_u8(key, "big", &v), REG_OK);
        std::vector<uint8_t> data(big.size());
        EXPECT_EQ(reg_get_value_data(v, 0, data.data(), uint32_t(data.size())), REG_OK);
        EXPECT_EQ(data, big);
        uint8_t across[10];
        EXPECT_EQ(reg_get_value_data(v, 16340, across, 10), REG_OK);
        EXPECT_EQ(std::vector<uint8_t>(across, across + 10), std::vector<uint8_t>(big.begin() + 16340, big.begin() + 16350));
        EXPECT_EQ(reg_get_value_data(v, 19995, across, 10), REG_ERR_INVAL);
        reg_close_value(v);
        reg_close_key(key);
    }
}

TEST_F(FileHive, NamesCompareWithoutCaseAndTrailingNuls)
{
    RegHive h;
    h.root.child(u"SOFTWARE");
    h.root.child(u"Привет");
    RegKey trail;
    trail.name = std::u16string(u"Trail\0\0", 7);
    trail.form = simcomputer::RegNameForm::wide;
    h.root.subkeys.push_back(trail);
    RegValue v;
    v.name = std::u16string(u"Val\0", 4);
    v.type = REG_DWORD;
    v.data = simcomputer::reg_dword(9);
    h.root.values.push_back(v);
    reg_key *key = root(h);
    for (const char *name : {"SOFTWARE", "Software", "software", "ПРИВЕТ", "привет", "trail", "TRAIL"}) {
        reg_key *sub;
        EXPECT_EQ(reg_open_subkey_u8(key, name, 0, &sub), REG_OK) << name;
        reg_close_key(sub);
    }
    reg_key *sub;
    ASSERT_EQ(reg_open_subkey_u8(key, "Trail", 0, &sub), REG_OK);
    const reg_char *name;
    reg_get_key_name(sub, &name);
    EXPECT_EQ(u8(name), "Trail");
    reg_close_key(sub);
    reg_value *value;
    ASSERT_EQ(reg_open_value_u8(key, "VAL", &value), REG_OK);
    uint32_t n;
    EXPECT_EQ(reg_get_dword_value(value, &n), REG_OK);
    EXPECT_EQ(n, 9u);
    reg_close_value(value);
    EXPECT_EQ(reg_open_subkey_u8(key, "Softwar", 0, &sub), REG_ERR_NOT_FOUND);
    EXPECT_EQ(reg_open_subkey_u8(key, "Softwares", 0, &sub), REG_ERR_NOT_FOUND);
    reg_close_key(key);
}

TEST_F(FileHive, EveryListKindFindsEveryKey)
{
    using simcomputer::RegList;
    const RegList kinds[][2] = {{RegList::li, RegList::auto_}, {RegList::lf, RegList::auto_},
                                {RegList::lh, RegList::auto_}, {RegList::ri, RegList::li},
                                {RegList::ri, RegList::lf},    {RegList::ri, RegList::lh}};
    for (const auto &kind : kinds) {
        RegHive h;
        h.root.list = kind[0];
        h.root.sublist = kind[1];
        h.root.ri_chunk = 3;
        for (int i = 0; i < 40; ++i)
            h.root.child(utf16((i % 2 ? "Key" : "ab") + std::to_string(i * 7)));
        h.root.child(u"Ключ");
        reg_key *key = root(h);
        for (const RegKey &k : h.root.subkeys) {
            reg_key *sub;
            EXPECT_EQ(reg_open_subkey(key, w(k.name), 0, &sub), REG_OK);
            reg_close_key(sub);
        }
        reg_key *sub;
        for (const char *missing : {"a", "zz", "Key", "Key8", "ab00"})
            EXPECT_EQ(reg_open_subkey_u8(key, missing, 0, &sub), REG_ERR_NOT_FOUND) << missing;
        reg_close_key(key);
    }
}

TEST_F(FileHive, ClassNamesAndSecurityDescriptors)
{
    RegHive h;
    h.root.child(u"WithClass").class_name = u"Класс";
    h.root.child(u"Bare").security.reset();
    reg_key *key = root(h);
    reg_key *with, *bare;
    ASSERT_EQ(reg_open_subkey_u8(key, "WithClass", 0, &with), REG_OK);
    ASSERT_EQ(reg_open_subkey_u8(key, "Bare", 0, &bare), REG_OK);
    uint32_t units;
    ASSERT_EQ(reg_get_class_name_size(with, &units), REG_OK);
    EXPECT_EQ(units, 6u);
    reg_char buf[6];
    EXPECT_EQ(reg_get_class_name(with, buf, 5), REG_ERR_BUFFER);
    ASSERT_EQ(reg_get_class_name(with, buf, 6), REG_OK);
    EXPECT_EQ(u8(buf), "Класс");
    EXPECT_EQ(reg_get_class_name_size(bare, &units), REG_ERR_NOT_FOUND);
    uint32_t size = 0;
    ASSERT_EQ(reg_get_security_descriptor(with, nullptr, &size), REG_OK);
    const std::vector<uint8_t> expected = RegKey::default_security();
    ASSERT_EQ(size, expected.size());
    std::vector<uint8_t> sd(size);
    uint32_t small = size - 1;
    EXPECT_EQ(reg_get_security_descriptor(with, sd.data(), &small), REG_ERR_BUFFER);
    EXPECT_EQ(reg_get_security_descriptor(with, sd.data(), &size), REG_OK);
    EXPECT_EQ(sd, expected);
    EXPECT_EQ(reg_get_security_descriptor(bare, nullptr, &size), REG_OK);
    EXPECT_EQ(size, 0u);
    uint64_t ts;
    EXPECT_EQ(reg_get_timestamp(with, &ts), REG_OK);
    EXPECT_EQ(ts, RegKey{}.timestamp);
    reg_close_key(with);
    reg_close_key(bare);
    reg_close_key(key);
}

TEST_F(FileHive, KeysAndValuesMadeInMemoryBesideTheFile)
{
    RegHive h;
    h.root.child(u"Stable").value(u"V").data = {7};
    reg_key *key = root(h);
    reg_key *stable, *made;
    ASSERT_EQ(reg_open_subkey_u8(key, "Stable", 0, &stable), REG_OK);
    EXPECT_EQ(reg_delete_key(stable), REG_ERR_NOT_SUPPORTED);
    ASSERT_EQ(reg_create_subkey_u8(stable, "Made\\Deeper", "cls", REG_KEY_VOLATILE, &made), REG_OK);
    reg_close_key(made);
    EXPECT_EQ(reg_create_subkey_u8(stable, "\\Made", nullptr, 0, &made), REG_ERR_INVAL);
    EXPECT_EQ(reg_create_subkey_u8(stable, "", nullptr, 0, &made), REG_ERR_INVAL);
    EXPECT_EQ(reg_create_value_u8(stable, "v", REG_BINARY, "x", 1, nullptr), REG_ERR_EXISTS);
    ASSERT_EQ(reg_create_value_u8(stable, "W", REG_BINARY, "x", 1, nullptr), REG_OK);
    EXPECT_EQ(value_names(stable), (std::vector<std::string>{"V", "W"}));
    // Creating an existing key gives that key.
    ASSERT_EQ(reg_create_subkey_u8(key, "stable\\made", nullptr, 0, &made), REG_OK);
    uint32_t units;
    EXPECT_EQ(reg_get_class_name_size(made, &units), REG_ERR_NOT_FOUND); // class of the last key only
    reg_close_key(made);
    ASSERT_EQ(reg_delete_subkey_u8(stable, "Made"), REG_OK);
    EXPECT_EQ(reg_open_subkey_u8(key, "Stable\\Made\\Deeper", 0, &made), REG_ERR_NOT_FOUND);
    // Once the hive is closed nothing more is made in memory: it would never go.
    reg_close_hive(hives_.back());
    hives_.pop_back();
    EXPECT_EQ(reg_create_subkey_u8(stable, "Late", nullptr, 0, &made), REG_ERR_INVAL);
    EXPECT_EQ(reg_create_value_u8(stable, "Late", REG_BINARY, "x", 1, nullptr), REG_ERR_INVAL);
    reg_close_key(stable);
    reg_close_key(key);
}

TEST(RegMounts, MountChainsAndUnmountRemovesEverythingBelow)
{
    simtest::TempDir dir("orva-reg");
    RegHive a, b;
    a.root.child(u"FromA");
    b.root.child(u"FromB");
    reg_hive *ha, *hb;
    ASSERT_EQ(reg_create_file_hive(write_file(dir, "a", simcomputer::write_regf(a)).c_str(), &ha), REG_OK);
    ASSERT_EQ(reg_create_file_hive(write_file(dir, "b", simcomputer::write_regf(b)).c_str(), &hb), REG_OK);
    reg *space;
    ASSERT_EQ(reg_create(&space), REG_OK);
    ASSERT_EQ(reg_create_key_by_abs_path_u8(space, "\\M", nullptr, 0, nullptr), REG_OK);
    ASSERT_EQ(reg_mount_hive_u8(space, "\\M", ha), REG_OK);
    reg_key *key;
    ASSERT_EQ(reg_open_key_by_abs_path_u8(space, "\\M\\FromA", 0, &key), REG_OK);
    // A volatile key below the mounted hive's root, with the second hive on it.
    ASSERT_EQ(reg_create_subkey_u8(key, "Point", nullptr, REG_KEY_VOLATILE, nullptr), REG_OK);
    reg_close_key(key);
    ASSERT_EQ(reg_mount_hive_u8(space, "\\M\\FromA\\Point", hb), REG_OK);
    ASSERT_EQ(reg_open_key_by_abs_path_u8(space, "\\M\\FromA\\Point\\FromB", 0, &key), REG_OK);
    reg_close_key(key);
    ASSERT_EQ(reg_umount_hive_u8(space, "\\M"), REG_OK);
    EXPECT_EQ(reg_open_key_by_abs_path_u8(space, "\\M\\FromA", 0, &key), REG_ERR_NOT_FOUND);
    EXPECT_EQ(reg_umount_hive_u8(space, "\\M"), REG_ERR_NOT_FOUND);
    EXPECT_EQ(reg_open_key_by_abs_path_u8(space, "M", 0, &key), REG_ERR_INVAL);
    reg_close_hive(ha);
    reg_close_hive(hb);
    reg_destroy(space);
}

} // namespace
