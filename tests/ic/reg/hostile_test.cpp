// Hostile hive files: every broken structure gives its code, and walks stop
// on cycles instead of looping.
#include "reg_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using simcomputer::RegHive;

// Offsets of the structures of a small hive: the root with subkeys A (with
// B and values) and C.
struct Image {
    std::vector<uint8_t> bytes;
    uint32_t get(size_t at) const
    {
        return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16
               | uint32_t(bytes[at + 3]) << 24;
    }
    void set(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = uint8_t(v >> (8 * i));
    }
    size_t cell(uint32_t offset) const { return 4096 + size_t(offset); } // the size field
    size_t data(uint32_t offset) const { return cell(offset) + 4; }
    uint32_t root() const { return get(36); }
    uint32_t subkey_list(uint32_t key) const { return get(data(key) + 28); }
    uint32_t element(uint32_t key, unsigned i) const { return get(data(subkey_list(key)) + 4 + 8 * i); }
    void fix_checksum()
    {
        uint32_t x = 0;
        for (int i = 0; i < 127; ++i)
            x ^= get(4 * size_t(i));
        set(508, x);
    }
};

Image sample()
{
    RegHive h;
    h.root.child(u"A\\B").value(u"Data").data = std::vector<uint8_t>(100, 7);
    h.root.child(u"A").value(u"Small").data = {1, 2};
    h.root.child(u"A").value(u"Other").data = {3};
    h.root.child(u"A").class_name = u"cls";
    h.root.child(u"C");
    return {simcomputer::write_regf(h)};
}

struct Case {
    const char *name;
    std::function<void(Image &)> damage;
    int code;
};

// Each damaged sample is walked and gives its code.
template <size_t N>
void expect_codes(const Case (&cases)[N])
{
    simtest::TempDir dir("orva-reg");
    int n = 0;
    for (const Case &c : cases) {
        Image image = sample();
        c.damage(image);
        const std::string path = regtest::write_file(dir, "hive" + std::to_string(n++), image.bytes);
        EXPECT_EQ(regtest::walk_file(path), c.code) << c.name;
    }
}

TEST(RegHostile, BrokenStructuresGiveTheirCodes)
{
    const Case cases[] = {
        {"intact", [](Image &) {}, REG_OK},
        {"shorter than the base block area", [](Image &i) { i.bytes.resize(4095); }, REG_ERR_FORMAT},
        {"truncated bins", [](Image &i) { i.bytes.resize(i.bytes.size() - 8); }, REG_ERR_FORMAT},
        {"bad checksum", [](Image &i) { i.bytes[508] ^= 1; }, REG_ERR_FORMAT},
        {"bad signature", [](Image &i) { i.bytes[0] = 'x'; i.fix_checksum(); }, REG_ERR_FORMAT},
        {"free root cell", [](Image &i) { i.set(i.cell(i.root()), 96); }, REG_ERR_FORMAT},
        {"cell size -4", [](Image &i) { i.set(i.cell(i.root()), uint32_t(-4)); }, REG_ERR_FORMAT},
        {"cell beyond the bins", [](Image &i) { i.set(i.cell(i.root()), 0x80000000u); }, REG_ERR_INVAL},
        {"root outside the file", [](Image &i) { i.set(36, 0x7FFFFFF0u); i.fix_checksum(); }, REG_ERR_INVAL},
        {"root is not a key", [](Image &i) { i.set(36, i.subkey_list(i.root())); i.fix_checksum(); }, REG_ERR_FORMAT},
        {"subkey list outside the file",
         [](Image &i) { i.set(i.data(i.root()) + 28, 0xFFFFFFF0u); }, REG_ERR_INVAL},
        {"subkey list count past its cell",
         [](Image &i) { i.bytes[i.data(i.subkey_list(i.root())) + 2] = 200; }, REG_ERR_FORMAT},
        {"unknown list signature",
         [](Image &i) { i.bytes[i.data(i.subkey_list(i.root()))] = 'x'; }, REG_ERR_FORMAT},
        {"list element outside the file",
         [](Image &i) { i.set(i.data(i.subkey_list(i.root())) + 4, 0x10000000u); }, REG_ERR_INVAL},
        {"key list refers to its own key",
         [](Image &i) { i.set(i.data(i.subkey_list(i.root())) + 4, i.root()); }, REG_ERR_FORMAT},
        {"key list refers to an ancestor",
         [](Image &i) {
             uint32_t a = i.element(i.root(), 0);
             i.set(i.data(i.subkey_list(a)) + 4, i.root());
         },
         REG_ERR_FORMAT},
        {"one key listed twice",
         [](Image &i) { i.set(i.data(i.subkey_list(i.root())) + 12, i.element(i.root(), 0)); }, REG_ERR_FORMAT},
        {"value list outside the file",
         [](Image &i) { i.set(i.data(i.element(i.root(), 0)) + 40, 0x7FFFFFF0u); }, REG_ERR_INVAL},
        {"one value listed twice",
         [](Image &i) {
             uint32_t list = i.get(i.data(i.element(i.root(), 0)) + 40);
             i.set(i.data(list) + 4, i.get(i.data(list)));
         },
         REG_ERR_FORMAT},
        {"value count past its list",
         [](Image &i) { i.set(i.data(i.element(i.root(), 0)) + 36, 1000); }, REG_ERR_FORMAT},
        {"key name longer than its cell",
         [](Image &i) { i.bytes[i.data(i.element(i.root(), 0)) + 73] = 0x7F; }, REG_ERR_FORMAT},
        {"class longer than its cell",
         [](Image &i) { i.bytes[i.data(i.element(i.root(), 0)) + 75] = 0x7F; }, REG_ERR_FORMAT},
        {"security record outside the file",
         [](Image &i) { i.set(i.data(i.element(i.root(), 0)) + 44, 0x7FFFFFF0u); }, REG_ERR_INVAL},
        {"security descriptor longer than its record",
         [](Image &i) { i.set(i.data(i.get(i.data(i.root()) + 44)) + 16, 0x10000); }, REG_ERR_FORMAT},
    };
    expect_codes(cases);
}

TEST(RegHostile, BrokenValueRecordsAndData)
{
    // Value records are found through the value list of key A.
    auto value_cell = [](const Image &i, unsigned index) {
        uint32_t a = i.element(i.root(), 0);
        return i.get(i.data(i.get(i.data(a) + 40)) + 4 * index);
    };
    const Case cases[] = {
        {"value name longer than its cell", [&](Image &i) { i.bytes[i.data(value_cell(i, 0)) + 3] = 0x7F; },
         REG_ERR_FORMAT},
        {"value record is not one", [&](Image &i) { i.bytes[i.data(value_cell(i, 0))] = 'x'; }, REG_ERR_FORMAT},
        {"inline data of 5 bytes", [&](Image &i) { i.set(i.data(value_cell(i, 0)) + 4, 0x80000005u); },
         REG_ERR_FORMAT},
        {"data larger than its cell", [&](Image &i) {
             uint32_t b = i.element(i.element(i.root(), 0), 0);
             uint32_t v = i.get(i.data(i.get(i.data(b) + 40)));
             i.set(i.data(v) + 4, 500);
         }, REG_ERR_FORMAT},
        {"big data without its record", [&](Image &i) {
             uint32_t b = i.element(i.element(i.root(), 0), 0);
             uint32_t v = i.get(i.data(i.get(i.data(b) + 40)));
             i.set(i.data(v) + 4, 20000);
         }, REG_ERR_FORMAT},
    };
    expect_codes(cases);
}

TEST(RegHostile, DeepChainOfKeysIsOpenedWithoutRecursion)
{
    // 3000 nested keys: nothing in the reader recurses per level.
    RegHive h;
    simcomputer::RegKey *k = &h.root;
    for (int i = 0; i < 3000; ++i)
        k = &k->child(u"k");
    simtest::TempDir dir("orva-reg");
    EXPECT_EQ(regtest::walk_file(regtest::write_file(dir, "deep", simcomputer::write_regf(h))), REG_OK);
}

} // namespace
