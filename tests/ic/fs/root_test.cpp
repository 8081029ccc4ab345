// Real mounts and loop devices (root only): volumes of a simulated computer
// mounted read-only or read-write, by the kernel or by ntfs-3g, never
// written when read; a virtual-disk image with two partitions attached and
// detached. Every fixture releases what it took also when a check fails
// midway: the list first (mounts, image disks), then the loop devices.
#include "fs_support.h"
#include "fs_internal.h"

#include "check/boot_check.h"

#include <ic/qt/orva_fun_fs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/fs.h>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "peers.h"
#include "temp_dir.h"

using namespace fstest;
namespace stdfs = std::filesystem;

namespace {

#define REQUIRE_ROOT()                                                                       \
    do {                                                                                     \
        if (geteuid() != 0)                                                                  \
            GTEST_SKIP() << "needs root: loop devices and mount(2) are privileged";          \
    } while (0)

// Whether the running kernel has a feature: a file system in
// /proc/filesystems, or a kernel option when /proc/config.gz tells (true
// when it does not).
bool kernel_has_fs(const std::string &type)
{
    std::ifstream in("/proc/filesystems");
    std::string line;
    while (std::getline(in, line))
        if (line.size() >= type.size() && line.compare(line.size() - type.size(), type.size(), type) == 0
            && (line.size() == type.size() || line[line.size() - type.size() - 1] == '\t'))
            return true;
    return false;
}

bool kernel_option(const std::string &option)
{
    if (!stdfs::exists("/proc/config.gz"))
        return true;
    int status;
    simtest::run("zcat /proc/config.gz | grep -q '^" + option + "=y'", status);
    return status == 0;
}

bool mounted_below(const std::string &dir)
{
    std::ifstream in("/proc/self/mounts");
    std::string line;
    while (std::getline(in, line))
        if (line.find(" " + dir) != std::string::npos)
            return true;
    return false;
}

std::string read_all(const std::string &path)
{
    return stdfs::exists(path) ? simtest::read_file(path) : "<missing>";
}

const char *kVolumes = R"(
disk sda size=32M serial=ROOTTEST
  part 1 start=1M size=8M
    fs vfat label=BOOT
      file /boot/grub.cfg content="timeout=5"
  part 2 start=9M size=16M
    fs ext4 label=DATA
      file /etc/hosts content="127.0.0.1 localhost" mode=0644
      file /bin/tool size=4K mode=04755
lvm vg-data
  lv lv-1 size=8M udev=no
    fs ext4
      file /srv/index.html content="<html/>"
)";

// Mounts the volume, reads the file, fails to write through the mount.
void check_read_only(fs_disk_list *list, fs_volume *volume, const std::string &file, const std::string &content)
{
    ASSERT_NE(volume, nullptr);
    const char *dir = nullptr;
    ASSERT_EQ(fs_volume_get_mount_point(volume, 0, &dir), FS_OK) << volume->devnode;
    EXPECT_EQ(std::string(dir), std::string(list->base_dir) + "/" + stdfs::path(volume->syspath).filename().string());
    EXPECT_EQ(read_all(dir + file), content);
    errno = 0;
    EXPECT_LT(open((dir + file).c_str(), O_WRONLY | O_CLOEXEC), 0);
    EXPECT_EQ(errno, EROFS);
    EXPECT_LT(open((std::string(dir) + "/new").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644), 0);
    struct statvfs st;
    ASSERT_EQ(statvfs(dir, &st), 0);
    const unsigned long want = ST_RDONLY | ST_NOSUID | ST_NODEV | ST_NOEXEC | ST_NOATIME;
    EXPECT_EQ(st.f_flag & want, want);
    EXPECT_TRUE(mounted_below(dir));
}

TEST(RootMount, Ext4AndLvmVolumesMountReadOnly)
{
    REQUIRE_ROOT();
    Computer c(kVolumes, true);
    List list = make_list();
    fs_volume_id *raw = nullptr;
    ASSERT_EQ(fs_lvm_volume_id_create("vg-data", "lv-1", &raw), FS_OK);
    Id lv(raw);
    fs_volume *sda2 = partition(list.get(), 0, 2);
    check_read_only(list.get(), sda2, "/etc/hosts", "127.0.0.1 localhost");
    check_read_only(list.get(), fs_disk_list_find_volume(list.get(), lv.get()), "/srv/index.html", "<html/>");
    ASSERT_NE(list->base_dir, nullptr);
    const std::string base = list->base_dir;
    // Released one by one, then the rest by the list.
    ASSERT_EQ(fs_volume_release_mount_point(sda2), FS_OK);
    EXPECT_FALSE(mounted_below(base + "/sda2"));
    EXPECT_FALSE(stdfs::exists(base + "/sda2"));
    list.reset();
    EXPECT_FALSE(mounted_below(base));
    EXPECT_FALSE(stdfs::exists(base));
}

TEST(RootMount, FatVolumeMountsReadOnly)
{
    REQUIRE_ROOT();
    if (!kernel_has_fs("vfat"))
        GTEST_SKIP() << "this kernel has no vfat file system (not in /proc/filesystems)";
    Computer c(kVolumes, true);
    List list = make_list(false);
    check_read_only(list.get(), partition(list.get(), 0, 1), "/boot/grub.cfg", "timeout=5");
    const std::string base = list->base_dir;
    list.reset();
    EXPECT_FALSE(mounted_below(base));
    EXPECT_FALSE(stdfs::exists(base));
}

// The flags every mount has, and read-only or not.
void expect_mount_flags(const std::string &dir, bool writable)
{
    struct statvfs st;
    ASSERT_EQ(statvfs(dir.c_str(), &st), 0);
    const unsigned long always = ST_NOSUID | ST_NODEV | ST_NOEXEC | ST_NOATIME;
    EXPECT_EQ(st.f_flag & always, always);
    EXPECT_EQ((st.f_flag & ST_RDONLY) == 0, writable) << dir;
}

// Makes a block device refuse writing, or take it again.
bool set_device_read_only(const std::string &node, int read_only)
{
    const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ioctl(fd, BLKROSET, &read_only) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

TEST(RootMount, WritableUsesOfAnExtVolume)
{
    REQUIRE_ROOT();
    Computer c(kVolumes, true, {"sda2"});
    List list = make_list(false);
    fs_volume *v = partition(list.get(), 0, 2);
    const char *dir = nullptr;
    const char *again = nullptr;

    // Mounted read-only, then asked for writing: a read-write mount of its
    // own beside it; the read-only one stays so.
    ASSERT_EQ(fs_volume_get_mount_point(v, 0, &dir), FS_OK);
    const std::string mount = dir;
    expect_mount_flags(mount, false);
    ASSERT_EQ(fs_volume_get_mount_point(v, 1, &again), FS_OK);
    const std::string rw = again;
    EXPECT_EQ(rw, mount + ".rw");
    EXPECT_EQ(v->mount_count, 1);
    EXPECT_EQ(v->rw_mount_count, 1);
    expect_mount_flags(rw, true);
    expect_mount_flags(mount, false);
    std::ofstream(rw + "/base-db.bin") << "exported";
    EXPECT_EQ(read_all(mount + "/base-db.bin"), "exported") << "one file system";
    // Uses of each kind count on their own mount.
    ASSERT_EQ(fs_volume_get_mount_point(v, 1, &again), FS_OK);
    EXPECT_EQ(std::string(again), rw);
    EXPECT_EQ(fs_volume_release_writable_mount_point(v), FS_OK);
    expect_mount_flags(rw, true);
    EXPECT_EQ(fs_volume_release_writable_mount_point(v), FS_OK);
    EXPECT_EQ(v->rw_mount_count, 0);
    EXPECT_FALSE(stdfs::exists(rw));
    EXPECT_EQ(fs_volume_release_writable_mount_point(v), FS_ERR_PATH);
    expect_mount_flags(mount, false);
    ASSERT_EQ(fs_volume_release_mount_point(v), FS_OK);
    EXPECT_FALSE(mounted_below(mount));
    EXPECT_FALSE(stdfs::exists(mount));

    // A writable first use mounts read-write; a read-only use beside it is
    // read-only, also once the read-write mount has gone.
    ASSERT_EQ(fs_volume_get_mount_point(v, 1, &dir), FS_OK);
    expect_mount_flags(dir, true);
    EXPECT_EQ(read_all(std::string(dir) + "/base-db.bin"), "exported");
    ASSERT_EQ(fs_volume_get_mount_point(v, 0, &again), FS_OK);
    const std::string beside = again;
    expect_mount_flags(beside, false);
    ASSERT_EQ(fs_volume_release_writable_mount_point(v), FS_OK);
    expect_mount_flags(beside, false);
    EXPECT_EQ(read_all(beside + "/base-db.bin"), "exported");
    ASSERT_EQ(fs_volume_release_mount_point(v), FS_OK);

    // A device that refuses writing: no writable mount happens, and nothing
    // is left or miscounted.
    ASSERT_TRUE(set_device_read_only(c.at("/dev/sda2"), 1));
    EXPECT_EQ(fs_volume_get_mount_point(v, 1, &dir), FS_ERR_IO);
    EXPECT_EQ(v->rw_mount_count, 0);
    EXPECT_EQ(list->base_dir, nullptr);
    ASSERT_EQ(fs_volume_get_mount_point(v, 0, &dir), FS_OK);
    const std::string read_only = dir;
    EXPECT_EQ(fs_volume_get_mount_point(v, 1, &again), FS_ERR_IO);
    EXPECT_EQ(v->mount_count, 1);
    EXPECT_EQ(v->rw_mount_count, 0);
    EXPECT_EQ(v->rw_mount_dir, nullptr);
    expect_mount_flags(read_only, false);
    const std::string base = list->base_dir;
    list.reset();
    EXPECT_TRUE(set_device_read_only(c.at("/dev/sda2"), 0));
    EXPECT_FALSE(mounted_below(base));
    EXPECT_FALSE(stdfs::exists(base));
}

// A file on a loop device of its own, detached when the guard goes.
class LoopFile {
public:
    explicit LoopFile(const std::string &file)
    {
        simcomputer::Error err;
        if (!simcomputer::loop_attach(file, device_, err))
            throw std::runtime_error(err.text());
    }
    ~LoopFile()
    {
        simcomputer::Error err;
        simcomputer::loop_detach(device_, err);
    }
    const std::string &device() const { return device_; }
    std::string name() const { return device_.substr(5); }

private:
    std::string device_;
};

// The real system, whatever the environment says.
class NoSysRoot {
public:
    NoSysRoot()
    {
        if (const char *r = std::getenv("ORVA_SYSROOT"))
            old_ = r, had_ = true;
        unsetenv("ORVA_SYSROOT");
    }
    ~NoSysRoot()
    {
        if (had_)
            setenv("ORVA_SYSROOT", old_.c_str(), 1);
    }

private:
    std::string old_;
    bool had_ = false;
};

bool loop_bound(const std::string &name)
{
    return stdfs::exists("/sys/block/" + name + "/loop/backing_file");
}

const char *kHost = R"(
disk sda size=32M
  part 1 start=1M size=24M
    fs ext4 uuid=0b7c6a52-3e1f-4d2a-9c8b-7a6f5e4d3c2b
      symlink /images/alias.img target=station.img
      symlink /images/escape.img target=HOST_FILE
      fifo /images/pipe.img
      image /images/station.img size=8M
        part 1 start=1M size=3M
          fs vfat uuid=1234-ABCD
            file /boot.ini content="[boot loader]"
        part 2 start=4M size=4M
          fs ext4
            file /data/report.txt content="quarterly"
)";

// The real system with one fixed disk more: a loop device holding an ext4
// file system with /images/station.img, a raw disk image with a FAT and an
// ext4 partition. Members go in reverse order: the list (mounts, image
// disks) before the loop device.
class ImageHost {
public:
    ImageHost()
    {
        simcomputer::Computer model;
        simcomputer::Error err;
        std::string text = kHost;
        text.replace(text.find("HOST_FILE"), 9, "\"" + file_ + "\"");
        if (!simcomputer::parse(text, model, err)
            || !simcomputer::make_file_system(*model.blocks[0].partitions[0].fs, 24u << 20, file_, err))
            throw std::runtime_error(err.text());
        loop_ = std::make_unique<LoopFile>(file_);
        list_ = make_list(false);
        const std::string syspath = "/sys/devices/virtual/block/" + loop_->name();
        fs_disk *disk = ic_fs::add_disk(list_.get(), syspath.c_str(), loop_->device().c_str(), "HOSTTEST");
        host_ = disk ? ic_fs::add_partition(disk, syspath.c_str(), loop_->device().c_str(), 1, "ext4",
                                            "0b7c6a52-3e1f-4d2a-9c8b-7a6f5e4d3c2b")
                     : nullptr;
        if (!host_)
            throw std::runtime_error("out of memory");
    }
    fs_disk_list *list() const { return list_.get(); }
    fs_volume *host() const { return &host_->volume; }
    std::string base_dir() const { return list_->base_dir ? list_->base_dir : ""; }
    void release() { list_.reset(); }
    // The list handed over (to a service object that destroys it).
    fs_disk_list *take() { return list_.release(); }

private:
    simtest::TempDir dir_{"orva-image"};
    const std::string file_ = dir_ / "host.img";
    NoSysRoot real_system_;
    std::unique_ptr<LoopFile> loop_;
    List list_;
    fs_partition *host_ = nullptr;
};

TEST(RootImageDisk, AttachReadOnlyAndDetach)
{
    REQUIRE_ROOT();
    ImageHost h;
    fs_image_disk *image = nullptr;
    ASSERT_EQ(fs_disk_list_add_image_disk(h.list(), h.host(), "/images/station.img", "station", &image), FS_OK);
    ASSERT_NE(image, nullptr);
    const std::string loop_name = stdfs::path(image->syspath).filename();
    EXPECT_TRUE(loop_bound(loop_name));
    EXPECT_EQ(read_all("/sys/block/" + loop_name + "/ro"), "1\n");
    EXPECT_EQ(read_all("/sys/block/" + loop_name + "/loop/partscan"), "1\n");
    EXPECT_EQ(h.host()->mount_count, 1); // the image file's volume stays mounted
    EXPECT_STREQ(image->name, "station");
    EXPECT_STREQ(image->image_path, "/images/station.img");
    EXPECT_EQ(fs_disk_list_first_image_disk(h.list()), image);

    fs_image_disk *again = nullptr;
    EXPECT_EQ(fs_disk_list_add_image_disk(h.list(), h.host(), "/images/station.img", "station", &again),
              FS_ERR_NAME_TAKEN);
    EXPECT_EQ(fs_disk_list_add_image_disk(h.list(), h.host(), "/images/missing.img", "other", &again), FS_ERR_IO);
    // A link on the volume stays inside it: an absolute target is not the
    // host's file of that name (here the host's copy of this very volume).
    EXPECT_EQ(fs_disk_list_add_image_disk(h.list(), h.host(), "/images/escape.img", "other", &again), FS_ERR_IO);
    // A pipe in the image's place is no image, and does not make the attach wait.
    alarm(60);
    EXPECT_EQ(fs_disk_list_add_image_disk(h.list(), h.host(), "/images/pipe.img", "other", &again), FS_ERR_IO);
    alarm(0);
    EXPECT_EQ(h.host()->mount_count, 1);
    ASSERT_EQ(fs_disk_list_add_image_disk(h.list(), h.host(), "/images/alias.img", "alias", &again), FS_OK);
    EXPECT_EQ(h.host()->mount_count, 2);
    ASSERT_EQ(fs_disk_list_remove_image_disk(h.list(), again), FS_OK);

    const std::string base = h.base_dir();
    ASSERT_EQ(fs_disk_list_remove_image_disk(h.list(), image), FS_OK);
    EXPECT_EQ(fs_disk_list_first_image_disk(h.list()), nullptr);
    EXPECT_FALSE(loop_bound(loop_name));
    EXPECT_EQ(h.host()->mount_count, 0);
    EXPECT_FALSE(mounted_below(base));
    EXPECT_FALSE(stdfs::exists(base));
}

TEST(RootImageDisk, BothPartitionsSeenAndABusyDiskStays)
{
    REQUIRE_ROOT();
    const bool kernel_scans = kernel_option("CONFIG_MSDOS_PARTITION");
    if (!kernel_scans && !simtest::have("partx"))
        GTEST_SKIP() << "this kernel reads no DOS partition tables and partx is not installed";
    ImageHost h;
    fs_image_disk *image = nullptr;
    ASSERT_EQ(fs_disk_list_add_image_disk(h.list(), h.host(), "/images/station.img", "station", &image), FS_OK);
    const std::string loop_name = stdfs::path(image->syspath).filename();
    if (!kernel_scans) {
        // A kernel without DOS partition tables (CONFIG_MSDOS_PARTITION off)
        // shows no partitions by itself: they are added as partx adds them
        // (BLKPG) and the image disk's partitions are looked up again.
        ASSERT_EQ(fs_image_disk_first_partition(image), nullptr);
        int status;
        const std::string out = simtest::run("partx -a " + std::string(image->devnode), status);
        ASSERT_EQ(status, 0) << out;
        ic_sys_udev *udev = nullptr;
        ASSERT_EQ(ic_sys_udev_create(&udev), 0);
        EXPECT_EQ(ic_fs::scan_image_partitions(image, udev), FS_OK);
        ic_sys_udev_destroy(udev);
    }
    std::vector<std::string> seen;
    for (fs_image_partition *p = fs_image_disk_first_partition(image); p; p = fs_image_disk_next_partition(p))
        seen.push_back(std::to_string(p->number) + " " + (p->volume.fs_type ? p->volume.fs_type : "-") + " "
                       + p->volume.devnode);
    ASSERT_EQ(seen, (std::vector<std::string>{"1 vfat /dev/" + loop_name + "p1", "2 ext4 /dev/" + loop_name + "p2"}));
    EXPECT_STREQ(fs_image_disk_partition_by_number(image, 1)->uuid, "1234-ABCD");

    // Found by its id; mounted, it keeps the image disk attached.
    fs_volume_id *raw = nullptr;
    ASSERT_EQ(fs_image_partition_id_create("station", 2, &raw), FS_OK);
    Id id(raw);
    fs_volume *data = fs_disk_list_find_volume(h.list(), id.get());
    ASSERT_EQ(data, &fs_image_disk_partition_by_number(image, 2)->volume);
    const char *mount_dir = nullptr;
    ASSERT_EQ(fs_volume_get_mount_point(data, 0, &mount_dir), FS_OK);
    EXPECT_EQ(read_all(std::string(mount_dir) + "/data/report.txt"), "quarterly");
    EXPECT_EQ(fs_disk_list_remove_image_disk(h.list(), image), FS_ERR_BUSY);
    EXPECT_EQ(fs_disk_list_first_image_disk(h.list()), image);
    EXPECT_TRUE(loop_bound(loop_name));

    ASSERT_EQ(fs_volume_release_mount_point(data), FS_OK);
    const std::string base = h.base_dir();
    ASSERT_EQ(fs_disk_list_remove_image_disk(h.list(), image), FS_OK);
    EXPECT_FALSE(loop_bound(loop_name));
    EXPECT_FALSE(stdfs::exists("/sys/block/" + loop_name + "/" + loop_name + "p1"));
    EXPECT_FALSE(mounted_below(base));
}

// The boot-time check attaches the registered image, checks it and lets it
// go: the next check of the run finds it free again, the image stays
// registered as stored and the host volume is left unmounted.
TEST(RootImageDisk, BootCheckLetsTheImageGoAfterEachCheck)
{
    REQUIRE_ROOT();
    ImageHost h;
    fs_volume *host = h.host();
    orva_fun_fs fs(h.take());
    fs_volume_id *raw = nullptr;
    ASSERT_EQ(fs_image_partition_id_create("station", 2, &raw), FS_OK);
    Id id(raw);
    const uint8_t hash[FS_OCL_HASH_SIZE] = {};
    const fs_ocl_file_attrs attrs{};
    ASSERT_EQ(fs_icl_add_file_info(fs.icl(), id.get(), "/data/report.txt", FS_OCL_CONTROL_DATA, hash, &attrs, nullptr),
              FS_OCL_OK);
    const QList<fs_vmdk_image> stored{
        {QStringLiteral("/images/station.img"), QStringLiteral("station"),
         QStringLiteral("0b7c6a52-3e1f-4d2a-9c8b-7a6f5e4d3c2b")}};
    for (int run = 1; run <= 2; ++run) {
        ic_fs::icl_check_ptr check;
        EXPECT_EQ(boot_check::check_volumes(fs, stored, check), 0) << run;
        ASSERT_TRUE(check);
        const fs_icl_check_volume *v = fs_icl_check_first_volume(check.get());
        ASSERT_NE(v, nullptr);
        // The image disk was there; its partition only where the kernel
        // reads its table. Nothing points at it any more.
        EXPECT_NE(v->state, FS_ICL_DISK_NOT_FOUND) << run;
        EXPECT_EQ(v->volume, nullptr) << run;
        EXPECT_EQ(fs_disk_list_first_image_disk(fs.disk_list()), nullptr) << run;
        EXPECT_EQ(host->mount_count, 0) << run;
        ASSERT_EQ(fs.vmdk_images().size(), 1) << run;
        EXPECT_EQ(fs.vmdk_images().first().name, QStringLiteral("station"));
    }
}

// What /proc/self/mounts says of the mount at a directory.
struct mount_entry {
    std::string source, type, options;
};

mount_entry mount_of(const std::string &dir)
{
    std::ifstream in("/proc/self/mounts");
    std::string source, target, type, options, rest;
    while (in >> source >> target >> type >> options && std::getline(in, rest))
        if (target == dir)
            return {source, type, options};
    return {};
}

// Waits a moment for a loop device to be cleared: one a FUSE driver held
// goes when the driver has ended after the unmount.
bool loop_cleared(const std::string &device)
{
    const std::string name = stdfs::path(device).filename();
    for (int i = 0; i < 100 && loop_bound(name); ++i)
        usleep(20000);
    return !loop_bound(name);
}

// Kernel names a test takes as unknown to the kernel, for its scope.
class KernelRefuses {
public:
    explicit KernelRefuses(const char *const *types) { ic_fs::kernel_types_refused = types; }
    ~KernelRefuses() { ic_fs::kernel_types_refused = nullptr; }
};

// Loop devices behind the volume nodes of a built computer, those named
// taking writes (so that only the mount's own protection keeps them
// unwritten); released when the guard goes.
class WritableLoops {
public:
    WritableLoops(const std::string &root, const std::vector<std::string> &nodes) : root_(root)
    {
        simcomputer::Error err;
        if (!simcomputer::attach_loops(root_, err, nodes))
            throw std::runtime_error(err.text());
    }
    ~WritableLoops()
    {
        simcomputer::Error err;
        simcomputer::detach_loops(root_, err);
    }

private:
    std::string root_;
};

const char *kDrivers = R"(
disk sda size=64M serial=DRIVERS
  part 1 start=1M size=16M type=7
    fs ntfs uuid=1122334455667788
      file /Windows/win.ini content="[boot]"
  part 2 start=17M size=8M
    fs ext2
      file /etc/hosts content="127.0.0.1 localhost"
  part 3 start=25M size=8M
    fs ext4
      file /etc/hosts content="127.0.0.1 localhost"
)";

// Each way of mounting: the kernel under udev's name or its other name, or
// the FUSE driver; always through a read-only loop device that the last
// user clears.
TEST(RootMount, KernelNamesThenTheFuseDriverThroughAReadOnlyLoop)
{
    REQUIRE_ROOT();
    if (!simtest::have("ntfs-3g"))
        GTEST_SKIP() << "ntfs-3g is not installed";
    Computer c(kDrivers, true);
    List list = make_list(false);
    const char *const none[] = {nullptr};
    const char *const no_ntfs[] = {"ntfs", "ntfs3", nullptr};
    const char *const no_ext2[] = {"ext2", nullptr};
    const char *const no_ext4[] = {"ext4", nullptr};
    struct Case {
        unsigned part;
        const char *const *refused;
        std::vector<std::string> types; // any of these
        const char *file, *content;
    } cases[] = {
        // What this kernel does: ntfs3 where it has it, else ntfs-3g.
        {1, none, {"ntfs3", "ntfs", "fuseblk"}, "/Windows/win.ini", "[boot]"},
        {1, no_ntfs, {"fuseblk"}, "/Windows/win.ini", "[boot]"},
        {2, no_ext2, {"ext4"}, "/etc/hosts", "127.0.0.1 localhost"},
        {3, no_ext4, {}, nullptr, nullptr}, // no other name: not mounted
    };
    for (const auto &k : cases) {
        SCOPED_TRACE("sda" + std::to_string(k.part) + " refused " + (k.refused[0] ? k.refused[0] : "none"));
        KernelRefuses refuses(k.refused);
        fs_volume *v = partition(list.get(), 0, k.part);
        const char *dir = nullptr;
        if (k.types.empty()) {
            EXPECT_EQ(fs_volume_get_mount_point(v, 0, &dir), FS_ERR_IO);
            EXPECT_EQ(v->mount_count, 0);
            EXPECT_EQ(list->base_dir, nullptr);
            continue;
        }
        ASSERT_EQ(fs_volume_get_mount_point(v, 0, &dir), FS_OK);
        const std::string mount = dir;
        const auto [source, type, options] = mount_of(mount);
        EXPECT_NE(std::find(k.types.begin(), k.types.end(), type), k.types.end()) << type;
        EXPECT_EQ((v->mount_flags & FS_MOUNT_PROGRAM) != 0, type == "fuseblk");
        ASSERT_EQ(source.rfind("/dev/loop", 0), 0u) << source;
        const std::string loop = stdfs::path(source).filename();
        EXPECT_EQ(read_all("/sys/block/" + loop + "/ro"), "1\n");
        EXPECT_EQ(read_all("/sys/block/" + loop + "/loop/autoclear"), "1\n");
        EXPECT_EQ(read_all(mount + k.file), k.content);
        errno = 0;
        EXPECT_LT(open((mount + k.file).c_str(), O_WRONLY | O_CLOEXEC), 0);
        EXPECT_EQ(errno, EROFS);
        expect_mount_flags(mount, false);
        ASSERT_EQ(fs_volume_release_mount_point(v), FS_OK);
        EXPECT_FALSE(mounted_below(mount));
        EXPECT_TRUE(loop_cleared(source));
    }
}

// A journal with a transaction not yet written home: its replay would write
// the volume, so the volume is not mounted, and nothing is written.
TEST(RootMount, AJournalThatNeedsReplayIsNeverReplayed)
{
    REQUIRE_ROOT();
    if (!simtest::have("debugfs"))
        GTEST_SKIP() << "debugfs (e2fsprogs) is not installed";
    Computer c(kDrivers);
    const std::string node = c.at("/dev/sda3");
    // Block size and last block from the superblock; one block of the
    // journal's transaction goes there.
    const std::string sb = simtest::read_at(node, 1024, 32);
    const uint32_t blocks = uint8_t(sb[4]) | uint8_t(sb[5]) << 8 | uint8_t(sb[6]) << 16 | uint32_t(uint8_t(sb[7])) << 24;
    const size_t block_size = size_t(1024) << uint8_t(sb[24]);
    simtest::TempDir tmp;
    std::ofstream(tmp / "block") << std::string(block_size, 'J');
    int status;
    const std::string out = simtest::run("printf 'jo\\njw -b " + std::to_string(blocks - 1) + " " + (tmp / "block")
                                             + "\\njc\\n' | debugfs -w -f - " + node + " 2>&1",
                                         status);
    ASSERT_EQ(status, 0) << out;
    ASSERT_NE(simtest::run("dumpe2fs -h " + node + " 2>/dev/null", status).find("needs_recovery"), std::string::npos);

    WritableLoops loops(c.root(), {"sda3"});
    const std::string backing = c.at("/.loops/sda3");
    const std::string before = simtest::read_file(backing);
    List list = make_list(false);
    fs_volume *v = partition(list.get(), 0, 3);
    const char *dir = nullptr;
    EXPECT_EQ(fs_volume_get_mount_point(v, 0, &dir), FS_ERR_IO);
    EXPECT_EQ(v->mount_count, 0);
    EXPECT_EQ(list->base_dir, nullptr);
    list.reset();
    EXPECT_TRUE(simtest::read_file(backing) == before) << "the volume was written";
}

// An ext superblock that asks for a kernel panic on the first inconsistency
// found does not get it: the mount says what an error does.
TEST(RootMount, TheVolumeDoesNotChooseAPanicOnErrors)
{
    REQUIRE_ROOT();
    if (!simtest::have("tune2fs"))
        GTEST_SKIP() << "tune2fs (e2fsprogs) is not installed";
    Computer c(kDrivers);
    for (const char *node : {"/dev/sda2", "/dev/sda3"}) {
        int status;
        const std::string out = simtest::run("tune2fs -e panic " + c.at(node), status);
        ASSERT_EQ(status, 0) << out;
    }
    WritableLoops loops(c.root(), {});
    List list = make_list(false);
    for (unsigned part : {2u, 3u}) {
        fs_volume *v = partition(list.get(), 0, part);
        const char *dir = nullptr;
        ASSERT_EQ(fs_volume_get_mount_point(v, 0, &dir), FS_OK);
        const std::string options = mount_of(dir).options;
        EXPECT_NE(("," + options + ",").find(",errors=remount-ro,"), std::string::npos) << options;
        ASSERT_EQ(fs_volume_release_mount_point(v), FS_OK);
    }
}

const char *kWindowsStates = R"(
disk sda size=64M serial=STATES
  part 1 start=1M size=16M type=7
    fs ntfs
      file /Windows/win.ini content="[boot]"
  part 2 start=17M size=16M type=7
    fs ntfs dirty=yes
      file /Windows/win.ini content="[boot]"
  part 3 start=33M size=16M type=7
    fs ntfs
      file /hiberfil.sys content="HIBR\x00\x00\x00\x00"
      file /Windows/win.ini content="[boot]"
)";

// A Windows that was not shut down: its volume is read as it was left, the
// mount says so, and nothing is written to it (no log reset, no flag).
TEST(RootMount, DirtyAndHibernatedNtfsIsReadAsItWasLeft)
{
    REQUIRE_ROOT();
    if (!simtest::have("ntfs-3g"))
        GTEST_SKIP() << "ntfs-3g is not installed";
    Computer c(kWindowsStates);
    WritableLoops loops(c.root(), {"sda1", "sda2", "sda3"});
    const char *const kernel[] = {nullptr};
    const char *const fuse[] = {"ntfs", "ntfs3", nullptr};
    for (const char *const *refused : {kernel, fuse}) {
        KernelRefuses refuses(refused);
        List list = make_list(false);
        const uint32_t notes[] = {0, FS_MOUNT_UNCLEAN, FS_MOUNT_HIBERNATED};
        for (unsigned part = 1; part <= 3; ++part) {
            SCOPED_TRACE("sda" + std::to_string(part) + (refused[0] ? " ntfs-3g" : " any driver"));
            const std::string backing = c.at("/.loops/sda" + std::to_string(part));
            const std::string before = simtest::read_file(backing);
            fs_volume *v = partition(list.get(), 0, part);
            const char *dir = nullptr;
            ASSERT_EQ(fs_volume_get_mount_point(v, 0, &dir), FS_OK);
            EXPECT_EQ(v->mount_flags & ~uint32_t(FS_MOUNT_PROGRAM), notes[part - 1]);
            EXPECT_EQ(read_all(std::string(dir) + "/Windows/win.ini"), "[boot]");
            const std::string source = mount_of(dir).source;
            ASSERT_EQ(fs_volume_release_mount_point(v), FS_OK);
            EXPECT_EQ(v->mount_flags, notes[part - 1]); // kept for the report
            EXPECT_TRUE(loop_cleared(source));
            EXPECT_TRUE(simtest::read_file(backing) == before) << "the volume was written";
        }
    }
}

} // namespace
