// What the check opens: only regular files, without waiting on a pipe,
// socket or device in their place; paths stay inside the volume, also
// where the kernel cannot confine the lookup and every link is refused.
#include "ocl_support.h"

#include "in_volume.h"

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

namespace {

using namespace ocltest;

// Named pipe, socket and character device at path.
void make_special(const std::string &path, char kind)
{
    if (kind == 'p') {
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
    } else if (kind == 'c') {
        ASSERT_EQ(mknod(path.c_str(), S_IFCHR | 0644, makedev(1, 5)), 0) << path; // like /dev/zero
    } else {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        // Bound through the directory, so that long temporary paths fit.
        const std::string dir = path.substr(0, path.rfind('/'));
        const int dirfd = open(dir.c_str(), O_PATH | O_DIRECTORY);
        ASSERT_GE(dirfd, 0);
        const std::string via = "/proc/self/fd/" + std::to_string(dirfd) + path.substr(path.rfind('/'));
        ASSERT_LT(via.size(), sizeof addr.sun_path);
        std::strcpy(addr.sun_path, via.c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0) << std::strerror(errno);
        close(fd);
        close(dirfd);
    }
}

TEST(OclOpen, SpecialFilesInPlaceOfControlledOnesAreDifferences)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "device nodes need root";
    alarm(60); // an open that waits ends the test
    for (const char kind : {'p', 's', 'c'}) {
        SCOPED_TRACE(kind);
        simtest::TempDir tmp("ocl-open");
        const std::string root = tmp.path();
        const struct {
            bool dir;
            const char *path;
            uint16_t flags;
        } objects[] = {
            {false, "/data", FS_OCL_CONTROL_DATA},
            {false, "/attrs", FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS},
            {false, "/present", 0},
            {true, "/each", FS_OCL_EACH_FILE | FS_OCL_CONTROL_DATA},
            {true, "/hashed", FS_OCL_CONTROL_DATA},
        };
        for (const auto &o : objects)
            write(root + o.path + (o.dir ? "/x" : ""), "contents");
        auto ocl = make_ocl();
        for (const auto &o : objects)
            ASSERT_EQ(o.dir ? fs_ocl_add_dir(ocl.get(), root.c_str(), o.path, nullptr, o.flags, nullptr)
                            : fs_ocl_add_file(ocl.get(), root.c_str(), o.path, o.flags, nullptr),
                      FS_OCL_OK)
                << o.path;
        for (const auto &o : objects) {
            const std::string path = root + o.path + (o.dir ? "/x" : "");
            std::filesystem::remove(path);
            make_special(path, kind);
        }
        EXPECT_EQ(check(ocl.get(), root), (Results{{"/data", FS_OCL_FILE_MISSING},
                                                   {"/attrs", FS_OCL_FILE_MISSING},
                                                   {"/present", FS_OCL_FILE_MISSING},
                                                   {"/each/x", FS_OCL_FILE_MISSING},
                                                   {"/hashed/", FS_OCL_DIR_HASH_CHANGED}}));
        // Nor can such a file be put under control.
        EXPECT_EQ(fs_ocl_add_file(ocl.get(), root.c_str(), "/data", FS_OCL_CONTROL_DATA, nullptr), FS_OCL_ERR_MISSING);
    }
    alarm(0);
}

TEST(OclOpen, WithoutTheKernelsConfinementEveryLinkAndParentIsRefused)
{
    simtest::TempDir tmp("ocl-open");
    const std::string root = tmp.path();
    write(root + "/etc/passwd", "the volume's");
    ASSERT_EQ(symlink("/etc", (root + "/abs").c_str()), 0);
    ASSERT_EQ(symlink("etc", (root + "/rel").c_str()), 0);
    ASSERT_EQ(symlink("passwd", (root + "/etc/link").c_str()), 0);
    ASSERT_EQ(mkfifo((root + "/etc/pipe").c_str(), 0644), 0);
    ic_util::unique_fd rootfd(open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(rootfd.valid());
    const struct {
        const char *path;
        int flags;
        int err;
    } cases[] = {
        {"/etc/passwd", O_RDONLY, 0},
        {"etc//passwd", O_RDONLY, 0},
        {"/", O_PATH | O_DIRECTORY, 0},
        {"/abs/passwd", O_RDONLY, ELOOP}, // would be the running system's
        {"/rel/passwd", O_RDONLY, ELOOP},
        {"/etc/../etc/passwd", O_RDONLY, EXDEV},
        {"/../etc/passwd", O_RDONLY, EXDEV},
        {"/etc/link", O_RDONLY, ELOOP},
        {"/etc/link", O_PATH | O_NOFOLLOW, 0}, // the link itself
        {"/etc/pipe", O_RDONLY | O_NONBLOCK, 0},
        {"/etc/missing", O_RDONLY, ENOENT},
    };
    alarm(60);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        ic_util::unique_fd fd;
        EXPECT_EQ(ic_fs::open_by_components(rootfd.get(), c.path, c.flags, fd), c.err);
        EXPECT_EQ(fd.valid(), c.err == 0);
    }
    alarm(0);
    ic_util::unique_fd fd;
    ASSERT_EQ(ic_fs::open_by_components(rootfd.get(), "/etc/passwd", O_RDONLY, fd), 0);
    char buf[32] = {};
    EXPECT_EQ(read(fd.get(), buf, sizeof buf), 12);
    EXPECT_STREQ(buf, "the volume's");
}

} // namespace
