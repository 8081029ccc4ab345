// Diagnostic log machinery: levels, configuration parser, line formats and
// rendering.
#include <ic/util/log_config.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

ic_log_config parsed(const std::string &text)
{
    ic_log_config c;
    ic_log_config_init(&c);
    ic_log_config_parse(&c, text.data(), text.size());
    return c;
}

std::vector<std::string> option_names(const ic_log_config &c)
{
    std::vector<std::string> names;
    for (uint32_t i = 0; i < c.option_count; ++i)
        names.emplace_back(c.options[i].name);
    return names;
}

TEST(LogConfig, LevelValues)
{
    struct row {
        const char *text;
        int ret;
        uint32_t level;
    } rows[] = {
        {"fatal", 0, 0}, {"ERROR", 0, 1}, {"Warn", 0, 2},  {"info", 0, 3},
        {"DeBuG", 0, 4}, {"trace", 0, 5}, {"0", 0, 0},     {"7", 0, 7},
        {"010", 0, 8},   {"0x1f", 0, 31}, {"0X10", 0, 16}, {"4294967295", 0, 4294967295u},
        {"", -1, 0},     {"trac", -1, 0}, {"traces", -1, 0}, {"5x", -1, 0},
        {"-1", -1, 0},   {"+1", -1, 0},   {"08", -1, 0},   {"0x", -1, 0},
        {" 5", -1, 0},   {"4294967296", -1, 0},
    };
    for (const row &r : rows) {
        uint32_t level = 12345;
        EXPECT_EQ(ic_log_parse_level(r.text, std::strlen(r.text), &level), r.ret) << r.text;
        if (r.ret == 0) {
            EXPECT_EQ(level, r.level) << r.text;
        }
    }
}

TEST(LogConfig, LevelMasks)
{
    struct row {
        uint32_t level, mask;
    } rows[] = {{0, 1}, {1, 3}, {5, 0x3f}, {7, 0xff}, {30, 0x7fffffff}, {31, 0xffffffff}, {1000, 0xffffffff}};
    for (const row &r : rows)
        EXPECT_EQ(ic_log_level_mask(r.level), r.mask) << r.level;
}

TEST(LogConfig, BuiltInState)
{
    ic_log_config c;
    ic_log_config_init(&c);
    EXPECT_EQ(c.default_mask, 3u);
    EXPECT_EQ(c.option_count, 0u);
    const uint16_t codes[] = {1, IC_LOG_LITERAL_CODE(0), 4, IC_LOG_LITERAL_CODE(3), 5,
                              IC_LOG_LITERAL_CODE(6), 6, IC_LOG_LITERAL_CODE(9), 10, 0};
    EXPECT_EQ(std::vector<uint16_t>(c.format.codes, c.format.codes + 10),
              std::vector<uint16_t>(codes, codes + 10));
    EXPECT_EQ(std::string(c.format.literals, 11), std::string(" [\0] \0: \0 \0", 11));
}

// Masks of the default and of the channels after parsing a file.
TEST(LogConfig, SectionsAndLevels)
{
    const uint32_t def = 3;
    struct row {
        const char *name;
        std::string text;
        uint32_t default_mask, fs, hw, fs_ocl;
    } rows[] = {
        {"section level", "[fs]\nlevel = 0\n", def, 1, def, def},
        {"keys before a section set the default", "level = debug\n[fs]\nlevel = 0\n", 0x1f, 1, 0x1f, 0x1f},
        {"underscore: section ignored, key goes to the default", "[fs_ocl]\nlevel = trace\n", 0x3f, 0x3f,
         0x3f, 0x3f},
        {"malformed section keeps the one before", "[hw]\nlevel = 4\n[fs_ocl]\nlevel = 0\n", def, def, 1, def},
        {"level 7", "level = 7\n", 0xff, 0xff, 0xff, 0xff},
        {"bit 31 cleared", "level = 31\n", 0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff},
        {"first word counts", "[hw]\nlevel = error and more\n", def, def, 3, def},
        {"invalid value", "[hw]\nlevel = verbose\nlevel = 5x\nlevel =\n", def, def, def, def},
        {"new section takes the default of its time", "level = 2\n[hw]\nlevel = 2\nlevel = 3\n", 7, 7, 15, 7},
        {"section inherits default", "level = 4\n[hw]\n", 0x1f, 0x1f, 0x1f, 0x1f},
        {"repeated section continues its entry", "[hw]\nlevel = 0\n[fs]\nlevel = 2\n[hw]\n", def, 7, 1, def},
        {"blanks and comments", "# level = 5\n\n   \n\t [ hw ]\t \n \tlevel\t=\tinfo\n", def, def, 0xf, def},
        {"no trailing newline", "[fs]\nlevel = 1", def, 3, def, def},
        {"junk after section", "[hw] x\nlevel = 0\n", 1, 1, 1, 1},
        {"other malformed sections", "[]\n[1hw]\n[hw\nhw]\n[h-w]\nlevel = 0\n", 1, 1, 1, 1},
        {"malformed keys", "levelx = 0\nlevel 0\n= 0\n-level = 0\nLEVEL = 0\n", def, def, def, def},
        {"line feed only: CR stays in the value", "level = 0\r\n", def, def, def, def},
    };
    for (const row &r : rows) {
        ic_log_config c = parsed(r.text);
        EXPECT_EQ(c.default_mask, r.default_mask) << r.name;
        EXPECT_EQ(ic_log_config_mask(&c, "fs"), r.fs) << r.name;
        EXPECT_EQ(ic_log_config_mask(&c, "hw"), r.hw) << r.name;
        EXPECT_EQ(ic_log_config_mask(&c, "fs_ocl"), r.fs_ocl) << r.name;
    }
}

TEST(LogConfig, SectionNameLength)
{
    std::string name31(31, 'a');
    std::string name32(32, 'b');
    ic_log_config c = parsed("[" + name31 + "]\nlevel = 0\n[" + name32 + "]\nlevel = 5\n");
    // The long section and its key are ignored; the key does not fall back
    // to the section before or to the default.
    EXPECT_EQ(option_names(c), std::vector<std::string>{name31});
    EXPECT_EQ(ic_log_config_mask(&c, name31.c_str()), 1u);
    EXPECT_EQ(c.default_mask, 3u);
}

TEST(LogConfig, OptionsTableIsSortedAndBounded)
{
    std::string text;
    std::vector<std::string> names;
    for (int i = 0; i < 256; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "c%03d", (i * 97) % 256); // scrambled order
        names.emplace_back(name);
        text += "[" + names.back() + "]\nlevel = 0\n";
    }
    text += "[full]\nlevel = 5\n[c007]\nlevel = 2\n";
    ic_log_config c = parsed(text);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(option_names(c), names);
    EXPECT_EQ(ic_log_config_find(&c, "full"), nullptr);
    EXPECT_EQ(c.default_mask, 3u); // the full table's key went nowhere
    EXPECT_EQ(ic_log_config_mask(&c, "c007"), 7u); // existing entries still accept keys
    EXPECT_EQ(ic_log_config_mask(&c, "c008"), 1u);
}

TEST(LogConfig, LongLinesAreIgnored)
{
    std::string fits = "level = 0" + std::string(IC_LOG_MAX_CONFIG_LINE - 9, ' ');
    std::string too_long = "level = 0" + std::string(IC_LOG_MAX_CONFIG_LINE - 8, ' ');
    ASSERT_EQ(fits.size(), 254u);
    EXPECT_EQ(parsed(fits + "\n").default_mask, 1u);
    EXPECT_EQ(parsed(too_long + "\n").default_mask, 3u);
    // The tail of a long line is not read as a line of its own.
    std::string comment = "#" + std::string(253, '-') + "level = 0\n";
    EXPECT_EQ(parsed(comment).default_mask, 3u);
}

// Rendering with a fixed time in UTC.
class LogRender : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *tz = std::getenv("TZ");
        saved_tz_ = tz ? tz : "";
        had_tz_ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override
    {
        if (had_tz_)
            setenv("TZ", saved_tz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    static size_t message(char *dst, size_t room, void *context)
    {
        auto *m = static_cast<const std::string *>(context);
        size_t n = std::min(room, m->size());
        std::memcpy(dst, m->data(), n);
        return n;
    }

    std::string render(const ic_log_format &f, std::string msg = "ret = 3\n", unsigned level = 1)
    {
        ic_log_site site{"hw", level, "info.c", "hw_info_get_current", 25};
        timeval tv{};
        tv.tv_sec = 1367835072; // 2013-05-06 10:11:12 UTC
        tv.tv_usec = 345999;
        char line[IC_LOG_LINE_SIZE];
        size_t n = ic_log_render(&f, &site, &tv, message, &msg, line);
        return std::string(line, n);
    }

    std::string render_text(const std::string &format, unsigned level = 1)
    {
        ic_log_format f;
        EXPECT_EQ(ic_log_format_compile(&f, format.data(), format.size()), 0) << format;
        return render(f, "ret = 3\n", level);
    }

    std::string saved_tz_;
    bool had_tz_ = false;
};

TEST_F(LogRender, Directives)
{
    struct row {
        const char *format;
        unsigned level;
        const char *expect;
    } rows[] = {
        {"%{timestamp} [%{channel}] %{class}: %{source} %{message}", 1,
         "2013/05/06 10:11:12.345 [hw] ERROR: info.c:hw_info_get_current:25 ret = 3\n"},
        {"%{class} %{message}", 1, "ERROR ret = 3\n"},
        {"%{date}|%{time}", 1, "2013/05/06|10:11:12.345"},
        {"%{file}/%{function}/%{line}", 1, "info.c/hw_info_get_current/25"},
        {"100%% %{class}", 0, "100% FATAL"},
        {"%{class}", 5, "TRACE"},
        {"%{class}", 6, "6"},
        {"%{class}", 31, "31"},
        {"%x %{unknown} %{line %", 1, "%x %{unknown} %{line %"},
        {"%%{line}", 1, "%{line}"},
        {"", 1, ""},
    };
    for (const row &r : rows)
        EXPECT_EQ(render_text(r.format, r.level), r.expect) << r.format;
}

TEST_F(LogRender, BuiltInFormatMatchesItsText)
{
    ic_log_config c;
    ic_log_config_init(&c);
    EXPECT_EQ(render(c.format), "2013/05/06 10:11:12.345 [hw] ERROR: info.c:hw_info_get_current:25 ret = 3\n");
}

TEST_F(LogRender, LinesAreCutAt1024Bytes)
{
    ic_log_config c;
    ic_log_config_init(&c);
    std::string prefix = "2013/05/06 10:11:12.345 [hw] ERROR: info.c:hw_info_get_current:25 ";
    std::string msg(2000, 'm');
    std::string line = render(c.format, msg);
    ASSERT_EQ(line.size(), IC_LOG_LINE_SIZE);
    EXPECT_EQ(line, prefix + msg.substr(0, IC_LOG_LINE_SIZE - prefix.size()));

    // Directives are cut as well once the line is full.
    std::string function(100, 'f');
    std::string fmt = "<";
    for (int i = 0; i < 20; ++i)
        fmt += "%{function}";
    ic_log_format f;
    ASSERT_EQ(ic_log_format_compile(&f, fmt.data(), fmt.size()), 0);
    ic_log_site site{"hw", 1, "f.c", function.c_str(), 1};
    char out[IC_LOG_LINE_SIZE];
    timeval tv{};
    size_t n = ic_log_render(&f, &site, &tv, nullptr, nullptr, out);
    std::string expect = "<";
    for (int i = 0; i < 20; ++i)
        expect += function;
    EXPECT_EQ(std::string(out, n), expect.substr(0, IC_LOG_LINE_SIZE));
}

TEST_F(LogRender, CodeListAndLiteralAreaLimits)
{
    struct row {
        const char *name;
        std::string format;
        int ret;
    } rows[] = {
        {"32 directives", [] { std::string s; for (int i = 0; i < 32; ++i) s += "%{line}"; return s; }(), 0},
        {"33 directives", [] { std::string s; for (int i = 0; i < 33; ++i) s += "%{line}"; return s; }(), -1},
        {"16 literal runs and 16 directives", [] { std::string s; for (int i = 0; i < 16; ++i) s += "-%{line}"; return s; }(), 0},
        {"17 literal runs and 16 directives", [] { std::string s; for (int i = 0; i < 16; ++i) s += "-%{line}"; return s + "-"; }(), -1},
        {"255 literal bytes", std::string(255, 'x'), 0},
        {"256 literal bytes", std::string(256, 'x'), -1},
        {"two runs filling the area", std::string(127, 'x') + "%{line}" + std::string(127, 'y'), 0},
        {"two runs one byte over", std::string(127, 'x') + "%{line}" + std::string(128, 'y'), -1},
        {"NUL byte", std::string("a\0b", 3), -1},
    };
    for (const row &r : rows) {
        ic_log_format f;
        ic_log_config c;
        ic_log_config_init(&c);
        f = c.format;
        EXPECT_EQ(ic_log_format_compile(&f, r.format.data(), r.format.size()), r.ret) << r.name;
        if (r.ret != 0) { // a failed compile leaves the format as it was
            EXPECT_EQ(std::memcmp(&f, &c.format, sizeof f), 0) << r.name;
        }
    }

    // A full code list renders all 32 codes.
    std::string s;
    for (int i = 0; i < 32; ++i)
        s += "%{line}";
    EXPECT_EQ(render_text(s), [] { std::string e; for (int i = 0; i < 32; ++i) e += "25"; return e; }());
}

TEST_F(LogRender, FormatKey)
{
    struct row {
        const char *line;
        const char *expect; // null: the built-in format stays
    } rows[] = {
        {"format = \"%{class} %{message}\"", "ERROR ret = 3\n"},
        {"format='%{class}'", "ERROR"},
        {"format = \"a\\\"b\\\\c\\n\"", "a\"b\\c\\n"},
        {"format = 'a\\'", "a\\"},
        {"format = \"\"", ""},
        {"format = \"%{line}\"   \t", "25"},
        {"format = \"abc", nullptr},
        {"format = 'abc\"", nullptr},
        {"format = \"abc\" x", nullptr},
        {"format = abc", nullptr},
        {"format", nullptr},
        {"[hw]\nformat = \"%{line}\"", "25"},            // sections do not own formats
        {"[fs_ocl]\nformat = \"%{line}\"", "25"},        // after a malformed section too
        {"[" "abcdefghijklmnopqrstuvwxyzabcdefg" "]\nformat = \"%{line}\"", nullptr}, // ignored section
        {"format = \"%{line}\"\nformat = \"%{class}\"", "ERROR"},
        {"format = \"%{line}\"\nformat = \"abc", "25"},  // a void line keeps the one before
    };
    for (const row &r : rows) {
        ic_log_config c = parsed(r.line);
        std::string expect = r.expect ? r.expect : "2013/05/06 10:11:12.345 [hw] ERROR: info.c:hw_info_get_current:25 ret = 3\n";
        EXPECT_EQ(render(c.format), expect) << r.line;
    }
}

TEST_F(LogRender, ReadsTheClockWhenNoTimeIsGiven)
{
    ic_log_format f;
    const char text[] = "%{date}";
    ASSERT_EQ(ic_log_format_compile(&f, text, sizeof text - 1), 0);
    ic_log_site site{"hw", 1, "f.c", "fn", 1};
    char line[IC_LOG_LINE_SIZE];
    size_t n = ic_log_render(&f, &site, nullptr, nullptr, nullptr, line);
    time_t now = time(nullptr);
    tm t;
    gmtime_r(&now, &t);
    char expect[48];
    std::snprintf(expect, sizeof expect, "%04d/%02d/%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    EXPECT_EQ(std::string(line, n), expect);
}

} // namespace
