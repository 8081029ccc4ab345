// Mount use counts and the external programs, without root: VMFS volumes
// are mounted by "vmfs-fuse", NTFS volumes the kernel does not know by
// "ntfs-3g", and both released by "umount", here stand-ins on PATH that log
// their arguments; the time limit of every program. Refusals that come
// before any device is touched.
#include "fs_support.h"
#include "fs_internal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "temp_dir.h"

using namespace fstest;
namespace stdfs = std::filesystem;

namespace {

const char *kVmfsComputer = R"(
disk sda size=16M serial=S
  part 1 start=1M size=1M
    prop ID_FS_TYPE=VMFS_volume_member
  part 2 start=2M size=1M
    prop ID_FS_TYPE=vmfs
  part 3 start=3M size=1M
)";

TEST(Mount, TwoUsesNeedTwoReleasesAndTheLastRemovesTheDirectories)
{
    FakePrograms programs;
    Computer c(kVmfsComputer);
    List list = make_list(false);
    fs_volume *v = partition(list.get(), 0, 1);
    const char *first = nullptr, *second = nullptr;
    ASSERT_EQ(fs_volume_get_mount_point(v, 0, &first), FS_OK);
    ASSERT_EQ(fs_volume_get_mount_point(v, 1, &second), FS_OK);
    EXPECT_EQ(first, second);
    EXPECT_EQ(v->mount_count, 2);
    EXPECT_EQ(v->rw_mount_count, 0); // only FAT and ext are mounted read-write
    const std::string dir = first, base = list->base_dir;
    EXPECT_EQ(dir, base + "/sda1");
    EXPECT_EQ(base.rfind("/tmp/fs.", 0), 0u);
    EXPECT_TRUE(stdfs::is_directory(dir));
    EXPECT_EQ(programs.log(), "vmfs-fuse " + c.root() + "/dev/sda1 " + dir + "\n");

    // A second volume shares the base directory; asked for writing, it is
    // mounted read-only all the same.
    const char *other = nullptr;
    ASSERT_EQ(fs_volume_get_mount_point(partition(list.get(), 0, 2), 1, &other), FS_OK);
    EXPECT_EQ(list->base_count, 2);
    EXPECT_EQ(partition(list.get(), 0, 2)->rw_mount_count, 0);

    EXPECT_EQ(fs_volume_release_mount_point(v), FS_OK);
    EXPECT_EQ(v->mount_count, 1);
    EXPECT_TRUE(stdfs::is_directory(dir));
    EXPECT_EQ(programs.log().find("umount"), std::string::npos);
    EXPECT_EQ(fs_volume_release_mount_point(v), FS_OK);
    EXPECT_EQ(v->mount_count, 0);
    EXPECT_EQ(v->mount_dir, nullptr);
    EXPECT_FALSE(stdfs::exists(dir));
    EXPECT_NE(programs.log().find("umount " + dir + "\n"), std::string::npos);
    EXPECT_TRUE(stdfs::is_directory(base));
    EXPECT_EQ(fs_volume_release_mount_point(v), FS_ERR_PATH); // not mounted

    list.reset(); // the list releases what is still mounted
    EXPECT_FALSE(stdfs::exists(base));
}

TEST(Mount, FailuresLeaveNoDirectoryAndKeepAFailedUnmountMounted)
{
    FakePrograms programs;
    Computer c(kVmfsComputer);
    List list = make_list(false);
    const char *path = nullptr;
    EXPECT_EQ(fs_volume_get_mount_point(partition(list.get(), 0, 3), 0, &path), FS_ERR_IO); // no type
    programs.exit_with(3);
    EXPECT_EQ(fs_volume_get_mount_point(partition(list.get(), 0, 1), 0, &path), FS_ERR_IO);
    EXPECT_EQ(list->base_dir, nullptr);
    EXPECT_EQ(list->base_count, 0);
    EXPECT_EQ(partition(list.get(), 0, 1)->mount_count, 0);

    programs.exit_with(0);
    fs_volume *v = partition(list.get(), 0, 2);
    ASSERT_EQ(fs_volume_get_mount_point(v, 0, &path), FS_OK);
    const std::string dir = path;
    programs.exit_with(1); // umount refuses: still mounted, still counted
    EXPECT_EQ(fs_volume_release_mount_point(v), FS_ERR_IO);
    EXPECT_EQ(v->mount_count, 1);
    EXPECT_TRUE(stdfs::is_directory(dir));
    programs.exit_with(0);
    EXPECT_EQ(fs_volume_release_mount_point(v), FS_OK);
    EXPECT_FALSE(stdfs::exists(dir));
}

// Kernel names a test takes as unknown to the kernel, for its scope.
class KernelRefuses {
public:
    explicit KernelRefuses(const char *const *types) { ic_fs::kernel_types_refused = types; }
    ~KernelRefuses() { ic_fs::kernel_types_refused = nullptr; }
};

TEST(Mount, NtfsTheKernelDoesNotKnowIsMountedByNtfs3gReadOnly)
{
    FakePrograms programs;
    Computer c("disk sda size=16M serial=S\n  part 1 start=1M size=1M\n    prop ID_FS_TYPE=ntfs\n");
    List list = make_list(false);
    const char *const unknown[] = {"ntfs", "ntfs3", nullptr};
    KernelRefuses refuses(unknown);
    fs_volume *v = partition(list.get(), 0, 1);
    const char *path = nullptr;
    ASSERT_EQ(fs_volume_get_mount_point(v, 1, &path), FS_OK);
    const std::string dir = path;
    EXPECT_EQ(programs.log(), "ntfs-3g -o ro,nodev,nosuid,noexec,noatime,norecover,usermapping=/dev/null "
                                  + c.root() + "/dev/sda1 " + dir + "\n");
    EXPECT_EQ(v->mount_count, 1); // asked for writing, mounted read-only all the same
    EXPECT_EQ(v->rw_mount_count, 0);
    EXPECT_EQ(v->mount_flags, uint32_t(FS_MOUNT_PROGRAM));
    EXPECT_EQ(fs_volume_release_writable_mount_point(v), FS_OK);
    EXPECT_NE(programs.log().find("umount " + dir + "\n"), std::string::npos);
    EXPECT_EQ(v->mount_flags, 0u);

    // A driver that fails leaves nothing mounted or counted.
    programs.exit_with(1);
    EXPECT_EQ(fs_volume_get_mount_point(v, 0, &path), FS_ERR_IO);
    EXPECT_EQ(v->mount_count, 0);
    EXPECT_EQ(list->base_dir, nullptr);
}

TEST(ExternalProgram, EndsWithinItsTimeLimit)
{
    using clock = std::chrono::steady_clock;
    struct Case {
        std::vector<const char *> argv;
        int rc;
    } cases[] = {
        {{"true"}, FS_OK},
        {{"false"}, FS_ERR_IO},
        {{"orva-no-such-program"}, FS_ERR_IO},
        {{"sh", "-c", "kill -9 $$"}, FS_ERR_IO},
        // Hung: killed at the limit, with what it started in its group.
        {{"sleep", "60"}, FS_ERR_IO},
        {{"sh", "-c", "sleep 60 & wait"}, FS_ERR_IO},
    };
    for (auto &c : cases) {
        c.argv.push_back(nullptr);
        const auto start = clock::now();
        EXPECT_EQ(ic_fs::run_program(c.argv.data(), 300), c.rc) << c.argv[0];
        EXPECT_LT(clock::now() - start, std::chrono::seconds(3)) << c.argv[0];
    }
}

TEST(ImageDisk, RefusalsComeBeforeAnyLoopDeviceIsTouched)
{
    FakePrograms programs;
    // No loop devices at all: a search for one would give 7.
    Computer c(kVmfsComputer);
    List list = make_list(false);
    fs_volume *host = partition(list.get(), 0, 2);
    // An image disk named "station" already in the list.
    auto *taken = new fs_image_disk{};
    taken->owner = list.get();
    ASSERT_TRUE(ic_fs::dup_into(taken->name, "station"));
    list->first_image_disk = taken;

    fs_image_disk *disk = nullptr;
    EXPECT_EQ(fs_disk_list_add_image_disk(list.get(), host, "/images/a.img", "station", &disk), FS_ERR_NAME_TAKEN);
    EXPECT_EQ(fs_disk_list_add_image_disk(list.get(), host, "images/a.img", "other", &disk), FS_ERR_PATH);
    EXPECT_EQ(host->mount_count, 0);
    EXPECT_EQ(programs.log(), ""); // the hosting volume was not mounted either
    EXPECT_EQ(disk, nullptr);
    EXPECT_EQ(fs_disk_list_add_image_disk(list.get(), host, "/images/a.img", "other", &disk), FS_ERR_NO_LOOP);
    EXPECT_EQ(host->mount_count, 0);

    list->first_image_disk = nullptr;
    ic_fs::free_image_disk_records(taken);
}

} // namespace
