// Files that vanish or become unreadable while the check runs (see
// file_faults.h for the entries that misbehave).
#include "file_faults.h"
#include "ocl_internal.h"
#include "ocl_support.h"

#include <random>

namespace {

using namespace ocltest;

TEST(OclFault, VanishedAndUnreadableEntriesAreResults)
{
    simtest::TempDir tmp("ocl-fault");
    const std::string r = tmp.path();
    write(r + "/vanishing", "v");
    write(r + "/unreadable", "u");
    write(r + "/each/vanishing", "v");
    write(r + "/each/unreadable", "u");
    write(r + "/each/fine", "f");
    write(r + "/each/sub/vanishing/inner", "i");
    write(r + "/each/sub/kept", "k");
    std::filesystem::create_directory(r + "/elsewhere");
    write(r + "/hash/unreadable", "u");
    write(r + "/hash2/vanishing", "v");
    auto ocl = make_ocl();
    for (const char *f : {"/vanishing", "/unreadable"})
        ASSERT_EQ(fs_ocl_add_file(ocl.get(), r.c_str(), f, 12, nullptr), FS_OCL_OK);
    ASSERT_EQ(fs_ocl_add_dir(ocl.get(), r.c_str(), "/each", nullptr,
                             FS_OCL_EACH_FILE | FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA, nullptr),
              FS_OCL_OK);
    for (const char *d : {"/hash", "/hash2"})
        ASSERT_EQ(fs_ocl_add_dir(ocl.get(), r.c_str(), d, nullptr, FS_OCL_CONTROL_DATA, nullptr), FS_OCL_OK);

    file_faults::arm(r + "/elsewhere");
    const Results results = check(ocl.get(), r);
    file_faults::disarm();
    EXPECT_EQ(results, (Results{
                           {"/vanishing", FS_OCL_FILE_MISSING},
                           {"/unreadable", FS_OCL_DATA_CHANGED},
                           {"/each/vanishing", FS_OCL_FILE_MISSING},
                           {"/each/unreadable", FS_OCL_DATA_CHANGED},
                           {"/each/sub/vanishing/", FS_OCL_DIR_MISSING},
                           {"/hash/", FS_OCL_DIR_HASH_CHANGED},
                           {"/hash2/", FS_OCL_DIR_HASH_CHANGED},
                       }));
}

TEST(OclFault, AnUnreadableFileFailsTheAdd)
{
    simtest::TempDir tmp("ocl-fault");
    write(tmp / "d/unreadable", "u");
    auto ocl = make_ocl();
    file_faults::arm(tmp / "elsewhere");
    EXPECT_EQ(fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), "/d", nullptr, 15, nullptr), FS_OCL_ERR_IO);
    EXPECT_EQ(fs_ocl_add_file(ocl.get(), tmp.path().c_str(), "/d/unreadable", 12, nullptr), FS_OCL_ERR_IO);
    file_faults::disarm();
    EXPECT_EQ(ocl->count, 0u);
}

// Files are read and hashed by ORVA_IC_WORKERS threads for the scope.
struct Workers {
    explicit Workers(unsigned n) { setenv("ORVA_IC_WORKERS", std::to_string(n).c_str(), 1); }
    ~Workers() { unsetenv("ORVA_IC_WORKERS"); }
};

// A file that grows or shrinks as it is read differs, read at once or in
// several reads; without its size under control only the contents tell.
TEST(OclFault, AFileThatChangesWhileItIsReadDiffers)
{
    for (unsigned n : {1u, 3u}) {
        Workers workers(n);
        simtest::TempDir tmp("ocl-fault");
        const std::string r = tmp.path();
        Results expected;
        auto ocl = make_ocl();
        for (const char *name : {"growing", "shrinking"})
            for (size_t size : {size_t(1000), 2 * ocl::HASH_READ_SIZE + 2}) {
                const std::string file = name + std::to_string(size);
                write(r + "/each/" + file, std::string(size, 'x'));
                write(r + "/" + file, std::string(size, 'x'));
                ASSERT_EQ(fs_ocl_add_file(ocl.get(), r.c_str(), ("/" + file).c_str(), FS_OCL_CONTROL_DATA, nullptr),
                          FS_OCL_OK);
                expected["/" + file] = FS_OCL_DATA_CHANGED;
                expected["/each/" + file] = FS_OCL_DATA_CHANGED;
            }
        ASSERT_EQ(fs_ocl_add_dir(ocl.get(), r.c_str(), "/each", nullptr, FS_OCL_EACH_FILE | FS_OCL_CONTROL_DATA,
                                 nullptr),
                  FS_OCL_OK);
        file_faults::arm(tmp / "elsewhere");
        const Results results = check(ocl.get(), r);
        file_faults::disarm();
        EXPECT_EQ(results, expected) << n << " workers";
    }
}

// Files of every length class a read meets (empty, less than one read,
// exactly one, several), links and nested directories.
void varied_tree(const std::string &r)
{
    std::mt19937 rng(24);
    const size_t read = ocl::HASH_READ_SIZE;
    const size_t sizes[] = {0, 1, 31, 32, 33, 4096, read - 1, read, read + 1, 3 * read + 7};
    for (int d = 0; d < 3; ++d)
        for (int f = 0; f < 40; ++f) {
            std::string data(sizes[size_t(f) % std::size(sizes)], '\0');
            for (char &c : data)
                c = char(rng());
            write(r + "/tree/d" + std::to_string(d) + (f % 3 ? "/sub" : "") + "/f" + std::to_string(f) + ".bin",
                  data);
        }
    ASSERT_EQ(symlink("f1.bin", (r + "/tree/d0/link").c_str()), 0);
}

TEST(OclWorkers, EveryNumberOfWorkersRecordsTheSameList)
{
    simtest::TempDir tmp("ocl-workers");
    const std::string r = tmp.path();
    varied_tree(r);
    const char *masks[] = {"*1.bin", "link", nullptr};
    std::string first;
    for (unsigned n : {1u, 2u, 5u}) {
        Workers workers(n);
        auto ocl = make_ocl();
        ASSERT_EQ(fs_ocl_add_dir(ocl.get(), r.c_str(), "/tree/d0", nullptr, 15, nullptr), FS_OCL_OK);
        ASSERT_EQ(fs_ocl_add_dir(ocl.get(), r.c_str(), "/tree/d1", nullptr, 14, nullptr), FS_OCL_OK);
        ASSERT_EQ(fs_ocl_add_dir(ocl.get(), r.c_str(), "/tree", masks, 7, nullptr), FS_OCL_OK);
        ASSERT_EQ(fs_ocl_add_dir(ocl.get(), r.c_str(), "/tree/d2", masks, 2, nullptr), FS_OCL_OK);
        for (const char *f : {"/tree/d2/f9.bin", "/tree/d2/sub/f8.bin", "/tree/d0/link"})
            ASSERT_EQ(fs_ocl_add_file(ocl.get(), r.c_str(), f, 12, nullptr), FS_OCL_OK);
        const std::string image = image_of(ocl.get());
        // The same objects added again all at once, as the current-run
        // list is made.
        auto again = make_ocl();
        ASSERT_EQ(ocl::add_again(again.get(), r.c_str(), ocl.get()), FS_OCL_OK);
        EXPECT_EQ(image_of(again.get()), image) << n << " workers";
        if (first.empty())
            first = image;
        EXPECT_EQ(image, first) << n << " workers";
        EXPECT_EQ(check(ocl.get(), r), Results{}) << n << " workers";
    }
}

TEST(OclWorkers, ProgressIsReportedWhileFilesAreRead)
{
    simtest::TempDir tmp("ocl-workers");
    const std::string r = tmp.path();
    // Three reads of 100 ms each: a call after each of the first two at
    // least.
    write(r + "/d/slow", std::string(2 * ocl::HASH_READ_SIZE + 1, 's'));
    write(r + "/d/quick", "q");
    auto ocl = make_ocl();
    ASSERT_EQ(fs_ocl_add_dir(ocl.get(), r.c_str(), "/d", nullptr, 15, nullptr), FS_OCL_OK);
    for (unsigned n : {1u, 3u}) {
        Workers workers(n);
        int calls = 0;
        const ocl::progress count{[](void *arg) { ++*static_cast<int *>(arg); }, &calls};
        fs_ocl_check_info *raw = nullptr;
        file_faults::arm(tmp / "elsewhere");
        EXPECT_EQ(ocl::check_info_create(ocl.get(), r.c_str(), count, &raw), FS_OCL_OK);
        file_faults::disarm();
        ic_fs::ocl_check_ptr guard(raw);
        EXPECT_GE(calls, 2) << n << " workers";
    }
}

} // namespace
