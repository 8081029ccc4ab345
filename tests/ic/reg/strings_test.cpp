// UTF-16 helpers, the UTF-8 converters and the generated upper-case table.
#include "reg_support.h"

#include "peers.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(RegStrings, Utf8DecoderIsStrict)
{
    struct {
        const char *text;
        int units; // with the terminator, or -2
    } cases[] = {
        {"", 1},
        {"abc", 4},
        {"Привет", 7},
        {"\xF0\x9F\x98\x80", 3},        // a surrogate pair
        {"\xF4\x8F\xBF\xBF", 3},        // U+10FFFF
        {"\xF4\x90\x80\x80", -2},       // above U+10FFFF
        {"\x80", -2},                   // continuation byte first
        {"\xC3", -2},                   // truncated
        {"\xE2\x82", -2},               // truncated
        {"\xC3\x28", -2},               // bad continuation
        {"\xC0\xAF", -2},               // overlong
        {"\xED\xA0\x80", -2},           // encoded surrogate
        {"\xFF", -2},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(reg_utf8_to_utf16_size(c.text), c.units) << c.text;
        reg_char out[8];
        EXPECT_EQ(reg_utf8_to_utf16(c.text, out, 8), c.units) << c.text;
    }
    reg_char out[4];
    EXPECT_EQ(reg_utf8_to_utf16("abcd", out, 4), -1);
    ASSERT_EQ(reg_utf8_to_utf16("\xF0\x9F\x98\x80", out, 4), 3);
    EXPECT_EQ(out[0], 0xD83D);
    EXPECT_EQ(out[1], 0xDE00);
    char back[8];
    EXPECT_EQ(reg_utf16_to_utf8(out, back, 4), -1);
    EXPECT_EQ(reg_utf16_to_utf8(out, back, 5), 5);
    EXPECT_STREQ(back, "\xF0\x9F\x98\x80");
}

TEST(RegStrings, UpperCaseComparison)
{
    const std::pair<std::u16string, std::u16string> equal[] = {
        {u"SOFTWARE", u"software"}, {u"Привет", u"ПРИВЕТ"}, {u"ÿ", u"Ÿ"}, {u"ß", u"ß"}, {u"ı", u"I"},
        {std::u16string(u"ab\0\0", 4), u"AB"}};
    for (const auto &p : equal)
        EXPECT_EQ(reg_u16strncasecmp2(regtest::w(p.first), p.first.size(), regtest::w(p.second), p.second.size()), 0);
    EXPECT_LT(reg_u16strcasecmp(regtest::w(u"ab"), regtest::w(u"ABC")), 0);
    EXPECT_GT(reg_u16strcasecmp(regtest::w(u"b"), regtest::w(u"ABC")), 0);
    // Upper-casing before comparing puts '_' (0x5F) after letters.
    EXPECT_GT(reg_u16strcasecmp(regtest::w(u"_"), regtest::w(u"z")), 0);
    reg_char narrow[4] = {0};
    std::memcpy(narrow, "\xE9t\xE9", 3);
    __reg_decompress_str(narrow, 3);
    EXPECT_EQ(regtest::u16(narrow), u"été");
}

TEST(RegStrings, UpperCaseTableIsTheGeneratorsOutput)
{
    const char *data = "/usr/share/unicode/UnicodeData.txt";
    if (!std::ifstream(data) || !simtest::have("python3"))
        GTEST_SKIP() << "needs python3 and the unicode-data package";
    simtest::TempDir dir("orva-reg");
    int status;
    const std::string out = simtest::run(std::string("python3 ") + UPCASE_SCRIPT + " " + data + " " + (dir / "t.cpp"), status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(simtest::read_file(dir / "t.cpp"), simtest::read_file(UPCASE_TABLE));
}

} // namespace
