// Device properties: the udev-database backend on a simulated computer and
// the libudev backend on this machine against udevadm.
#include "ic/sys/udev.h"
#include "ic/sys/sysroot.h"

#include "peers.h"
#include "process.h"
#include "sim_root.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const char *const description = R"(
pci 0000:00:1f.2 vendor=8086 device=8c02 class=010601
disk sda size=64M controller=0000:00:1f.2 vendor=ATA model="ST500 DM" revision=KC45 serial=Z3T0
  part 1 start=1M size=32M
    prop ID_FS_TYPE=ext4 ID_FS_UUID=1234-abcd ID_FS_LABEL=root
  part 2 start=33M size=16M
cdrom sr0 controller=0000:00:1f.2 vendor=HL-DT-ST model=DVDRAM revision=LG00 serial=K8
loop loop0 size=1M
)";

const std::string sda_path = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda";

struct UdevDeleter {
    void operator()(ic_sys_udev *u) const { ic_sys_udev_destroy(u); }
    void operator()(ic_sys_udev_device *d) const { ic_sys_udev_device_destroy(d); }
    void operator()(ic_sys_udev_list *l) const { ic_sys_udev_list_destroy(l); }
};
using Udev = std::unique_ptr<ic_sys_udev, UdevDeleter>;
using Device = std::unique_ptr<ic_sys_udev_device, UdevDeleter>;
using List = std::unique_ptr<ic_sys_udev_list, UdevDeleter>;

Udev make_udev()
{
    ic_sys_udev *u = nullptr;
    EXPECT_EQ(ic_sys_udev_create(&u), IC_SYS_OK);
    return Udev(u);
}

Device by_path(ic_sys_udev *u, const std::string &path, int expect = IC_SYS_OK)
{
    ic_sys_udev_device *d = nullptr;
    EXPECT_EQ(ic_sys_udev_device_from_syspath(u, path.c_str(), &d), expect) << path;
    return Device(d);
}

std::string str(const char *s)
{
    return s ? s : "(null)";
}

std::map<std::string, std::string> properties(ic_sys_udev_device *d)
{
    std::map<std::string, std::string> props;
    for (size_t i = 0; i < ic_sys_udev_device_property_count(d); ++i) {
        const char *k, *v;
        EXPECT_EQ(ic_sys_udev_device_property_at(d, i, &k, &v), IC_SYS_OK);
        EXPECT_TRUE(props.emplace(k, v).second) << "duplicate " << k;
    }
    return props;
}

class UdevDbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = simtest::build_root(dir_, description);
        sysroot_ = std::make_unique<simtest::SysRoot>(root_);
        udev_ = make_udev();
        ASSERT_TRUE(udev_);
    }
    void TearDown() override { udev_.reset(); }

    simtest::TempDir dir_;
    std::string root_;
    std::unique_ptr<simtest::SysRoot> sysroot_;
    Udev udev_;
};

TEST_F(UdevDbTest, DiskByLinkedSyspath)
{
    Device d = by_path(udev_.get(), "/sys/block/sda");
    ASSERT_TRUE(d);
    EXPECT_EQ(str(ic_sys_udev_device_syspath(d.get())), sda_path);
    EXPECT_EQ(str(ic_sys_udev_device_devpath(d.get())), sda_path.substr(4));
    EXPECT_EQ(str(ic_sys_udev_device_sysname(d.get())), "sda");
    EXPECT_EQ(ic_sys_udev_device_sysnum(d.get()), nullptr);
    EXPECT_EQ(str(ic_sys_udev_device_subsystem(d.get())), "block");
    EXPECT_EQ(str(ic_sys_udev_device_devtype(d.get())), "disk");
    EXPECT_EQ(str(ic_sys_udev_device_devnode(d.get())), "/dev/sda");
    unsigned major = 0, minor = 99;
    ASSERT_EQ(ic_sys_udev_device_devnum(d.get(), &major, &minor), IC_SYS_OK);
    EXPECT_EQ(major, 8u);
    EXPECT_EQ(minor, 0u);

    // The kernel's uevent, then the database as real udev writes it for an
    // ATA disk: no ID_VENDOR, the model's blanks as '_' and escaped in _ENC.
    std::string model_enc = "ST500\\x20DM";
    for (int i = 0; i < 32; ++i)
        model_enc += "\\x20";
    std::map<std::string, std::string> expected = {
        {"DEVPATH", sda_path.substr(4)}, {"SUBSYSTEM", "block"}, {"DEVNAME", "/dev/sda"}, {"DEVTYPE", "disk"},
        {"MAJOR", "8"}, {"MINOR", "0"}, {"DISKSEQ", "1"}, {"USEC_INITIALIZED", "1000000"}, {"ID_ATA", "1"},
        {"ID_TYPE", "disk"}, {"ID_BUS", "ata"}, {"ID_MODEL", "ST500_DM"}, {"ID_MODEL_ENC", model_enc},
        {"ID_REVISION", "KC45"}, {"ID_SERIAL", "ST500_DM_Z3T0"}, {"ID_SERIAL_SHORT", "Z3T0"},
        {"ID_PATH", "pci-0000:00:1f.2-ata-1.0"}, {"ID_PATH_TAG", "pci-0000_00_1f_2-ata-1_0"},
        {"ID_PATH_ATA_COMPAT", "pci-0000:00:1f.2-ata-1"}, {"ID_PART_TABLE_TYPE", "dos"},
        {"DEVLINKS", "/dev/disk/by-id/ata-ST500_DM_Z3T0 /dev/disk/by-path/pci-0000:00:1f.2-ata-1.0 "
                     "/dev/disk/by-path/pci-0000:00:1f.2-ata-1 /dev/disk/by-diskseq/1"}};
    EXPECT_EQ(properties(d.get()), expected);
    EXPECT_EQ(str(ic_sys_udev_device_property(d.get(), "ID_SERIAL_SHORT")), "Z3T0");
    EXPECT_EQ(ic_sys_udev_device_property(d.get(), "ID_CDROM"), nullptr);

    EXPECT_EQ(str(ic_sys_udev_device_sysattr(d.get(), "removable")), "0");
    EXPECT_EQ(str(ic_sys_udev_device_sysattr(d.get(), "size")), "131072");
    EXPECT_EQ(str(ic_sys_udev_device_sysattr(d.get(), "subsystem")), "block");
    EXPECT_EQ(str(ic_sys_udev_device_sysattr(d.get(), "device/model")), "ST500 DM        ");
    for (const char *bad : {"device", "missing", "../sda", "sda1/../../sda/size", "/etc/passwd", ""})
        EXPECT_EQ(ic_sys_udev_device_sysattr(d.get(), bad), nullptr) << bad;
}

TEST_F(UdevDbTest, PartitionByDeviceNumber)
{
    ic_sys_udev_device *raw = nullptr;
    ASSERT_EQ(ic_sys_udev_device_from_devnum(udev_.get(), 'b', 8, 1, &raw), IC_SYS_OK);
    Device d(raw);
    EXPECT_EQ(str(ic_sys_udev_device_syspath(d.get())), sda_path + "/sda1");
    EXPECT_EQ(str(ic_sys_udev_device_sysnum(d.get())), "1");
    EXPECT_EQ(str(ic_sys_udev_device_devtype(d.get())), "partition");
    EXPECT_EQ(str(ic_sys_udev_device_devnode(d.get())), "/dev/sda1");
    EXPECT_EQ(str(ic_sys_udev_device_property(d.get(), "ID_FS_TYPE")), "ext4");
    EXPECT_EQ(str(ic_sys_udev_device_property(d.get(), "ID_FS_UUID")), "1234-abcd");
    EXPECT_EQ(str(ic_sys_udev_device_property(d.get(), "ID_SERIAL_SHORT")), "Z3T0"); // from the disk
    EXPECT_EQ(str(ic_sys_udev_device_property(d.get(), "PARTN")), "1");
    EXPECT_EQ(str(ic_sys_udev_device_sysattr(d.get(), "partition")), "1");
    EXPECT_EQ(str(ic_sys_udev_device_sysattr(d.get(), "start")), "2048");
}

TEST_F(UdevDbTest, OpticalAndVirtualDevices)
{
    Device cd = by_path(udev_.get(), "/sys/class/block/sr0");
    ASSERT_TRUE(cd);
    EXPECT_EQ(str(ic_sys_udev_device_property(cd.get(), "ID_CDROM")), "1");
    EXPECT_EQ(str(ic_sys_udev_device_sysattr(cd.get(), "removable")), "1");
    Device loop = by_path(udev_.get(), "/sys/block/loop0");
    ASSERT_TRUE(loop);
    EXPECT_EQ(str(ic_sys_udev_device_syspath(loop.get())), "/sys/devices/virtual/block/loop0");
    EXPECT_EQ(ic_sys_udev_device_property(loop.get(), "ID_SERIAL_SHORT"), nullptr);
}

TEST_F(UdevDbTest, LookupFailures)
{
    ic_sys_udev_device *d = nullptr;
    EXPECT_EQ(ic_sys_udev_device_from_syspath(udev_.get(), "/sys/block/nope", &d), IC_SYS_ENOENT);
    EXPECT_EQ(ic_sys_udev_device_from_syspath(udev_.get(), "/dev", &d), IC_SYS_ENOENT); // not below /sys
    EXPECT_EQ(ic_sys_udev_device_from_syspath(udev_.get(), "/sys/devices", &d), IC_SYS_ENOENT); // no uevent
    EXPECT_EQ(ic_sys_udev_device_from_syspath(udev_.get(), "sys/block/sda", &d), IC_SYS_EINVAL);
    EXPECT_EQ(ic_sys_udev_device_from_devnum(udev_.get(), 'b', 9, 9, &d), IC_SYS_ENOENT);
    EXPECT_EQ(ic_sys_udev_device_from_devnum(udev_.get(), 'x', 8, 0, &d), IC_SYS_EINVAL);
    EXPECT_EQ(ic_sys_udev_device_from_syspath(nullptr, "/sys/block/sda", &d), IC_SYS_EINVAL);
    EXPECT_EQ(d, nullptr);
}

TEST_F(UdevDbTest, EnumerationIsSortedAndComplete)
{
    ic_sys_udev_list *raw = nullptr;
    ASSERT_EQ(ic_sys_udev_enum_block(udev_.get(), &raw), IC_SYS_OK);
    List list(raw);
    std::vector<std::string> paths;
    for (size_t i = 0; i < ic_sys_udev_list_count(list.get()); ++i)
        paths.push_back(ic_sys_udev_list_syspath(list.get(), i));
    const std::string sr0 = "/sys/devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0/block/sr0";
    std::vector<std::string> expected = {sda_path, sda_path + "/sda1", sda_path + "/sda2", sr0,
                                         "/sys/devices/virtual/block/loop0"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(paths, expected);
    EXPECT_EQ(ic_sys_udev_list_syspath(list.get(), paths.size()), nullptr);
}

TEST_F(UdevDbTest, SettledAtOnce)
{
    EXPECT_EQ(ic_sys_udev_settle(udev_.get(), 0), IC_SYS_OK);
}

TEST_F(UdevDbTest, DatabaseLinesThatAreNotPropertiesAreSkipped)
{
    {
        std::ofstream db(root_ + "/run/udev/data/b8:2", std::ios::app);
        db << "X\nE:NOEQUALS\nE:=empty-key\nQ:tag\nN:sda2-node\nE:GOOD=a=b\r\nI:12345\n";
    }
    Device d = by_path(udev_.get(), "/sys/class/block/sda2");
    ASSERT_TRUE(d);
    EXPECT_EQ(str(ic_sys_udev_device_property(d.get(), "GOOD")), "a=b");
    EXPECT_EQ(ic_sys_udev_device_property(d.get(), "NOEQUALS"), nullptr);
    EXPECT_EQ(ic_sys_udev_device_property(d.get(), ""), nullptr);
    EXPECT_EQ(str(ic_sys_udev_device_devnode(d.get())), "/dev/sda2-node");
    EXPECT_EQ(str(ic_sys_udev_device_property(d.get(), "USEC_INITIALIZED")), "12345");
}

// libudev on this machine, checked against udevadm.

TEST(UdevLibudev, AgreesWithUdevadmOnARealBlockDevice)
{
    unsetenv("ORVA_SYSROOT");
    if (!simtest::have("udevadm"))
        GTEST_SKIP() << "udevadm is not installed";
    Udev udev = make_udev();
    ASSERT_TRUE(udev);
    ic_sys_udev_list *raw = nullptr;
    ASSERT_EQ(ic_sys_udev_enum_block(udev.get(), &raw), IC_SYS_OK);
    List list(raw);
    std::string chosen;
    for (size_t i = 0; i < ic_sys_udev_list_count(list.get()); ++i) {
        std::string p = ic_sys_udev_list_syspath(list.get(), i);
        if (p.find("/virtual/") == std::string::npos) {
            chosen = p;
            break;
        }
        if (chosen.empty())
            chosen = p;
    }
    if (chosen.empty())
        GTEST_SKIP() << "this machine has no block device";

    Device d = by_path(udev.get(), chosen);
    ASSERT_TRUE(d);
    const simtest::Result info = simtest::run_program({"udevadm", "info", "--query=property", "--path=" + chosen});
    ASSERT_EQ(info.status, 0) << info.err;
    const std::string &out = info.out;
    std::map<std::string, std::string> expected;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        std::string line = out.substr(start, end - start);
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            expected[line.substr(0, eq)] = line.substr(eq + 1);
        start = end == std::string::npos ? out.size() : end + 1;
    }
    EXPECT_EQ(properties(d.get()), expected) << chosen;
    if (expected.count("DEVNAME")) {
        EXPECT_EQ(str(ic_sys_udev_device_devnode(d.get())), expected["DEVNAME"]);
    }

    unsigned major, minor;
    ASSERT_EQ(ic_sys_udev_device_devnum(d.get(), &major, &minor), IC_SYS_OK);
    ic_sys_udev_device *again = nullptr;
    ASSERT_EQ(ic_sys_udev_device_from_devnum(udev.get(), 'b', major, minor, &again), IC_SYS_OK);
    Device same(again);
    EXPECT_EQ(str(ic_sys_udev_device_syspath(same.get())), chosen);
    EXPECT_EQ(str(ic_sys_udev_device_sysattr(d.get(), "size")),
              [&] {
                  std::string s = simtest::read_file(chosen + "/size");
                  while (!s.empty() && s.back() == '\n')
                      s.pop_back();
                  return s;
              }());
    EXPECT_EQ(ic_sys_udev_settle(udev.get(), 5000), IC_SYS_OK);
}

} // namespace
