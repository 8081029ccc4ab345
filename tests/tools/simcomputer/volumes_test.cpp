// File systems, virtual-disk images and LVM volumes of simulated computers:
// description errors, what the real tools read back, loop devices as root.
#include "simcomputer/simcomputer.h"

#include "peers.h"
#include "sim_root.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using simtest::read_file;

namespace {

TEST(SimcomputerVolumes, DescriptionErrorsNameTheLine)
{
    struct Case {
        const char *text;
        int line;
        const char *message;
    } cases[] = {
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs xfs\n", 3, "unsupported type xfs"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ntfs uuid=0b7c6a52-3e1f-4d2a-9c8b-7a6f5e4d3c2b\n", 3,
         "bad uuid"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4 dirty=yes\n", 3, "dirty is for ntfs"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4 uuid=1234\n", 3, "bad uuid"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs vfat uuid=0b7c6a52-3e1f-4d2a-9c8b-7a6f5e4d3c2b\n", 3, "bad uuid"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4\n    fs ext4\n", 4, "fs given twice"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4\n      file etc/x\n", 4, "bad path"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4\n      file /a/../b\n", 4, "bad path"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4\n      file \"/a\\\"b\"\n", 4, "bad path"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4\n      file /x size=1 content=y\n", 4, "exclude"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4\n      file /x mode=0999\n", 4, "bad value for mode"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4\n      image /i.img\n", 4, "size= is required"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4\n      image /i.img size=1M\n        part 1 start=512K size=1M\n",
         5, "beyond the device"},
        {"disk sda size=4M\n  part 1 start=1M size=2M\n    fs ext4\n      link /x\n", 4, "unknown nested keyword"},
        {"lvm -vg\n", 1, "bad group name"},
        {"lvm vg\n  lv lv size=1000\n", 2, "multiple of 512"},
        {"lvm vg\n  lv a/b size=1M\n", 2, "bad name"},
        {"lvm vg\n  lv lv size=1M\n  lv lv size=1M\n", 3, "described twice"},
    };
    for (const auto &c : cases) {
        simcomputer::Computer computer;
        simcomputer::Error err;
        EXPECT_FALSE(simcomputer::parse(c.text, computer, err)) << c.text;
        EXPECT_EQ(err.line, c.line) << c.text;
        EXPECT_NE(err.message.find(c.message), std::string::npos) << c.text << " -> " << err.message;
    }
}

class DemoVolumes : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new simtest::TempDir;
        root_ = simtest::build_root(*dir_, read_file(DEMO_DESCRIPTION));
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string tool(const std::string &cmd)
    {
        int status;
        std::string out = simtest::run(cmd, status);
        EXPECT_EQ(status, 0) << cmd << ": " << out;
        return out;
    }
    // debugfs -R REQUEST IMAGE without its version banner.
    static std::string debugfs(const std::string &request, const std::string &image)
    {
        std::string out = tool("debugfs -R '" + request + "' " + image);
        if (out.rfind("debugfs ", 0) == 0)
            out.erase(0, out.find('\n') + 1);
        return out;
    }
    static simtest::TempDir *dir_;
    static std::string root_;
};
simtest::TempDir *DemoVolumes::dir_;
std::string DemoVolumes::root_;

TEST_F(DemoVolumes, PartitionNodesHoldTheDiskBytesAtTheirOffsets)
{
    for (const auto &[node, offset, size] : {std::tuple{"/dev/sdb1", 1u << 20, 16u << 20},
                                             std::tuple{"/dev/sdb2", 17u << 20, 40u << 20}}) {
        EXPECT_EQ(fs::file_size(root_ + node), size);
        EXPECT_TRUE(simtest::read_at(root_ + "/dev/sdb", offset, 1 << 16) == simtest::read_at(root_ + node, 0, 1 << 16))
            << node;
    }
}

TEST_F(DemoVolumes, TheToolsReadTheDescribedFiles)
{
    if (!simtest::have("debugfs") || !simtest::have("mtype") || !simtest::have("ntfscat"))
        GTEST_SKIP() << "debugfs (e2fsprogs), mtype (mtools) or ntfscat (ntfs-3g) is not installed";
    const std::string sdb2 = root_ + "/dev/sdb2";
    EXPECT_EQ(debugfs("cat /etc/hosts", sdb2), "127.0.0.1 localhost\n");
    EXPECT_NE(debugfs("stat /etc/shadow", sdb2).find("Mode:  0600"), std::string::npos);
    EXPECT_NE(debugfs("stat /bin/orva-agent", sdb2).find("Size: 49152"), std::string::npos);
    EXPECT_EQ(tool("MTOOLS_SKIP_CHECK=1 mtype -i " + root_ + "/dev/sdb1 ::/EFI/BOOT/grub.cfg"),
              "set timeout=5\nset default=0\n");
    EXPECT_NE(tool("blkid " + sdb2).find("LABEL=\"DATA\" UUID=\"3f5d6a2e-8c41-4b7e-9a0d-2c6e1b9f7a10\""),
              std::string::npos);
    EXPECT_EQ(debugfs("cat /srv/www/index.html", root_ + "/dev/dm-0"), "<html></html>\n");
    // A Windows directory on an NTFS volume, as ntfs-3g's tools read it
    // without mounting: the hives are the files the windows keyword writes,
    // byte for byte; the serial number is the described UUID.
    const std::string sda1 = root_ + "/dev/sda1";
    EXPECT_EQ(tool("ntfscat " + sda1 + " /Windows/System32/config/SYSTEM"),
              read_file(root_ + "/Windows/System32/config/SYSTEM"));
    EXPECT_EQ(tool("ntfscat " + sda1 + " /Windows/System32/drivers/etc/hosts"), "127.0.0.1 localhost\n");
    EXPECT_NE(tool("blkid " + sda1).find("LABEL=\"SYSTEM\" BLOCK_SIZE=\"512\" UUID=\"7C1E4B2A5D3F4A6E\" TYPE=\"ntfs\""),
              std::string::npos);
    EXPECT_NE(tool("ntfsinfo -m " + sda1).find("Volume Flags: 0x0000"), std::string::npos);

    // The image file on the ext4 volume: a DOS table with a FAT and an ext4
    // partition, as sfdisk reads it.
    const std::string image = dir_->path() + "/station.img";
    debugfs("dump /images/station.img " + image + "", sdb2);
    EXPECT_EQ(fs::file_size(image), 8u << 20);
    const std::string dump = tool("sfdisk -d " + image);
    EXPECT_NE(dump.find("station.img1 : start=        2048, size=        6144, type=c"), std::string::npos) << dump;
    EXPECT_NE(dump.find("station.img2 : start=        8192, size=        8192, type=83"), std::string::npos) << dump;
    tool("dd if=" + image + " of=" + image + ".p2 bs=1M skip=4 count=4 status=none");
    EXPECT_EQ(debugfs("cat /data/report.txt", image + ".p2"), "quarterly\n");
}

TEST_F(DemoVolumes, LvmVolumesAreDeviceMapperDevices)
{
    EXPECT_EQ(read_file(root_ + "/sys/block/dm-0/dm/name"), "vg--data-lv--1\n");
    EXPECT_EQ(read_file(root_ + "/sys/block/dm-0/dev"), "253:0\n");
    const std::string db = read_file(root_ + "/run/udev/data/b253:0");
    EXPECT_NE(db.find("S:mapper/vg--data-lv--1\n"), std::string::npos);
    EXPECT_NE(db.find("E:DM_VG_NAME=vg-data\nE:DM_LV_NAME=lv-1\n"), std::string::npos);
    EXPECT_NE(db.find("E:ID_FS_TYPE=ext4\n"), std::string::npos);
    EXPECT_EQ(fs::read_symlink(root_ + "/dev/vg-data/lv-1"), "../dm-0");
}

TEST(SimcomputerVolumes, LoopDevicesBehindTheVolumeNodes)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: loop devices and device nodes are privileged";
    simtest::TempDir dir;
    const std::string root = simtest::build_root(dir, "disk sda size=8M serial=S\n  part 1 start=1M size=4M\n"
                                                      "    fs ext4\n  part 2 start=5M size=1M\n");
    const std::string before = simtest::read_at(root + "/dev/sda1", 0, 4 << 20);
    simcomputer::Error err;
    ASSERT_TRUE(simcomputer::attach_loops(root, err)) << err.text();
    struct stat st;
    bool attached = lstat((root + "/dev/sda1").c_str(), &st) == 0 && S_ISBLK(st.st_mode);
    const std::string through = simtest::read_at(root + "/dev/sda1", 0, 4 << 20);
    const bool plain_disk = lstat((root + "/dev/sda").c_str(), &st) == 0 && S_ISREG(st.st_mode);
    const bool plain_part = lstat((root + "/dev/sda2").c_str(), &st) == 0 && S_ISREG(st.st_mode);
    ASSERT_TRUE(simcomputer::detach_loops(root, err)) << err.text();
    EXPECT_TRUE(attached);
    EXPECT_TRUE(through == before);
    EXPECT_TRUE(plain_disk); // no file system: left as it is
    EXPECT_TRUE(plain_part);
    EXPECT_TRUE(lstat((root + "/dev/sda1").c_str(), &st) == 0 && S_ISREG(st.st_mode));
    EXPECT_TRUE(simtest::read_at(root + "/dev/sda1", 0, 4 << 20) == before);
    EXPECT_FALSE(fs::exists(root + "/.loops"));
    EXPECT_TRUE(simcomputer::detach_loops(root, err)); // nothing left to do
}

} // namespace
