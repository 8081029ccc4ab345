// The check: result flags of files, directory hashes and per-file
// listings, item paths and their order.
#include "ocl_support.h"

#include <functional>

namespace {

using namespace ocltest;

constexpr time_t kThen = 1600000000;

struct Object {
    bool dir;
    const char *path;
    uint16_t flags;
    std::vector<const char *> masks; // empty: none
};

// A fixed tree, every mtime set to kThen.
void make_tree(const std::string &root)
{
    write(root + "/f", "file");
    write(root + "/d/a.exe", "A");
    write(root + "/d/b.txt", "B");
    write(root + "/d/s/c.exe", "C");
    write(root + "/d/s/t/deep", "D");
    for (const auto &e : std::filesystem::recursive_directory_iterator(root))
        set_mtime(e.path(), kThen);
}

void add(fs_ocl *ocl, const std::string &root, const Object &o)
{
    std::vector<const char *> masks = o.masks;
    masks.push_back(nullptr);
    const int rc = o.dir ? fs_ocl_add_dir(ocl, root.c_str(), o.path, o.masks.empty() ? nullptr : masks.data(),
                                          o.flags, nullptr)
                         : fs_ocl_add_file(ocl, root.c_str(), o.path, o.flags, nullptr);
    ASSERT_EQ(rc, FS_OCL_OK) << o.path;
}

TEST(OclCheck, Changes)
{
    constexpr uint16_t all = 15, each = FS_OCL_EACH_FILE | FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA;
    const struct {
        const char *what;
        std::vector<Object> objects;
        std::function<void(const std::string &)> change;
        Results expected;
    } cases[] = {
        {"nothing changed", {{false, "/f", 12, {}}, {true, "/d", all, {}}, {true, "/d", 4, {}}},
         [](const std::string &) {}, {}},
        {"file replaced by a directory", {{false, "/f", 12, {}}},
         [](const std::string &r) {
             std::filesystem::remove(r + "/f");
             std::filesystem::create_directory(r + "/f");
         },
         {{"/f", FS_OCL_FILE_MISSING}}},
        {"modification time alone", {{false, "/f", 12, {}}, {true, "/d", all, {}}},
         [](const std::string &r) {
             set_mtime(r + "/f", kThen + 1);
             set_mtime(r + "/d/s/c.exe", kThen + 1);
         },
         {{"/f", FS_OCL_MTIME_CHANGED}, {"/d/s/c.exe", FS_OCL_MTIME_CHANGED}}},
        {"same size and time, other bytes", {{false, "/f", 12, {}}},
         [](const std::string &r) {
             write(r + "/f", "FILE");
             set_mtime(r + "/f", kThen);
         },
         {{"/f", FS_OCL_DATA_CHANGED}}},
        {"mode, owner and group", {{false, "/f", FS_OCL_CONTROL_ATTRS, {}}},
         [](const std::string &r) {
             ASSERT_EQ(chmod((r + "/f").c_str(), 0600), 0);
             ASSERT_EQ(lchown((r + "/f").c_str(), 4321, 8765), 0);
         },
         {{"/f", FS_OCL_MODE_CHANGED | FS_OCL_UID_CHANGED | FS_OCL_GID_CHANGED}}},
        {"presence only: a changed file is fine", {{false, "/f", 0, {}}, {true, "/d", FS_OCL_EACH_FILE, {}}},
         [](const std::string &r) {
             write(r + "/f", "changed");
             write(r + "/d/a.exe", "changed");
         },
         {}},
        {"presence only: a removed file is not", {{false, "/f", 0, {}}, {true, "/d", FS_OCL_EACH_FILE, {}}},
         [](const std::string &r) {
             std::filesystem::remove(r + "/f");
             std::filesystem::remove(r + "/d/b.txt");
         },
         {{"/f", FS_OCL_FILE_MISSING}, {"/d/b.txt", FS_OCL_FILE_MISSING}}},
        {"directory hash: a new matching file", {{true, "/d", FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA, {"*.exe"}}},
         [](const std::string &r) { write(r + "/d/s/t/new.exe", "N"); }, {{"/d/", FS_OCL_DIR_HASH_CHANGED}}},
        {"directory hash: a new file that does not match",
         {{true, "/d", FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA, {"*.exe"}}},
         [](const std::string &r) { write(r + "/d/s/t/new.txt", "N"); }, {}},
        {"directory hash: contents of a matching file", {{true, "/d", FS_OCL_CONTROL_DATA, {"*.exe"}}},
         [](const std::string &r) { write(r + "/d/a.exe", "a"); }, {{"/d/", FS_OCL_DIR_HASH_CHANGED}}},
        {"directory hash: a new empty subdirectory", {{true, "/d", FS_OCL_RECURSIVE | all, {}}},
         [](const std::string &r) { std::filesystem::create_directories(r + "/d/e/e"); }, {}},
        {"new file in a new subdirectory two levels down", {{true, "/d", each, {}}},
         [](const std::string &r) { write(r + "/d/n1/n2/new.txt", "N"); }, {{"/d/n1/n2/new.txt", FS_OCL_NEW_FILE}}},
        {"missing directories", {{true, "/d", each, {}}, {true, "/d/s/t", 4, {}}},
         [](const std::string &r) { std::filesystem::remove_all(r + "/d/s"); },
         {{"/d/s/", FS_OCL_DIR_MISSING}, {"/d/s/t/", FS_OCL_DIR_MISSING}}},
        {"directory attributes", {{true, "/d", all, {}}},
         [](const std::string &r) {
             ASSERT_EQ(chmod((r + "/d/s").c_str(), 0700), 0);
             ASSERT_EQ(lchown((r + "/d").c_str(), 4321, -1), 0);
         },
         {{"/d/", FS_OCL_DIR_UID_CHANGED}, {"/d/s/", FS_OCL_DIR_MODE_CHANGED}}},
        {"masks apply to new files", {{true, "/d", all, {"*.exe"}}},
         [](const std::string &r) {
             write(r + "/d/new.txt", "x");
             write(r + "/d/s/new.exe", "x");
         },
         {{"/d/s/new.exe", FS_OCL_NEW_FILE}}},
        {"subdirectories only with recursion", {{true, "/d", FS_OCL_EACH_FILE | FS_OCL_CONTROL_DATA, {}}},
         [](const std::string &r) {
             std::filesystem::remove_all(r + "/d/s");
             write(r + "/d/n/new", "x");
         },
         {}},
        {"a file replaced by a link to it", {{true, "/d", FS_OCL_EACH_FILE | FS_OCL_CONTROL_DATA, {}}},
         [](const std::string &r) {
             std::filesystem::rename(r + "/d/b.txt", r + "/d/b.orig");
             ASSERT_EQ(symlink("b.orig", (r + "/d/b.txt").c_str()), 0);
         },
         {{"/d/b.txt", FS_OCL_DATA_CHANGED}, {"/d/b.orig", FS_OCL_NEW_FILE}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        simtest::TempDir tmp("ocl-check");
        make_tree(tmp.path());
        auto ocl = make_ocl();
        for (const Object &o : c.objects)
            add(ocl.get(), tmp.path(), o);
        c.change(tmp.path());
        EXPECT_EQ(check(ocl.get(), tmp.path()), c.expected);
    }
}

TEST(OclCheck, ItemsComeInMergeOrder)
{
    simtest::TempDir tmp("ocl-check");
    const std::string r = tmp.path();
    write(r + "/d/b/f", "b");
    write(r + "/d/k/f", "k");
    write(r + "/d/m", "m");
    write(r + "/d/z", "z");
    auto ocl = make_ocl();
    add(ocl.get(), r, {true, "/d", 15, {}});
    ASSERT_EQ(chmod((r + "/d").c_str(), 0711), 0);
    write(r + "/d/a/x", "new");
    write(r + "/d/a/s/y", "new");
    std::filesystem::remove_all(r + "/d/b");
    write(r + "/d/k/f", "K");
    write(r + "/d/c", "new");
    std::filesystem::remove(r + "/d/z");

    fs_ocl_check_info *c = nullptr;
    ASSERT_EQ(fs_ocl_check_info_create(ocl.get(), r.c_str(), &c), FS_OCL_OK);
    ic_fs::ocl_check_ptr guard(c);
    ASSERT_EQ(c->count, 1u);
    const fs_ocl_check_object *o = fs_ocl_check_find_object(c, "/d");
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->variant, uint32_t(FS_OCL_CHECK_DIR));
    std::vector<std::pair<std::string, uint32_t>> items;
    for (const fs_ocl_check_dir_item *i = fs_ocl_check_first_dir_item(o); i; i = fs_ocl_check_next_dir_item(i))
        items.emplace_back(i->path, i->flags & ~uint32_t(FS_OCL_MTIME_CHANGED));
    const std::vector<std::pair<std::string, uint32_t>> expected = {
        {"/", FS_OCL_DIR_MODE_CHANGED},
        {"/a/s/y", FS_OCL_NEW_FILE}, // a new directory: its subdirectories' files first
        {"/a/x", FS_OCL_NEW_FILE},
        {"/b/", FS_OCL_DIR_MISSING},
        {"/k/f", FS_OCL_DATA_CHANGED},
        {"/c", FS_OCL_NEW_FILE},
        {"/z", FS_OCL_FILE_MISSING},
    };
    EXPECT_EQ(items, expected);
}

TEST(OclCheck, MissingMountDirectoryIsAnError)
{
    auto ocl = make_ocl();
    ASSERT_EQ(fs_ocl_add_file_info(ocl.get(), "/f", 0, nullptr, nullptr, nullptr), FS_OCL_OK);
    fs_ocl_check_info *c = nullptr;
    EXPECT_EQ(fs_ocl_check_info_create(ocl.get(), "/nonexistent/mount", &c), FS_OCL_ERR_IO);
    EXPECT_EQ(c, nullptr);
}

} // namespace
