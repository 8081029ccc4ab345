// String helpers, string arrays, the path builder and link resolution.
#include <ic/util/result.h>
#include <ic/util/str_buf.h>
#include <ic/util/str_zarray.h>
#include <ic/util/strutil.h>

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

TEST(StrUtil, StrpcpyFitsOrTruncates)
{
    struct row {
        size_t size;
        const char *src;
        const char *expect;
        size_t ret;
        size_t advance;
    } rows[] = {
        {8, "abc", "abc", 5, 3},
        {4, "abc", "abc", 1, 3}, // strlen < size: fits exactly
        {3, "abc", "ab", 0, 2},  // truncated to size - 1
        {1, "abc", "", 0, 0},
        {5, "", "", 5, 0},
    };
    for (const row &r : rows) {
        char buf[16];
        std::memset(buf, 'X', sizeof buf);
        char *dst = buf;
        EXPECT_EQ(ic_util_strpcpy(&dst, r.size, r.src), r.ret) << r.size << " " << r.src;
        EXPECT_STREQ(buf, r.expect);
        EXPECT_EQ(dst, buf + r.advance);
        EXPECT_EQ(*dst, '\0');
        EXPECT_EQ(buf[r.size], 'X'); // nothing past the destination
    }

    char untouched = 'X';
    char *dst = &untouched;
    EXPECT_EQ(ic_util_strpcpy(&dst, 0, "abc"), 0u);
    EXPECT_EQ(untouched, 'X');
    EXPECT_EQ(dst, &untouched);
}

TEST(StrUtil, StrscpylConcatenatesAndTruncates)
{
    char buf[8];
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(ic_util_strscpyl(buf, 4, "ab", "cd", nullptr), 0u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], 'X');

    EXPECT_EQ(ic_util_strscpyl(buf, 8, "/sys", "/", "block", nullptr), 0u);
    EXPECT_STREQ(buf, "/sys/bl");

    EXPECT_EQ(ic_util_strscpyl(buf, 8, "a", "", "b", nullptr), 6u);
    EXPECT_STREQ(buf, "ab");

    EXPECT_EQ(ic_util_strscpyl(buf, 8, nullptr), 8u); // empty list still terminates
    EXPECT_STREQ(buf, "");

    buf[0] = 'X';
    EXPECT_EQ(ic_util_strscpyl(buf, 0, "abc", nullptr), 0u);
    EXPECT_EQ(buf[0], 'X');
}

TEST(StrUtil, DupstrsAndZalloc)
{
    char *s = ic_util_dupstrs("/mnt", "/", "vol", nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "/mnt/vol");
    std::free(s);

    s = ic_util_dupstrs(nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    std::free(s);

    auto *z = static_cast<unsigned char *>(ic_util_zalloc(100));
    ASSERT_NE(z, nullptr);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(z[i], 0);
    std::free(z);
}

std::vector<std::string> strings_of(char **array)
{
    std::vector<std::string> v;
    for (char **p = array; p && *p; ++p)
        v.emplace_back(*p);
    return v;
}

TEST(StrZarray, CreateCopyLenDestroy)
{
    char **a = ic_str_zarray_create("*.exe", "*.dll", nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(ic_str_zarray_len(a), 2u);
    EXPECT_EQ(strings_of(a), (std::vector<std::string>{"*.exe", "*.dll"}));

    char **copy = ic_str_zarray_copy(a);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy[0], a[0]); // deep
    EXPECT_EQ(strings_of(copy), strings_of(a));

    char **empty = ic_str_zarray_create(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], nullptr);
    char **empty_copy = ic_str_zarray_copy(empty);
    ASSERT_NE(empty_copy, nullptr); // empty is not absent
    EXPECT_EQ(ic_str_zarray_len(empty_copy), 0u);

    EXPECT_EQ(ic_str_zarray_copy(nullptr), nullptr);
    EXPECT_EQ(ic_str_zarray_len(nullptr), 0u);

    char **joined = ic_str_zarray_create2(a, empty, copy, nullptr);
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(strings_of(joined), (std::vector<std::string>{"*.exe", "*.dll", "*.exe", "*.dll"}));

    for (char **x : {a, copy, empty, empty_copy, joined})
        ic_str_zarray_destroy(x);
    ic_str_zarray_destroy(nullptr);
}

TEST(FsStrBuf, InitAppendTruncate)
{
    fs_str_buf b;
    ASSERT_EQ(_fs_str_buf_init(&b, "/mnt", "/vol", nullptr), IC_OK);
    EXPECT_STREQ(b.str, "/mnt/vol");
    EXPECT_EQ(b.length, 8u);
    EXPECT_EQ(b.capacity, 9u); // exactly length + 1

    ASSERT_EQ(_fs_str_buf_append(&b, "/", "dir", nullptr), IC_OK);
    EXPECT_STREQ(b.str, "/mnt/vol/dir");
    EXPECT_EQ(b.capacity, 13u);

    _fs_str_buf_truncate(&b, 8);
    EXPECT_STREQ(b.str, "/mnt/vol");
    // Room is left from before: no reallocation, same block.
    const char *block = b.str;
    ASSERT_EQ(_fs_str_buf_append(&b, "/f", nullptr), IC_OK);
    EXPECT_EQ(b.str, block);
    EXPECT_STREQ(b.str, "/mnt/vol/f");
    EXPECT_EQ(b.capacity, 13u);

    // The buffer's own string may be appended, also when it must grow.
    ASSERT_EQ(_fs_str_buf_append(&b, b.str, b.str, nullptr), IC_OK);
    EXPECT_STREQ(b.str, "/mnt/vol/f/mnt/vol/f/mnt/vol/f");
    EXPECT_EQ(b.length, 30u);

    _fs_str_buf_free(&b);
    EXPECT_EQ(b.str, nullptr);
    EXPECT_EQ(b.length, 0u);

    ASSERT_EQ(_fs_str_buf_init(&b, nullptr), IC_OK);
    EXPECT_STREQ(b.str, "");
    _fs_str_buf_free(&b);
}

// Links are made in a temporary directory that stands for /sys.
class ResolveLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(root_ / "sys/block/sda");
        fs::create_directories(root_ / "sys/devices/pci0000:00/0000:00:1f.2/host0");
    }
    std::string link(const std::string &where, const std::string &target)
    {
        fs::path p = root_ / where;
        fs::create_symlink(target, p);
        return p.string();
    }
    simtest::TempDir tmp_{"ic_util_link"};
    fs::path root_ = tmp_.path();
};

TEST_F(ResolveLink, ClimbsTheTargetsStepsAndAppendsTheRest)
{
    struct row {
        const char *link, *target, *expect;
    } rows[] = {
        {"sys/block/sda/device", "../../devices/pci0000:00/0000:00:1f.2/host0",
         "sys/devices/pci0000:00/0000:00:1f.2/host0"},
        {"sys/block/sda/self", "sda", "sys/block/sda/sda"},
        {"sys/block/sda/up", "../x", "sys/block/x"},
        // A link to itself reads fine: nothing is followed.
        {"sys/block/sda/loop", "loop", "sys/block/sda/loop"},
    };
    for (const row &r : rows) {
        std::string path = link(r.link, r.target);
        char buf[PATH_MAX];
        std::strcpy(buf, path.c_str());
        EXPECT_EQ(ic_util_resolve_link(buf, sizeof buf), 0) << r.link;
        EXPECT_EQ(std::string(buf), (root_ / r.expect).string());
    }
}

TEST_F(ResolveLink, RefusesWhatItCannotResolve)
{
    char buf[PATH_MAX];

    // Not a link.
    std::strcpy(buf, (root_ / "sys/block/sda").c_str());
    EXPECT_EQ(ic_util_resolve_link(buf, sizeof buf), -1);

    // A target of 1024 bytes; one of 1023 is read.
    std::string name = "sys/block/sda/long";
    link(name, std::string(1024, 'a'));
    std::strcpy(buf, (root_ / name).c_str());
    EXPECT_EQ(ic_util_resolve_link(buf, sizeof buf), -1);
    link(name + "2", std::string(1023, 'a'));
    std::strcpy(buf, (root_ / (name + "2")).c_str());
    EXPECT_EQ(ic_util_resolve_link(buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), (root_ / "sys/block/sda" / std::string(1023, 'a')).string());
}

TEST_F(ResolveLink, TooFewComponents)
{
    // Relative paths: the component before the link's own must exist and
    // be preceded by a slash.
    fs::path cwd = fs::current_path();
    fs::current_path(root_);
    link("rel", "x");
    link("up1", "../x");
    struct row {
        const char *path;
    } rows[] = {{"rel"}, {"./up1"}};
    for (const row &r : rows) {
        char buf[64];
        std::strcpy(buf, r.path);
        EXPECT_EQ(ic_util_resolve_link(buf, sizeof buf), -1) << r.path;
        EXPECT_STREQ(buf, r.path);
    }
    fs::current_path(cwd);

    // An absolute path whose link climbs above "/".
    std::string up;
    for (int i = 0; i < 12; ++i)
        up += "../";
    std::string path = link("sys/block/sda/deep", up + "x");
    char buf[PATH_MAX];
    std::strcpy(buf, path.c_str());
    EXPECT_EQ(ic_util_resolve_link(buf, sizeof buf), -1);
    EXPECT_EQ(std::string(buf), path);
}

TEST_F(ResolveLink, ResultThatDoesNotFitLeavesPathUnchanged)
{
    std::string path = link("sys/block/sda/device", "../../devices/pci0000:00/0000:00:1f.2/host0");
    std::string expect = (root_ / "sys/devices/pci0000:00/0000:00:1f.2/host0").string();
    std::vector<char> buf(expect.size() + 1);
    ASSERT_LE(path.size(), expect.size());

    std::strcpy(buf.data(), path.c_str());
    EXPECT_EQ(ic_util_resolve_link(buf.data(), buf.size() - 1), -1);
    EXPECT_EQ(std::string(buf.data()), path);

    EXPECT_EQ(ic_util_resolve_link(buf.data(), buf.size()), 0);
    EXPECT_EQ(std::string(buf.data()), expect);
}

TEST_F(ResolveLink, AbsoluteTargetReplacesThePath)
{
    std::string path = link("sys/block/sda/abs", "/sys/devices/virtual/block/loop0");
    char buf[PATH_MAX];
    std::strcpy(buf, path.c_str());
    EXPECT_EQ(ic_util_resolve_link(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "/sys/devices/virtual/block/loop0");
}

} // namespace
