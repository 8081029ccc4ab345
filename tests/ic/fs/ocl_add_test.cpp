// Adding files and directories: hashes, listings, attributes and the
// failures that leave the list as it was.
#include "ocl_support.h"

#include <functional>

namespace {

using namespace ocltest;

std::string attrs_bytes(const std::string &path, bool file)
{
    struct stat st;
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    std::string s = le(st.st_mode, 4) + le(st.st_uid, 2) + le(st.st_gid, 2);
    if (file)
        s += le(uint32_t(st.st_size), 4) + le(uint32_t(uint64_t(st.st_size) >> 32), 4) + le(uint32_t(st.st_mtime), 4);
    return s;
}

class OclAdd : public ::testing::Test {
protected:
    simtest::TempDir tmp_{"ocl-add"};
    const std::string root_ = tmp_.path();
    ic_fs::ocl_ptr ocl_ = make_ocl();

    fs_ocl_object *add_dir(const char *path, uint16_t flags, const char *const *masks = nullptr)
    {
        fs_ocl_object *o = nullptr;
        EXPECT_EQ(fs_ocl_add_dir(ocl_.get(), root_.c_str(), path, masks, flags, &o), FS_OCL_OK) << path;
        return o;
    }
    fs_ocl_file *add_file(const char *path, uint16_t flags)
    {
        fs_ocl_object *o = nullptr;
        EXPECT_EQ(fs_ocl_add_file(ocl_.get(), root_.c_str(), path, flags, &o), FS_OCL_OK) << path;
        return reinterpret_cast<fs_ocl_file *>(o);
    }
};

TEST_F(OclAdd, DirectoryHashes)
{
    const char *exe[] = {"*.exe", nullptr};
    const struct {
        const char *what;
        std::function<void(const std::string &)> make;
        uint16_t flags;
        const char *const *masks;
        std::function<std::string(const std::string &)> inner; // bytes fed to the inner hash
    } cases[] = {
        {"masks without recursion take the matching files of the level only",
         [](const std::string &d) {
             write(d + "/a.exe", "A");
             write(d + "/b.txt", "B");
             write(d + "/sub/c.exe", "C");
         },
         FS_OCL_CONTROL_DATA, exe, [](const std::string &) { return hashed_name(2, "a.exe") + bytes(gost("A")); }},
        {"names only", [](const std::string &d) { write(d + "/x", "X"); }, 0, nullptr,
         [](const std::string &) { return hashed_name(2, "x"); }},
        {"empty directory", [](const std::string &) {}, FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS, nullptr,
         [](const std::string &) { return std::string(); }},
        {"subdirectories first, empty ones left out",
         [](const std::string &d) {
             write(d + "/x", "X");
             write(d + "/s/y", "Y");
             std::filesystem::create_directories(d + "/e/e2");
         },
         FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA, nullptr,
         [](const std::string &) {
             return hashed_name(1, "s") + bytes(gost(hashed_name(2, "y") + bytes(gost("Y")))) + hashed_name(2, "x") +
                    bytes(gost("X"));
         }},
        {"attributes of files and subdirectories",
         [](const std::string &d) {
             write(d + "/s/f", "F");
             chmod((d + "/s").c_str(), 0750);
             write(d + "/g", "G");
         },
         FS_OCL_RECURSIVE | FS_OCL_CONTROL_ATTRS, nullptr,
         [](const std::string &d) {
             return hashed_name(1, "s") + bytes(gost(hashed_name(2, "f") + attrs_bytes(d + "/s/f", true))) +
                    attrs_bytes(d + "/s", false) + hashed_name(2, "g") + attrs_bytes(d + "/g", true);
         }},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string rel = "/d" + std::to_string(n++);
        const std::string dir = root_ + rel;
        std::filesystem::create_directories(dir);
        c.make(dir);
        auto *d = reinterpret_cast<fs_ocl_dir *>(add_dir(rel.c_str(), c.flags, c.masks));
        ASSERT_NE(d, nullptr);
        std::string outer = bytes(gost(c.inner(dir)));
        if (c.flags & FS_OCL_CONTROL_ATTRS)
            outer += attrs_bytes(dir, false);
        EXPECT_EQ(hex(d->hash, 32), hex(gost(outer).data(), 32));
        EXPECT_TRUE(check(ocl_.get(), root_).empty());
    }
}

TEST_F(OclAdd, EmptyDirectoryListingHasNoEntries)
{
    std::filesystem::create_directories(root_ + "/d/empty");
    auto *d = reinterpret_cast<fs_ocl_dir *>(add_dir("/d", 15));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->info.dir_count, 0);
    EXPECT_EQ(d->info.file_count, 0);
    struct stat st;
    ASSERT_EQ(lstat((root_ + "/d").c_str(), &st), 0);
    EXPECT_EQ(d->attrs.mode, st.st_mode);
}

TEST_F(OclAdd, ListingKeepsSortedNamesHashesAndAttributes)
{
    write(root_ + "/d/b", "bb");
    write(root_ + "/d/a", "a");
    write(root_ + "/d/s/t/deep", "deep");
    write(root_ + "/d/s/skip.txt", "no");
    const char *masks[] = {"a", "b", "deep", nullptr};
    auto *d = reinterpret_cast<fs_ocl_dir *>(add_dir("/d", 15, masks));
    ASSERT_NE(d, nullptr);
    const fs_ocl_dir_info &top = d->info;
    ASSERT_EQ(top.file_count, 2);
    EXPECT_STREQ(top.file_names[0], "a");
    EXPECT_STREQ(top.file_names[1], "b");
    EXPECT_EQ(hex(top.file_hashes[1], 32), hex(gost("bb").data(), 32));
    EXPECT_EQ(top.file_attrs[1].size, 2u);
    // s holds no matching file of its own, but t does.
    ASSERT_EQ(top.dir_count, 1);
    EXPECT_STREQ(top.dir_names[0], "s");
    ASSERT_EQ(top.dirs[0].dir_count, 1);
    EXPECT_EQ(top.dirs[0].file_count, 0);
    EXPECT_STREQ(top.dirs[0].dirs[0].file_names[0], "deep");
}

TEST_F(OclAdd, SymbolicLinkIsHashedByItsText)
{
    write(root_ + "/target", "the target's contents");
    ASSERT_EQ(symlink("target", (root_ + "/link").c_str()), 0);
    ASSERT_EQ(symlink("/nowhere/at/all", (root_ + "/dangling").c_str()), 0);
    EXPECT_EQ(hex(add_file("/link", 12)->hash, 32), hex(gost("target").data(), 32));
    fs_ocl_file *dangling = add_file("/dangling", 12);
    EXPECT_EQ(hex(dangling->hash, 32), hex(gost("/nowhere/at/all").data(), 32));
    EXPECT_TRUE(S_ISLNK(dangling->attrs.mode));
    EXPECT_EQ(dangling->attrs.size, 15u);
}

TEST_F(OclAdd, FourGibFileKeepsItsWholeSize)
{
    const std::string big = root_ + "/big";
    write(big, "");
    ASSERT_EQ(truncate(big.c_str(), (off_t(1) << 32) + 5), 0); // sparse
    EXPECT_EQ(add_file("/big", FS_OCL_CONTROL_ATTRS)->attrs.size, (uint64_t(1) << 32) + 5);
    EXPECT_TRUE(check(ocl_.get(), root_).empty());
}

TEST_F(OclAdd, PathsStayInsideTheVolume)
{
    // An absolute link and ".." resolve against the volume's root, not the
    // running system's.
    write(root_ + "/real/etc/passwd", "the volume's");
    ASSERT_EQ(symlink("/real/etc", (root_ + "/etc").c_str()), 0);
    EXPECT_EQ(hex(add_file("/etc/passwd", FS_OCL_CONTROL_DATA)->hash, 32), hex(gost("the volume's").data(), 32));
    EXPECT_EQ(hex(add_file("/../../real/etc/passwd", FS_OCL_CONTROL_DATA)->hash, 32),
              hex(gost("the volume's").data(), 32));
    EXPECT_EQ(fs_ocl_add_file(ocl_.get(), root_.c_str(), "/../../../proc/self/status", 4, nullptr),
              FS_OCL_ERR_MISSING);
}

TEST_F(OclAdd, FailuresLeaveTheListAsItWas)
{
    write(root_ + "/file", "f");
    write(root_ + "/dir/x", "x");
    ASSERT_EQ(mkfifo((root_ + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("loop", (root_ + "/loop").c_str()), 0);
    // A tree deeper than a path can name.
    std::string deep = root_ + "/deep";
    std::filesystem::create_directories(deep);
    const std::string part(200, 'p');
    ASSERT_EQ(chdir(deep.c_str()), 0);
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(mkdir(part.c_str(), 0755), 0);
        ASSERT_EQ(chdir(part.c_str()), 0);
    }
    { std::ofstream(part) << "leaf"; }
    ASSERT_EQ(chdir("/"), 0);
    add_file("/file", 12);
    const std::string before = [&] {
        uint8_t *data;
        uint32_t size;
        EXPECT_EQ(fs_ocl_write_to_mem(ocl_.get(), &data, &size), FS_OCL_OK);
        std::string s(reinterpret_cast<char *>(data), size);
        std::free(data);
        return s;
    }();

    const std::string long_name = "/" + std::string(300, 'n');
    const struct {
        bool dir;
        std::string path;
        uint16_t flags;
        int rc;
    } cases[] = {
        {false, "/missing", 12, FS_OCL_ERR_MISSING},
        {false, "/dir", 12, FS_OCL_ERR_MISSING},
        {false, "/fifo", 12, FS_OCL_ERR_MISSING},
        {true, "/file", 15, FS_OCL_ERR_MISSING},
        {true, "/loop", 15, FS_OCL_ERR_MISSING},
        {false, "/loop/x", 12, FS_OCL_ERR_LOOP},
        {false, long_name, 12, FS_OCL_ERR_NAME_TOO_LONG},
        {true, "/deep", FS_OCL_RECURSIVE, FS_OCL_ERR_NAME_TOO_LONG},
        {true, "/deep", 15, FS_OCL_ERR_NAME_TOO_LONG},
        {false, "file", 12, FS_OCL_ERR_INVAL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        fs_ocl_object *o = nullptr;
        const int rc = c.dir ? fs_ocl_add_dir(ocl_.get(), root_.c_str(), c.path.c_str(), nullptr, c.flags, &o)
                             : fs_ocl_add_file(ocl_.get(), root_.c_str(), c.path.c_str(), c.flags, &o);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(o, nullptr);
    }
    uint8_t *data;
    uint32_t size;
    ASSERT_EQ(fs_ocl_write_to_mem(ocl_.get(), &data, &size), FS_OCL_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(data), size), before);
    std::free(data);
}

} // namespace
