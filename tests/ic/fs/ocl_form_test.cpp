// The two forms of recorded objects: lists written before the directory
// hash took name lengths still verify as they did; new ones tell apart the
// trees that fed the same bytes, keep whole sizes, and read with the old
// layout.
#include "ocl_support.h"

#include <cstdlib>
#include <functional>

namespace {

using namespace ocltest;

constexpr time_t kThen = 1600000000;

ic_fs::ocl_ptr read_image(const std::string &image)
{
    fs_ocl *o = nullptr;
    EXPECT_EQ(fs_ocl_read_from_mem(image.data(), uint32_t(image.size()), &o), FS_OCL_OK);
    return ic_fs::ocl_ptr(o);
}

std::string unhex(const char *text)
{
    std::string out;
    for (const char *p = text; p[0] && p[1]; p += 2)
        out += char(std::stoi(std::string(p, 2), nullptr, 16));
    return out;
}

// Directories n, h and e each holding ab "X", c "Y" and s/t "Z", files f
// "F" and g "G"; modes 0755 and 0644, owner root, every time kThen.
void make_recorded_tree(const std::string &root)
{
    for (const char *d : {"/n", "/h", "/e"}) {
        write(root + d + "/ab", "X");
        write(root + d + "/c", "Y");
        write(root + d + "/s/t", "Z");
    }
    write(root + "/f", "F");
    write(root + "/g", "G");
    for (const auto &e : std::filesystem::recursive_directory_iterator(root)) {
        ASSERT_EQ(chmod(e.path().c_str(), e.is_directory() ? 0755 : 0644), 0);
        ASSERT_EQ(lchown(e.path().c_str(), 0, 0), 0);
    }
    for (const auto &e : std::filesystem::recursive_directory_iterator(root))
        set_mtime(e.path(), kThen);
}

// That tree recorded by the program before lengths were fed: /n flags 0,
// /h 14, /e 15, /f 12, /g 8.
const char kRecordedBefore[] =
    "05000000010002002f6500000f00010000000100730000000001000000010074"
    "60fa5cb7be5cd595f493b005b8da5430cb7a71a37c74447ffb6da352c8daafb7"
    "a4810000000000000100000000105e5fed410000000000000200000002006162"
    "fe1a466c224c06e7d0796ca2e0a6d5613bdaa2f0fea52d967b90fb1a38797ddf"
    "a4810000000000000100000000105e5f0100639b3f6ea8ce2ee660453759c9a2"
    "6ca9c47be09b74c2bd8a6242bb6ebc9fc055cda4810000000000000100000000"
    "105e5fed41000000000000000002002f660c0016e0e24e094e2053b6049bc59a"
    "8f2d7c825cb9d2b059e6fcc8d00e3a8b0968c2a4810000000000000100000000"
    "105e5f000002002f670800a4810000000000000100000000105e5f010002002f"
    "6800000e000f97b5d52d6eec151b9bda8c7512f13706cef001fd062294b529c3"
    "b169bf6fd5010002002f6e00000000a9044cb7ce0525853200a960e9af5a52d9"
    "938ad8887aaa1a61c4dd35b6662c14";

TEST(OclForm, ListsRecordedBeforeVerifyAndWriteBackUnchanged)
{
    simtest::TempDir tmp("ocl-form");
    make_recorded_tree(tmp.path());
    const std::string before = unhex(kRecordedBefore);
    auto ocl = read_image(before);
    ASSERT_TRUE(ocl);
    for (const fs_ocl_object *o = fs_ocl_first_object(ocl.get()); o; o = fs_ocl_next_object(ocl.get(), o))
        EXPECT_EQ(o->form, FS_OCL_FORM_1) << o->path;
    EXPECT_EQ(image_of(ocl.get()), before);
    EXPECT_TRUE(check(ocl.get(), tmp.path()).empty());

    write(tmp.path() + "/h/c", "y");
    set_mtime(tmp.path() + "/h/c", kThen);
    ASSERT_EQ(truncate((tmp.path() + "/g").c_str(), 2), 0);
    set_mtime(tmp.path() + "/g", kThen);
    EXPECT_EQ(check(ocl.get(), tmp.path()), (Results{{"/h/", FS_OCL_DIR_HASH_CHANGED}, {"/g", FS_OCL_SIZE_CHANGED}}));
}

// A name that fed the same bytes as two entries before: "a" + H("A…") +
// "b", whose hash has neither a slash nor a zero byte.
std::string joined_name(std::string *a_contents)
{
    for (int i = 0;; ++i) {
        *a_contents = "A" + std::to_string(i);
        const std::string h = bytes(gost(*a_contents));
        if (h.find('/') == std::string::npos && h.find('\0') == std::string::npos)
            return "a" + h + "b";
    }
}

TEST(OclForm, DirectoryHashTellsApartTreesThatFedTheSameBytes)
{
    const struct {
        const char *what;
        uint16_t flags;
        std::function<void(const std::string &)> before, after;
    } cases[] = {
        {"two names joined into one", 0,
         [](const std::string &d) {
             write(d + "/ab", "");
             write(d + "/c", "");
         },
         [](const std::string &d) {
             std::filesystem::rename(d + "/ab", d + "/a");
             std::filesystem::rename(d + "/c", d + "/bc");
         }},
        {"two files replaced by one named after the first's hash", FS_OCL_CONTROL_DATA,
         [](const std::string &d) {
             std::string a;
             joined_name(&a);
             write(d + "/a", a);
             write(d + "/b", "B");
         },
         [](const std::string &d) {
             std::string a;
             const std::string name = joined_name(&a);
             std::filesystem::remove(d + "/a");
             std::filesystem::rename(d + "/b", d + "/" + name);
         }},
        {"a directory replaced by a file holding what its hash took", FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA,
         [](const std::string &d) { write(d + "/s/x", "X"); },
         [](const std::string &d) {
             std::filesystem::remove_all(d + "/s");
             // The entry x as the subdirectory's hash takes it: kind, length, name, content hash.
             write(d + "/s", hashed_name(2, "x") + bytes(gost("X")));
         }},
        {"a link replaced by a file holding its text", FS_OCL_CONTROL_DATA,
         [](const std::string &d) { ASSERT_EQ(symlink("/etc/target", (d + "/l").c_str()), 0); },
         [](const std::string &d) {
             std::filesystem::remove(d + "/l");
             write(d + "/l", "/etc/target");
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        simtest::TempDir tmp("ocl-form");
        const std::string d = tmp.path() + "/d";
        std::filesystem::create_directories(d);
        c.before(d);
        auto ocl = make_ocl();
        fs_ocl_object *o = nullptr;
        ASSERT_EQ(fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), "/d", nullptr, c.flags, &o), FS_OCL_OK);
        EXPECT_EQ(o->form, FS_OCL_FORM_2);
        c.after(d);
        EXPECT_EQ(check(ocl.get(), tmp.path()), (Results{{"/d/", FS_OCL_DIR_HASH_CHANGED}}));
    }
}

TEST(OclForm, DirectoryHashTakesEntriesWithKindAndLength)
{
    simtest::TempDir tmp("ocl-form");
    const std::string d = tmp.path() + "/d";
    write(d + "/s/x", "X");
    write(d + "/f", "F");
    ASSERT_EQ(symlink("f", (d + "/l").c_str()), 0);
    auto ocl = make_ocl();
    fs_ocl_object *o = nullptr;
    ASSERT_EQ(fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), "/d", nullptr, FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA, &o),
              FS_OCL_OK);
    const std::string inner_s = bytes(gost(hashed_name(2, "x") + bytes(gost("X"))));
    const std::string inner = hashed_name(1, "s") + inner_s + hashed_name(2, "f") + bytes(gost("F")) +
                              hashed_name(3, "l") + bytes(gost("f"));
    EXPECT_EQ(hex(reinterpret_cast<fs_ocl_dir *>(o)->hash, 32), hex(gost(bytes(gost(inner))).data(), 32));
}

TEST(OclForm, WholeSizes)
{
    constexpr off_t kGib4 = off_t(1) << 32;
    const struct {
        const char *what;
        bool listing; // a file of a per-file directory, else a file object
        uint16_t flags;
        off_t before, after;
        uint32_t expected;
    } cases[] = {
        {"4 GiB and more, unchanged", false, FS_OCL_CONTROL_ATTRS, kGib4 + 5, kGib4 + 5, 0},
        {"grown by 4 GiB", false, FS_OCL_CONTROL_ATTRS, 5, kGib4 + 5, FS_OCL_SIZE_CHANGED},
        {"shrunk by 4 GiB", false, FS_OCL_CONTROL_ATTRS, kGib4 + 5, 5, FS_OCL_SIZE_CHANGED},
        {"in a listing, grown by 4 GiB", true, FS_OCL_CONTROL_ATTRS, kGib4 + 5, 2 * kGib4 + 5, FS_OCL_SIZE_CHANGED},
        {"in a listing, unchanged", true, FS_OCL_CONTROL_ATTRS, 3 * kGib4, 3 * kGib4, 0},
        // Hashing a terabyte of holes would hold the check for hours.
        {"another size is changed contents, not read", false, FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS, 5,
         off_t(1) << 40, FS_OCL_SIZE_CHANGED | FS_OCL_DATA_CHANGED},
        {"in a listing too", true, FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS, 5, off_t(1) << 40,
         FS_OCL_SIZE_CHANGED | FS_OCL_DATA_CHANGED},
    };
    alarm(60); // a file that is read after all ends the test
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        simtest::TempDir tmp("ocl-form");
        const std::string file = tmp.path() + "/d/big";
        write(file, "");
        ASSERT_EQ(truncate(file.c_str(), c.before), 0);
        set_mtime(file, kThen);
        auto ocl = make_ocl();
        const uint16_t flags = c.listing ? uint16_t(c.flags | FS_OCL_EACH_FILE) : c.flags;
        const int rc = c.listing ? fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), "/d", nullptr, flags, nullptr)
                                 : fs_ocl_add_file(ocl.get(), tmp.path().c_str(), "/d/big", flags, nullptr);
        ASSERT_EQ(rc, FS_OCL_OK);
        // The size survives the byte image whole.
        auto back = read_image(image_of(ocl.get()));
        ASSERT_EQ(truncate(file.c_str(), c.after), 0);
        set_mtime(file, kThen);
        const Results expected = c.expected ? Results{{"/d/big", c.expected}} : Results{};
        EXPECT_EQ(check(back.get(), tmp.path()), expected);
    }
    alarm(0);
}

TEST(OclForm, OldRecordOfAGrownFileIsNotRead)
{
    simtest::TempDir tmp("ocl-form");
    write(tmp.path() + "/big", "12345");
    set_mtime(tmp.path() + "/big", kThen);
    struct stat st;
    ASSERT_EQ(lstat((tmp.path() + "/big").c_str(), &st), 0);
    // A form-1 record with contents and attributes.
    const std::string image = le(1, 4) + le(0, 2) + le(4, 2) + "/big" + le(12, 2) + bytes(gost("12345")) +
                              le(st.st_mode, 4) + le(st.st_uid, 2) + le(st.st_gid, 2) + le(5, 4) + le(kThen, 4);
    auto ocl = read_image(image);
    ASSERT_TRUE(ocl);
    EXPECT_TRUE(check(ocl.get(), tmp.path()).empty());
    alarm(60);
    ASSERT_EQ(truncate((tmp.path() + "/big").c_str(), (off_t(1) << 40) + 5), 0);
    set_mtime(tmp.path() + "/big", kThen);
    EXPECT_EQ(check(ocl.get(), tmp.path()), (Results{{"/big", FS_OCL_SIZE_CHANGED | FS_OCL_DATA_CHANGED}}));
    alarm(0);
}

TEST(OclForm, ImageLayoutIsTheOldOneWithAMarkAndTheSizeInTheModeWord)
{
    auto ocl = make_ocl();
    const Digest h = gost("contents");
    const fs_ocl_file_attrs a{0100644, 1000, 100, (uint64_t(0x1234) << 32) + 8, 1700000000};
    ASSERT_EQ(fs_ocl_add_file_info(ocl.get(), "/f", FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS, h.data(), &a, nullptr),
              FS_OCL_OK);
    const std::string image = image_of(ocl.get());
    EXPECT_EQ(image, le(1, 4) + le(0, 2) + le(2, 2) + "/f" + le(12 | FS_OCL_FORM_2_MARK, 2) + bytes(h) +
                         le(0x12340000 | 0100644, 4) + le(1000, 2) + le(100, 2) + le(8, 4) + le(1700000000, 4));
    auto back = read_image(image);
    const auto *f = reinterpret_cast<const fs_ocl_file *>(fs_ocl_first_object(back.get()));
    EXPECT_EQ(f->object.flags, 12);
    EXPECT_EQ(f->object.form, FS_OCL_FORM_2);
    EXPECT_EQ(f->attrs.mode, 0100644u);
    EXPECT_EQ(f->attrs.size, a.size);

    // The mark is not a flag callers may give.
    for (uint16_t flags : {uint16_t(FS_OCL_FORM_2_MARK), uint16_t(FS_OCL_FORM_2_MARK | 12)}) {
        EXPECT_EQ(fs_ocl_add_file_info(ocl.get(), "/g", flags, h.data(), &a, nullptr), FS_OCL_ERR_INVAL);
        EXPECT_EQ(fs_ocl_add_dir(ocl.get(), "/", "/", nullptr, flags, nullptr), FS_OCL_ERR_INVAL);
    }
}

// A reader that knows only form 1 takes the mark for an unknown flag: it
// reads each object with the same layout and fails where form 2 hashed or
// sized otherwise.
TEST(OclForm, AReaderOfTheOldFormReadsTheNewImageAndDoesNotPassIt)
{
    simtest::TempDir tmp("ocl-form");
    make_recorded_tree(tmp.path());
    for (const char *big : {"/e/big", "/big"}) {
        write(tmp.path() + big, "");
        ASSERT_EQ(truncate((tmp.path() + big).c_str(), (off_t(1) << 32) + 5), 0);
        set_mtime(tmp.path() + big, kThen);
    }
    set_mtime(tmp.path() + "/e", kThen);
    const struct {
        bool dir;
        const char *path;
        uint16_t flags;
        uint32_t old_reader; // what the old reader finds on the unchanged tree
    } objects[] = {
        {true, "/n", 0, FS_OCL_DIR_HASH_CHANGED},
        {true, "/h", 14, FS_OCL_DIR_HASH_CHANGED},
        {true, "/e", 11, FS_OCL_MODE_CHANGED | FS_OCL_SIZE_CHANGED}, // its big file
        {false, "/f", 12, 0},
        {false, "/big", 8, FS_OCL_MODE_CHANGED | FS_OCL_SIZE_CHANGED},
    };
    for (const auto &o : objects) {
        SCOPED_TRACE(o.path);
        auto ocl = make_ocl();
        ASSERT_EQ(o.dir ? fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), o.path, nullptr, o.flags, nullptr)
                        : fs_ocl_add_file(ocl.get(), tmp.path().c_str(), o.path, o.flags, nullptr),
                  FS_OCL_OK);
        ASSERT_TRUE(check(ocl.get(), tmp.path()).empty());
        std::string image = image_of(ocl.get());
        // count, type, path, the mask count of a directory, then the flags word
        const size_t at = 4 + 2 + 2 + std::strlen(o.path) + (o.dir ? 2 : 0);
        ASSERT_EQ(uint8_t(image[at]), o.flags | FS_OCL_FORM_2_MARK);
        image[at] = char(o.flags);
        auto old = read_image(image);
        ASSERT_TRUE(old);
        const std::string key = o.path + std::string(o.dir ? "/" : "") + (o.flags & FS_OCL_EACH_FILE ? "big" : "");
        const Results expected = o.old_reader ? Results{{key, o.old_reader}} : Results{};
        EXPECT_EQ(check(old.get(), tmp.path()), expected);
    }
}

} // namespace
