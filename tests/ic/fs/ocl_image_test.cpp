// Object check list: list operations and the byte image.
#include "ocl_support.h"

#include <cstdlib>

namespace {

using namespace ocltest;

int read_image(const std::string &image, ic_fs::ocl_ptr *out = nullptr)
{
    fs_ocl *o = nullptr;
    const int rc = fs_ocl_read_from_mem(image.data(), uint32_t(image.size()), &o);
    ic_fs::ocl_ptr p(o);
    if (out)
        *out = std::move(p);
    return rc;
}

std::string str(const std::string &s)
{
    return le(uint32_t(s.size()), 2) + s;
}

TEST(OclImage, EmptyListIsFourZeroBytes)
{
    auto ocl = make_ocl();
    EXPECT_EQ(image_of(ocl.get()), std::string(4, '\0'));
    ic_fs::ocl_ptr back;
    ASSERT_EQ(read_image(std::string(4, '\0'), &back), FS_OCL_OK);
    EXPECT_EQ(back->count, 0u);
    EXPECT_EQ(fs_ocl_first_object(back.get()), nullptr);
}

TEST(OclImage, FileRecordLayout)
{
    auto ocl = make_ocl();
    const Digest h = gost("contents");
    const fs_ocl_file_attrs a{0100644, 1000, 100, 8, 1700000000};
    ASSERT_EQ(fs_ocl_add_file_info(ocl.get(), "/f", FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS, h.data(), &a, nullptr),
              FS_OCL_OK);
    ASSERT_EQ(fs_ocl_add_file_info(ocl.get(), "/p", 0, nullptr, nullptr, nullptr), FS_OCL_OK);
    const std::string expected = le(2, 4) +                                                  //
                                 le(0, 2) + str("/f") + le(12 | FS_OCL_FORM_2_MARK, 2) + bytes(h) + //
                                 le(0100644, 4) + le(1000, 2) + le(100, 2) + le(8, 4) + le(1700000000, 4) +
                                 le(0, 2) + str("/p") + le(FS_OCL_FORM_2_MARK, 2);
    EXPECT_EQ(image_of(ocl.get()), expected);
}

TEST(OclImage, ListingLayoutAndRoundTrip)
{
    simtest::TempDir tmp("ocl-image");
    write(tmp / "d/a", "A");
    write(tmp / "d/sub/b", "B");
    std::filesystem::create_directories(tmp / "d/sub/empty");
    auto ocl = make_ocl();
    ASSERT_EQ(fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), "/d", nullptr,
                             FS_OCL_EACH_FILE | FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA, nullptr),
              FS_OCL_OK);
    // The empty subdirectory is left out.
    const std::string expected = le(1, 4) + le(1, 2) + str("/d") + le(0, 2) + le(7 | FS_OCL_FORM_2_MARK, 2) + //
                                 le(1, 4) + str("sub") + le(0, 4) + le(1, 4) + str("b") + bytes(gost("B")) +
                                 le(1, 4) + str("a") + bytes(gost("A"));
    const std::string image = image_of(ocl.get());
    EXPECT_EQ(image, expected);

    ic_fs::ocl_ptr back;
    ASSERT_EQ(read_image(image, &back), FS_OCL_OK);
    EXPECT_EQ(image_of(back.get()), image);
    EXPECT_TRUE(check(back.get(), tmp.path()).empty());
}

TEST(OclImage, EveryKindOfObjectReadsBackIdentically)
{
    simtest::TempDir tmp("ocl-image");
    write(tmp / "etc/hosts", "127.0.0.1 localhost\n");
    write(tmp / "bin/tool.exe", "MZ");
    write(tmp / "bin/readme.txt", "text");
    write(tmp / "bin/lib/x.exe", "x");
    ASSERT_EQ(symlink("hosts", (tmp / "etc/link").c_str()), 0);
    const char *exe[] = {"*.exe", "*.dll", nullptr};
    const struct {
        bool dir;
        const char *path;
        uint16_t flags;
        const char *const *masks;
    } objects[] = {
        {false, "/etc/hosts", FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS, nullptr},
        {false, "/etc/link", FS_OCL_CONTROL_DATA, nullptr},
        {false, "/bin/readme.txt", 0, nullptr},
        {true, "/bin", FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS, exe},
        {true, "/", 15, nullptr},
        {true, "/etc", FS_OCL_EACH_FILE, nullptr},
        {true, "/bin/lib", FS_OCL_EACH_FILE | FS_OCL_CONTROL_ATTRS, exe},
    };
    auto ocl = make_ocl();
    for (const auto &o : objects) {
        SCOPED_TRACE(o.path);
        const int rc = o.dir ? fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), o.path, o.masks, o.flags, nullptr)
                             : fs_ocl_add_file(ocl.get(), tmp.path().c_str(), o.path, o.flags, nullptr);
        ASSERT_EQ(rc, FS_OCL_OK);
    }
    const std::string image = image_of(ocl.get());
    ic_fs::ocl_ptr back;
    ASSERT_EQ(read_image(image, &back), FS_OCL_OK);
    EXPECT_EQ(back->count, 7u);
    EXPECT_EQ(image_of(back.get()), image);
    EXPECT_TRUE(check(back.get(), tmp.path()).empty());
    // Path order.
    std::vector<std::string> paths;
    for (const fs_ocl_object *o = fs_ocl_first_object(back.get()); o; o = fs_ocl_next_object(back.get(), o))
        paths.push_back(o->path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/", "/bin", "/bin/lib", "/bin/readme.txt", "/etc", "/etc/hosts",
                                               "/etc/link"}));
}

TEST(OclImage, MalformedImagesFailWithOne)
{
    const std::string file = le(0, 2) + str("/f") + le(0, 2);
    const std::string listing_dir = le(1, 2) + str("/d") + le(0, 2) + le(FS_OCL_EACH_FILE, 2);
    const struct {
        const char *what;
        std::string image;
    } cases[] = {
        {"unknown type", le(1, 4) + le(2, 2) + str("/f") + le(0, 2)},
        {"path without slash", le(1, 4) + le(0, 2) + str("f") + le(0, 2)},
        {"empty path", le(1, 4) + le(0, 2) + str("") + le(0, 2)},
        {"NUL inside a path", le(1, 4) + le(0, 2) + str(std::string("/a\0b", 4)) + le(0, 2)},
        {"same path twice", le(2, 4) + file + file},
        {"more objects than bytes", le(0x10000000, 4) + file},
        {"trailing bytes", le(1, 4) + file + "x"},
        {"missing hash", le(1, 4) + le(0, 2) + str("/f") + le(FS_OCL_CONTROL_DATA, 2) + std::string(31, 'h')},
        {"listing name with a slash", le(1, 4) + listing_dir + le(0, 4) + le(1, 4) + str("a/b")},
        {"listing name ..", le(1, 4) + listing_dir + le(0, 4) + le(1, 4) + str("..")},
        {"empty listing name", le(1, 4) + listing_dir + le(0, 4) + le(1, 4) + str("")},
        {"unsorted names", le(1, 4) + listing_dir + le(0, 4) + le(2, 4) + str("b") + str("a")},
        {"repeated name", le(1, 4) + listing_dir + le(0, 4) + le(2, 4) + str("a") + str("a")},
        {"huge file count", le(1, 4) + listing_dir + le(0, 4) + le(0xFFFFFFFF, 4)},
        {"huge mask count", le(1, 4) + le(1, 2) + str("/d") + le(0xFFFF, 2)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(read_image(c.image), FS_OCL_ERR_IO);
    }
}

TEST(OclImage, EveryTruncationFails)
{
    simtest::TempDir tmp("ocl-image");
    write(tmp / "d/sub/b", "B");
    write(tmp / "d/a", "A");
    auto ocl = make_ocl();
    ASSERT_EQ(fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), "/d", nullptr, 15, nullptr), FS_OCL_OK);
    const char *masks[] = {"a*", nullptr};
    ASSERT_EQ(fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), "/d/sub", masks, FS_OCL_CONTROL_ATTRS, nullptr),
              FS_OCL_OK);
    const std::string image = image_of(ocl.get());
    for (size_t n = 0; n < image.size(); ++n)
        ASSERT_EQ(read_image(image.substr(0, n)), FS_OCL_ERR_IO) << n << " bytes";
    EXPECT_EQ(read_image(image), FS_OCL_OK);
}

TEST(OclList, SamePathTwiceKeepsOneObjectWithTheSecondFlags)
{
    simtest::TempDir tmp("ocl-list");
    write(tmp / "f", "data");
    auto ocl = make_ocl();
    fs_ocl_object *first = nullptr, *second = nullptr;
    ASSERT_EQ(fs_ocl_add_file(ocl.get(), tmp.path().c_str(), "/f", 12, &first), FS_OCL_OK);
    ASSERT_EQ(fs_ocl_add_file(ocl.get(), tmp.path().c_str(), "/f", 4, &second), FS_OCL_OK);
    EXPECT_EQ(ocl->count, 1u);
    EXPECT_EQ(fs_ocl_find_object(ocl.get(), "/f"), second);
    EXPECT_EQ(second->flags, 4);
    EXPECT_EQ(image_of(ocl.get()).size(), 4 + 2 + 4 + 2 + 32u);

    EXPECT_EQ(fs_ocl_remove_object(ocl.get(), "/f"), FS_OCL_OK);
    EXPECT_EQ(fs_ocl_remove_object(ocl.get(), "/f"), FS_OCL_ERR_NOTFOUND);
    EXPECT_EQ(ocl->count, 0u);
    EXPECT_EQ(image_of(ocl.get()), std::string(4, '\0'));
}

TEST(OclList, EmptyMaskListMeansEveryFileAndSurvivesTheImage)
{
    // The image cannot tell an empty mask list from none: both are recorded
    // as none, so that the list reads back as it was checked.
    simtest::TempDir tmp("ocl-list");
    write(tmp / "d/a", "A");
    const char *none[] = {nullptr};
    auto ocl = make_ocl();
    fs_ocl_object *o = nullptr;
    ASSERT_EQ(fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), "/d", none, FS_OCL_CONTROL_DATA, &o), FS_OCL_OK);
    EXPECT_EQ(reinterpret_cast<fs_ocl_dir *>(o)->masks, nullptr);
    ic_fs::ocl_ptr back;
    ASSERT_EQ(read_image(image_of(ocl.get()), &back), FS_OCL_OK);
    EXPECT_TRUE(check(back.get(), tmp.path()).empty());
}

TEST(OclList, InvalidArguments)
{
    auto ocl = make_ocl();
    const Digest h = gost("");
    EXPECT_EQ(fs_ocl_add_file_info(ocl.get(), "f", 0, nullptr, nullptr, nullptr), FS_OCL_ERR_INVAL);
    EXPECT_EQ(fs_ocl_add_file_info(ocl.get(), "/f", FS_OCL_CONTROL_DATA, nullptr, nullptr, nullptr), FS_OCL_ERR_INVAL);
    EXPECT_EQ(fs_ocl_add_file_info(ocl.get(), "/f", FS_OCL_CONTROL_ATTRS, h.data(), nullptr, nullptr), FS_OCL_ERR_INVAL);
    EXPECT_EQ(fs_ocl_add_file(ocl.get(), "/tmp", "etc/hosts", 12, nullptr), FS_OCL_ERR_INVAL);
    EXPECT_EQ(fs_ocl_add_dir(ocl.get(), "/tmp", "etc", nullptr, 15, nullptr), FS_OCL_ERR_INVAL);
    EXPECT_EQ(ocl->count, 0u);
}

} // namespace
