// Files that vanish or become unreadable while the check runs.  This
// program replaces openat and read: once armed, opening an entry named
// "vanishing" (a file or a directory) moves it away first, and reading a
// file whose name ends in "unreadable" fails with EIO.
#include "ocl_support.h"

#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>

namespace {

bool armed = false;
std::string elsewhere; // where vanishing entries go
int moved = 0;

bool fd_path_ends_with(int fd, const char *suffix)
{
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return false;
    const std::string t(target, size_t(n));
    const std::string s(suffix);
    return t.size() >= s.size() && t.compare(t.size() - s.size(), s.size(), s) == 0;
}

template <typename F>
F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int openat(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    static auto next = real<int (*)(int, const char *, int, ...)>("openat");
    if (armed && std::strcmp(path, "vanishing") == 0)
        renameat(dirfd, path, AT_FDCWD, (elsewhere + "/" + std::to_string(moved++)).c_str());
    return next(dirfd, path, flags, mode);
}

extern "C" ssize_t read(int fd, void *buf, size_t n)
{
    static auto next = real<ssize_t (*)(int, void *, size_t)>("read");
    if (armed && fd_path_ends_with(fd, "unreadable")) {
        errno = EIO;
        return -1;
    }
    return next(fd, buf, n);
}

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
    std::filesystem::create_directory(elsewhere = r + "/elsewhere");
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

    armed = true;
    const Results results = check(ocl.get(), r);
    armed = false;
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
    armed = true;
    EXPECT_EQ(fs_ocl_add_dir(ocl.get(), tmp.path().c_str(), "/d", nullptr, 15, nullptr), FS_OCL_ERR_IO);
    EXPECT_EQ(fs_ocl_add_file(ocl.get(), tmp.path().c_str(), "/d/unreadable", 12, nullptr), FS_OCL_ERR_IO);
    armed = false;
    EXPECT_EQ(ocl->count, 0u);
}

} // namespace
