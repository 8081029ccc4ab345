// SMBIOS entry points, the structure table walk, enumeration and strings on
// hand-made bytes.
#include <ic/hw/hw_scan.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

// One structure: header (type, length, handle), the other formatted bytes,
// then the strings and the closing zero.
bytes structure(uint8_t type, uint16_t handle, const bytes &fields, const std::vector<std::string> &strings)
{
    // Sized once and filled in place: growing a 4-byte vector by range
    // inserts draws a false -Warray-bounds from GCC 12 at -O3.
    size_t size = 4 + fields.size() + 1 + (strings.empty() ? 1 : 0);
    for (const std::string &str : strings)
        size += str.size() + 1;
    bytes s(size, 0);
    s[0] = type;
    s[1] = uint8_t(4 + fields.size());
    s[2] = uint8_t(handle);
    s[3] = uint8_t(handle >> 8);
    auto out = std::copy(fields.begin(), fields.end(), s.begin() + 4);
    for (const std::string &str : strings)
        out = std::copy(str.begin(), str.end(), out) + 1;
    return s;
}

bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

void fix_sum(bytes &b, size_t from, size_t n, size_t at)
{
    b[at] = 0;
    unsigned sum = 0;
    for (size_t i = from; i < from + n; ++i)
        sum += b[i];
    b[at] = uint8_t(-sum);
}

// "_SM_" entry point of 31 bytes with its "_DMI_" part at 16.
bytes sm_entry(uint32_t table, uint16_t length, uint16_t count)
{
    bytes e(31, 0);
    std::memcpy(e.data(), "_SM_", 4);
    e[5] = 31;
    e[6] = 2, e[7] = 7;
    std::memcpy(e.data() + 16, "_DMI_", 5);
    e[22] = uint8_t(length), e[23] = uint8_t(length >> 8);
    for (int i = 0; i < 4; ++i)
        e[24 + i] = uint8_t(table >> (8 * i));
    e[28] = uint8_t(count), e[29] = uint8_t(count >> 8);
    fix_sum(e, 16, 15, 21);
    fix_sum(e, 0, 31, 4);
    return e;
}

TEST(HwSmbios, EntryPoints)
{
    uint32_t table = 0;
    uint16_t length = 0, count = 0;
    const bytes good = sm_entry(0x000F0020, 0x1234, 17);
    ASSERT_EQ(smbios_check_entry(good.data(), good.size(), &table, &length, &count), HW_OK);
    EXPECT_EQ(table, 0xF0020u);
    EXPECT_EQ(length, 0x1234u);
    EXPECT_EQ(count, 17u);
    const bytes legacy(good.begin() + 16, good.end());
    table = length = count = 0;
    ASSERT_EQ(legacy_check_entry(legacy.data(), legacy.size(), &table, &length, &count), HW_OK);
    EXPECT_EQ(table, 0xF0020u);

    struct Case {
        size_t at;
        uint8_t value;
        const char *what;
    } damage[] = {
        {4, 0x00, "entry checksum"},       {0, 'X', "anchor"},
        {5, 32, "length beyond the bytes"}, {21, 0x00, "legacy checksum"},
        {16, 'X', "legacy anchor"},
    };
    for (const Case &d : damage) {
        bytes e = good;
        e[d.at] = uint8_t(e[d.at] + 1 + d.value);
        EXPECT_EQ(smbios_check_entry(e.data(), e.size(), &table, &length, &count), HW_ERR_BAD_SMBIOS) << d.what;
    }
    // Too few bytes at hand for the legacy part.
    EXPECT_EQ(smbios_check_entry(good.data(), 20, &table, &length, &count), HW_ERR_BAD_SMBIOS);
    EXPECT_EQ(legacy_check_entry(legacy.data(), 14, &table, &length, &count), HW_ERR_BAD_SMBIOS);
}

// "_SM3_" entry point of 24 bytes.
bytes sm3_entry(uint64_t table, uint32_t max_size)
{
    bytes e(24, 0);
    std::memcpy(e.data(), "_SM3_", 5);
    e[6] = 24;
    e[7] = 3, e[8] = 2, e[10] = 1;
    for (int i = 0; i < 4; ++i)
        e[12 + i] = uint8_t(max_size >> (8 * i));
    for (int i = 0; i < 8; ++i)
        e[16 + i] = uint8_t(table >> (8 * i));
    fix_sum(e, 0, 24, 5);
    return e;
}

TEST(HwSmbios, The64BitEntryPoint)
{
    uint64_t table = 0;
    uint32_t size = 0;
    const bytes good = sm3_entry(0x1'2345'6780ull, 0x10203);
    ASSERT_EQ(smbios3_check_entry(good.data(), good.size(), &table, &size), HW_OK);
    EXPECT_EQ(table, 0x123456780ull);
    EXPECT_EQ(size, 0x10203u);

    struct Case {
        size_t at;
        uint8_t value;
        const char *what;
    } damage[] = {{5, 1, "checksum"}, {4, 'X', "anchor"}, {6, 23, "length below 24"}, {6, 25, "length beyond the bytes"}};
    for (const Case &d : damage) {
        bytes e = good;
        e[d.at] = d.value;
        if (d.at == 6)
            fix_sum(e, 0, 24, 5);
        EXPECT_EQ(smbios3_check_entry(e.data(), e.size(), &table, &size), HW_ERR_BAD_SMBIOS) << d.what;
    }
    EXPECT_EQ(smbios3_check_entry(good.data(), 23, &table, &size), HW_ERR_BAD_SMBIOS);
    // A 32-bit entry point is not a 64-bit one.
    const bytes sm = sm_entry(0xF0020, 0x100, 1);
    EXPECT_EQ(smbios3_check_entry(sm.data(), sm.size(), &table, &size), HW_ERR_BAD_SMBIOS);
}

TEST(HwSmbios, The64BitTableIsWalkedToItsEnd)
{
    const bytes cpu = structure(4, 0, bytes(0x14), {"Core"});
    const bytes end = structure(127, 1, {}, {});
    struct Case {
        bytes table;
        int expect;
        uint32_t count;
        const char *what;
    } cases[] = {
        {cat({cpu, cpu, end}), HW_OK, 3, "up to the end-of-table structure"},
        {cat({cpu, end, cpu, {0xFF, 0xFF}}), HW_OK, 2, "bytes after the end-of-table structure"},
        {cat({cpu, cpu}), HW_OK, 2, "no end-of-table structure: up to the maximum size"},
        {cat({cpu, {0, 0, 0}}), HW_OK, 1, "fewer than four bytes left"},
        {{}, HW_OK, 0, "empty"},
        {cat({cpu, {4, 40, 0, 0, 0, 0}}), HW_ERR_BAD_SMBIOS, 0, "formatted length past the end"},
        {cat({cpu, {4, 3, 0, 0, 0, 0}}), HW_ERR_BAD_SMBIOS, 0, "formatted length 3"},
        {bytes(end.begin(), end.end() - 1), HW_ERR_BAD_SMBIOS, 0, "string area not closed"},
    };
    for (const Case &c : cases) {
        uint32_t count = 0xDEAD;
        ASSERT_EQ(smbios3_count_structures(c.table.data(), uint32_t(c.table.size()), &count), c.expect) << c.what;
        if (c.expect == HW_OK) {
            EXPECT_EQ(count, c.count) << c.what;
        }
    }
}

TEST(HwSmbios, TableWalk)
{
    const bytes bios = structure(0, 0, {1, 2, 0x00, 0xE0, 3, 0, 0, 0}, {"Vendor", "1.0", "01/02/2003"});
    const bytes cpu = structure(4, 1, bytes(0x14), {});
    const bytes two = cat({bios, cpu});
    struct Case {
        bytes table;
        uint16_t count;
        int expect;
        const char *what;
    } cases[] = {
        {two, 2, HW_OK, "two structures"},
        {cat({two, {0xFF, 0xFF, 0xFF}}), 2, HW_OK, "trailing bytes"},
        {{0xFF}, 0, HW_OK, "no structures announced"},
        {{}, 0, HW_OK, "empty"},
        {two, 3, HW_ERR_BAD_SMBIOS, "one announced too many"},
        {cat({two, {4, 4, 0}}), 3, HW_ERR_BAD_SMBIOS, "three bytes left"},
        {cat({{0, 3, 0, 0, 0, 0}}), 1, HW_ERR_BAD_SMBIOS, "formatted length 3"},
        {cat({{0, 40, 0, 0, 0, 0}}), 1, HW_ERR_BAD_SMBIOS, "formatted length past the end"},
        {cat({{0, 6, 0, 0, 0, 0}}), 1, HW_ERR_BAD_SMBIOS, "formatted area up to the end"},
        {bytes(two.begin(), two.end() - 1), 2, HW_ERR_BAD_SMBIOS, "string area not closed"},
        {cat({{0, 4, 0, 0, 'a', 0}}), 1, HW_ERR_BAD_SMBIOS, "one zero only"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(smbios_check_table(c.table.data(), uint16_t(c.table.size()), c.count), c.expect) << c.what;
}

TEST(HwSmbios, EnumerationAndStrings)
{
    const bytes table = cat({
        structure(4, 0, bytes(0x14), {"Socket 0", "Core i5"}),
        structure(17, 1, {0, 0}, {}),
        structure(4, 2, bytes(0x14), {"Socket 1"}),
        structure(4, 3, bytes(0x14), {"not announced"}),
    });
    bytes copy = table;
    hw_smbios smbios{copy.data(), uint16_t(copy.size()), 3};
    ASSERT_EQ(smbios_check_table(smbios.table, smbios.length, smbios.count), HW_OK);

    std::vector<uint16_t> handles;
    hw_dmi_enum e;
    dmi_enum_init(&e, &smbios, 4);
    for (const uint8_t *s; (s = dmi_enum_next(&e));)
        handles.push_back(uint16_t(s[2] | s[3] << 8));
    EXPECT_EQ(handles, (std::vector<uint16_t>{0, 2})); // the walk stops at the announced count

    dmi_enum_init(&e, &smbios, HW_DMI_ANY_TYPE);
    unsigned all = 0;
    while (dmi_enum_next(&e))
        ++all;
    EXPECT_EQ(all, 3u);

    dmi_enum_init(&e, &smbios, 4);
    uint8_t *s = const_cast<uint8_t *>(dmi_enum_next(&e));
    ASSERT_TRUE(s);
    struct Case {
        uint8_t index;
        const char *expect;
    } cases[] = {{0, nullptr}, {1, "Socket 0"}, {2, "Core i5"}, {3, nullptr}, {255, nullptr}};
    for (const Case &c : cases) {
        s[0x10] = c.index;
        const char *str = dmi_string(s, 0x10);
        if (c.expect) {
            EXPECT_STREQ(str, c.expect);
        } else {
            EXPECT_EQ(str, nullptr) << int(c.index);
        }
    }
    // A field beyond the formatted area is absent.
    EXPECT_EQ(dmi_string(s, 0x18), nullptr);
    const uint8_t *memory = dmi_enum_next(&e);
    ASSERT_TRUE(memory);
    dmi_enum_init(&e, &smbios, 17);
    memory = dmi_enum_next(&e);
    ASSERT_TRUE(memory);
    EXPECT_EQ(dmi_string(memory, 4), nullptr); // no strings at all
}

} // namespace
