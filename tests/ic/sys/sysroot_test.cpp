// System root: prefixing, links kept inside the root, pass-through on the real system.
#include "ic/sys/sysroot.h"

#include "sim_root.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void write_text(const std::string &path, const std::string &text)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

void link(const std::string &target, const std::string &path)
{
    fs::create_directories(fs::path(path).parent_path());
    fs::create_symlink(target, path);
}

// A root with links of every kind, and files of the same names outside it.
class SysRootTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = dir_ / "root";
        write_text(dir_ / "secret", "host\n");
        write_text(root_ + "/secret", "inside\n");
        write_text(root_ + "/sys/devices/d1/attr", "value\n");
        link("../../devices/d1", root_ + "/sys/class/x/d1");
        link("/sys/devices/d1", root_ + "/sys/abs");
        link("../../../../../../../../secret", root_ + "/escape_up");
        link(dir_ / "secret", root_ + "/escape_abs");
        link("loop_b", root_ + "/dir/loop_a");
        link("loop_a", root_ + "/dir/loop_b");
        link("../sys/abs/", root_ + "/dir/chain");
        sysroot_ = std::make_unique<simtest::SysRoot>(root_);
    }

    static std::string read_through(const char *path, int &err)
    {
        errno = 0;
        int fd = ic_sys_open(path, O_RDONLY, 0);
        err = errno;
        if (fd < 0)
            return {};
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        close(fd);
        err = 0;
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }

    simtest::TempDir dir_;
    std::string root_;
    std::unique_ptr<simtest::SysRoot> sysroot_;
};

TEST_F(SysRootTest, OpenResolvesEveryLinkInsideTheRoot)
{
    struct Case {
        const char *path;
        const char *content; // nullptr: fails with err
        int err;
    } cases[] = {
        {"/sys/devices/d1/attr", "value\n", 0},
        {"/sys/class/x/d1/attr", "value\n", 0},        // relative link
        {"/sys/abs/attr", "value\n", 0},               // absolute link restarts at the root
        {"/dir/chain/attr", "value\n", 0},             // link to a link
        {"/escape_up", "inside\n", 0},                 // ".." stops at the root
        {"/sys/../../../../secret", "inside\n", 0},    // the same in the path itself
        {"/sys/abs/../d1/attr", "value\n", 0},         // ".." after a link is taken from its target
        {"/escape_abs", nullptr, ENOENT},              // the host path does not exist inside
        {"/dir/loop_a", nullptr, ELOOP},
        {"/sys/devices/d1/attr/x", nullptr, ENOTDIR},
        {"/missing", nullptr, ENOENT},
        {"sys/devices/d1/attr", nullptr, EINVAL},      // system paths are absolute
    };
    for (const Case &c : cases) {
        int err;
        std::string got = read_through(c.path, err);
        if (c.content) {
            EXPECT_EQ(err, 0) << c.path;
            EXPECT_EQ(got, c.content) << c.path;
        } else {
            EXPECT_EQ(err, c.err) << c.path;
        }
    }
}

TEST_F(SysRootTest, RealpathGivesSystemPaths)
{
    struct Case {
        const char *path, *expected;
    } cases[] = {
        {"/", "/"},
        {"/sys/class/x/d1", "/sys/devices/d1"},
        {"/sys/abs/attr", "/sys/devices/d1/attr"},
        {"/escape_up", "/secret"},
        {"/dir/chain/", "/sys/devices/d1"},
        {"/sys//devices/./d1/", "/sys/devices/d1"},
    };
    for (const Case &c : cases) {
        char buf[PATH_MAX];
        ASSERT_NE(ic_sys_realpath(c.path, buf), nullptr) << c.path;
        EXPECT_STREQ(buf, c.expected) << c.path;
    }
    char *allocated = ic_sys_realpath("/sys/abs", nullptr);
    ASSERT_NE(allocated, nullptr);
    EXPECT_STREQ(allocated, "/sys/devices/d1");
    free(allocated);
    errno = 0;
    EXPECT_EQ(ic_sys_realpath("/escape_abs", nullptr), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(SysRootTest, LinksThemselvesAndDirectories)
{
    struct stat st;
    ASSERT_EQ(ic_sys_lstat("/sys/abs", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(ic_sys_stat("/sys/abs", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(ic_sys_lstat("/sys/class/x/d1/attr", &st), 0); // a link on the way is followed
    EXPECT_TRUE(S_ISREG(st.st_mode));

    char buf[PATH_MAX];
    ssize_t n = ic_sys_readlink("/escape_abs", buf, sizeof buf);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, size_t(n)), dir_ / "secret");

    DIR *d = ic_sys_opendir("/sys/class/x");
    ASSERT_NE(d, nullptr);
    std::vector<std::string> names;
    while (struct dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    closedir(d);
    EXPECT_EQ(names, std::vector<std::string>{"d1"});

    struct dirent **list = nullptr;
    int count = ic_sys_scandir("/sys/abs", &list, nullptr, alphasort);
    ASSERT_EQ(count, 3); // ".", "..", "attr"
    EXPECT_STREQ(list[2]->d_name, "attr");
    for (int i = 0; i < count; ++i)
        free(list[i]);
    free(list);

    FILE *f = ic_sys_fopen("/sys/abs/attr", "r");
    ASSERT_NE(f, nullptr);
    char line[32] = {};
    ASSERT_NE(fgets(line, sizeof line, f), nullptr);
    fclose(f);
    EXPECT_STREQ(line, "value\n");
    errno = 0;
    EXPECT_EQ(ic_sys_fopen("/sys/abs/attr", "x"), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(SysRootTest, CreatingStaysInsideTheRoot)
{
    int fd = ic_sys_open("/escape_up", O_WRONLY | O_TRUNC, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "changed\n", 8), 8);
    close(fd);
    EXPECT_EQ(simtest::read_file(root_ + "/secret"), "changed\n");
    EXPECT_EQ(simtest::read_file(dir_ / "secret"), "host\n");

    fd = ic_sys_open("/sys/abs/../created", O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_TRUE(fs::exists(root_ + "/sys/devices/created"));
}

TEST_F(SysRootTest, HostPath)
{
    char buf[PATH_MAX];
    ASSERT_EQ(ic_sys_host_path("/sys/class/x/d1/attr", buf, sizeof buf), IC_SYS_OK);
    EXPECT_EQ(std::string(buf), root_ + "/sys/devices/d1/attr");
    ASSERT_EQ(ic_sys_host_path("/sys/abs/new", buf, sizeof buf), IC_SYS_OK); // last part may be missing
    EXPECT_EQ(std::string(buf), root_ + "/sys/devices/d1/new");
    ASSERT_EQ(ic_sys_host_path("/", buf, sizeof buf), IC_SYS_OK);
    EXPECT_EQ(std::string(buf), root_);
    EXPECT_EQ(ic_sys_host_path("/no/such", buf, sizeof buf), IC_SYS_ENOENT);
    EXPECT_EQ(ic_sys_host_path("relative", buf, sizeof buf), IC_SYS_EINVAL);
    EXPECT_EQ(ic_sys_host_path("/sys/abs/attr", buf, 8), IC_SYS_EINVAL);
}

TEST(SysRootRealSystem, UnsetOrEmptyRootPassesPathsThrough)
{
    simtest::TempDir dir;
    write_text(dir / "file", "real\n");
    link("file", dir / "alias");
    for (const char *value : {static_cast<const char *>(nullptr), ""}) {
        if (value)
            setenv("ORVA_SYSROOT", value, 1);
        else
            unsetenv("ORVA_SYSROOT");
        EXPECT_EQ(ic_sys_root(), nullptr);
        char buf[PATH_MAX];
        ASSERT_NE(ic_sys_realpath((dir / "alias").c_str(), buf), nullptr);
        EXPECT_EQ(std::string(buf), fs::canonical(dir / "file").string());
        ASSERT_EQ(ic_sys_host_path("/proc/cmdline", buf, sizeof buf), IC_SYS_OK);
        EXPECT_STREQ(buf, "/proc/cmdline");
        int fd = ic_sys_open((dir / "alias").c_str(), O_RDONLY, 0);
        ASSERT_GE(fd, 0);
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
        close(fd);
        errno = 0;
        EXPECT_EQ(ic_sys_open("relative", O_RDONLY, 0), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    unsetenv("ORVA_SYSROOT");
}

TEST(SysRootMissing, ARootThatDoesNotExistFailsEveryOpen)
{
    simtest::TempDir dir;
    simtest::SysRoot root(dir / "absent");
    errno = 0;
    EXPECT_EQ(ic_sys_open("/proc/cmdline", O_RDONLY, 0), -1);
    EXPECT_EQ(errno, ENOENT);
}

} // namespace
