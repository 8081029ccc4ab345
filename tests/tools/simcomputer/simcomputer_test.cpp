// The simulated-computer generator: description errors, deterministic trees,
// the sysfs and udev layout, physical memory, and what peers read from it.
#include "simcomputer/simcomputer.h"

#include "peers.h"
#include "sim_root.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using simtest::read_file;

namespace {

std::string demo_text()
{
    return read_file(DEMO_DESCRIPTION);
}

std::string link_of(const std::string &path)
{
    return fs::read_symlink(path).string();
}

TEST(SimcomputerDescription, ErrorsNameTheLine)
{
    struct Case {
        const char *text;
        int line;
        const char *message;
    } cases[] = {
        {"frobnicate 1\n", 1, "unknown keyword frobnicate"},
        {"\n# comment\npci 0000:00:00.0 vendor=8086 device=1 class=060000 colour=red\n", 3, "unknown attribute colour"},
        {"pci 0000:00:20.0 vendor=8086 device=1 class=0\n", 1, "bad address"},
        {"pci 0000:00:00.0 vendor=8086 class=0\n", 1, "device= is required"},
        {"pci 0000:00:00.0 vendor=18086 device=1 class=0\n", 1, "bad value for vendor"},
        {"pci 0000:00:00.0 vendor=8086 device=1 class=0\npci 0000:00:00.0 vendor=8086 device=1 class=0\n", 2, "described twice"},
        {"pci 0000:01:00.0 vendor=1 device=1 class=0 bridge=0000:00:1c.0\n", 1, "not described"},
        {"usb 1-1.2 vendor=1 product=2\n", 1, "not described"},
        {"usb 1 vendor=1 product=2\n", 1, "bad device name"},
        {"disk sda\n", 1, "size= is required"},
        {"disk sda size=1000\n", 1, "multiple of 512"},
        {"disk nvme0n1 size=1M\n", 1, "give dev=MAJOR:MINOR"},
        {"disk sda size=1M\ndisk sdb size=1M dev=8:0\n", 2, "used twice"},
        {"disk sda size=1M\n  part 1 start=512K size=1M\n", 2, "beyond the device"},
        {"disk sda size=4M\n  part 1 start=1M size=1M\n  part 2 start=1536K size=1M\n", 3, "overlaps"},
        {"disk sda size=1M\n  gadget\n", 2, "unknown nested keyword"},
        {"cdrom sr0 virtual=yes\n", 1, "cannot be virtual"},
        {"monitor manufacturer=DEL\n", 1, "port= is required"},
        {"monitor port=6 manufacturer=DEL\n", 1, "bad value for port"},
        {"monitor port=0 manufacturer=Del\n", 1, "three letters"},
        {"monitor port=0 manufacturer=DEL name=\"FOURTEEN CHARS\"\n", 1, "at most 13"},
        {"monitor port=0 edid=00ff\n", 1, "256 hexadecimal digits"},
        {"monitor port=0 manufacturer=DEL\nmonitor port=0 manufacturer=SAM\n", 2, "described twice"},
        {"memarray\n  memory size=3X\n", 2, "bad value for size"},
        {"smbios entry=uefi\n", 1, "bad value for entry"},
        {"bios segment=0xC000\n", 1, "segment must be"},
        {"cmdline \"a\" \"b\"\n", 1, "expected one argument"},
        {"cmdline \"open\n", 1, "unterminated quote"},
        {"cmdline a\ncmdline b\n", 2, "given twice"},
        {"videobios mode=maybe\n", 1, "bad value for mode"},
        {"smbios entry_addr=0xE0000\n", 0, "16-byte boundary"},
        {"smbios entry=sm3 version=2.7\n", 1, "version must be 3.0 to 3.9"},
        {"smbios entry=efi version=3.0\n", 1, "version must be 2.0 to 2.8"},
        {"smbios entry=sm table_addr=0x100000000\n", 1, "bad value for table_addr"},
        {"disk sda size=8M\n  part 1 start=1M size=1M boot=maybe\n", 2, "bad value for boot"},
        {"disk sda size=8M\n  part 5 start=1M size=1M\n", 1, "need an extended partition"},
        {"disk sda size=8M\n  part 1 start=1M size=2M type=5\n  part 2 start=3M size=2M type=f\n", 1, "more than one extended"},
        {"disk sda size=8M\n  part 1 start=1M size=2M type=5\n  part 6 start=2M size=512K\n", 1, "numbered 5, 6"},
        {"disk sda size=8M\n  part 1 start=1M size=2M type=5\n  part 5 start=1M size=512K\n", 1, "no room"},
        {"disk sda size=8M\n  part 1 start=1M size=2M type=5\n  part 5 start=2M size=2M\n", 1, "outside the extended"},
        {"disk sda size=8M\n  part 1 start=1M size=2M type=5\n  part 2 start=4M size=2M\n  part 5 start=4M size=1M\n", 4, "overlaps"},
        {"disk sda size=8M\n  part 1 start=1M size=2M type=5\n  part 5 start=2M size=512K next=7\n", 1, "names no logical"},
        {"disk sda size=8M\n  part 1 start=1M size=2M next=5\n", 1, "for logical partitions"},
        {"disk sda image=/nonexistent/disk.img\n", 1, "image /nonexistent/disk.img"},
        {"disk sda size=1M image=/dev/null\n", 1, "size= does not go with image="},
        {"disk sda image=/dev/null\n", 1, "not a file"},
        {"disk sda size=8M\n  part 1 start=1M size=4M\n    fs vfat\n      socket /s\n", 4, "only ext keeps special"},
        {"disk sda size=8M\n  part 1 start=1M size=4M\n    fs ext4\n      device /d dev=1:5\n", 4, "type=char or type=block"},
        {"disk sda size=8M\n  part 1 start=1M size=4M\n    fs ext4\n      device /d type=char dev=x\n", 4, "bad value for dev"},
    };
    for (const Case &c : cases) {
        simcomputer::Computer computer;
        simcomputer::Error err;
        bool ok = simcomputer::parse(c.text, computer, err);
        if (ok) {
            simtest::TempDir dir;
            ok = simcomputer::build(computer, dir / "root", err);
            EXPECT_FALSE(fs::exists(dir / "root")) << c.text;
        }
        ASSERT_FALSE(ok) << c.text;
        EXPECT_EQ(err.line, c.line) << c.text << err.text();
        EXPECT_NE(err.message.find(c.message), std::string::npos) << c.text << " gave: " << err.text();
    }
}

TEST(SimcomputerDescription, QuotesEscapesAndNesting)
{
    simcomputer::Computer c;
    simcomputer::Error err;
    ASSERT_TRUE(simcomputer::parse("cmdline \"a \\\"b\\\" \\\\ \\x41\"  # trailing comment\n"
                                   "memarray use=4\n"
                                   "\tmemory locator=\"DIMM 0\" size=512K\n"
                                   "  memory locator=D1 size=0x8200\n"
                                   "memarray\n"
                                   "  memory size=40G\n",
                                   c, err))
        << err.text();
    EXPECT_EQ(*c.cmdline, "a \"b\" \\ A");
    ASSERT_EQ(c.memory_arrays.size(), 2u);
    EXPECT_EQ(c.memory_arrays[0].use, 4);
    ASSERT_EQ(c.memory_arrays[0].devices.size(), 2u);
    EXPECT_EQ(c.memory_arrays[0].devices[0].locator, "DIMM 0");
    EXPECT_EQ(c.memory_arrays[0].devices[0].size, 0x8200);
    EXPECT_EQ(c.memory_arrays[0].devices[1].size, 0x8200);
    EXPECT_EQ(c.memory_arrays[1].devices[0].size, 0x7FFF);
    EXPECT_EQ(c.memory_arrays[1].devices[0].extended_size, 40u * 1024);

    // Leading zeros are decimal, never octal.
    ASSERT_TRUE(simcomputer::parse("monitor port=0 manufacturer=DEL week=08 year=2014\n", c, err)) << err.text();
    EXPECT_EQ(c.monitors[0].edid[16], 8);
}

// The data extents of a file with their offsets; holes are skipped, so
// large sparse device nodes cost nothing.
std::string data_of(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "unreadable";
    std::string out;
    off_t end = lseek(fd, 0, SEEK_END);
    for (off_t pos = 0; pos < end;) {
        off_t data = lseek(fd, pos, SEEK_DATA);
        if (data < 0)
            break;
        off_t hole = lseek(fd, data, SEEK_HOLE);
        std::string chunk(size_t(hole - data), '\0');
        if (pread(fd, chunk.data(), chunk.size(), data) != ssize_t(chunk.size()))
            chunk = "short read";
        out += "@" + std::to_string(data) + ":" + chunk;
        pos = hole;
    }
    close(fd);
    return out;
}

// Every entry below root: type, link target or contents, mode.
std::map<std::string, std::string> snapshot(const std::string &root)
{
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().string().substr(root.size());
        struct stat st;
        lstat(it->path().c_str(), &st);
        std::string what = std::to_string(st.st_mode) + " ";
        if (S_ISLNK(st.st_mode))
            what += "link " + link_of(it->path());
        else if (S_ISREG(st.st_mode))
            what += "file " + std::to_string(st.st_size) + " " + data_of(it->path());
        tree[rel] = what;
    }
    return tree;
}

TEST(SimcomputerBuild, TheSameDescriptionGivesTheSameTree)
{
    simtest::TempDir dir;
    auto a = snapshot(simtest::build_root(dir, demo_text(), "a"));
    auto b = snapshot(simtest::build_root(dir, demo_text(), "b"));
    EXPECT_GT(a.size(), 200u);
    EXPECT_TRUE(a == b);
    for (const auto &[path, what] : a)
        EXPECT_EQ(what, b[path]) << path;
}

TEST(SimcomputerBuild, RootMustBeNewOrEmptyAndFailuresLeaveNothing)
{
    simtest::TempDir dir;
    simcomputer::Computer c;
    simcomputer::Error err;
    ASSERT_TRUE(simcomputer::parse("cmdline x\n", c, err));
    fs::create_directory(dir / "empty");
    EXPECT_TRUE(simcomputer::build(c, dir / "empty", err)) << err.text();
    EXPECT_EQ(read_file(dir / "empty/proc/cmdline"), "x\n");
    EXPECT_FALSE(simcomputer::build(c, dir / "empty", err));
    EXPECT_NE(err.message.find("not an empty directory"), std::string::npos);

    ASSERT_TRUE(simcomputer::parse("smbios entry=efi entry_addr=0x9FFF0\n", c, err));
    EXPECT_FALSE(simcomputer::build(c, dir / "bad", err)); // the table runs into video memory
    std::set<std::string> left;
    for (const auto &e : fs::directory_iterator(dir.path()))
        left.insert(e.path().filename());
    EXPECT_EQ(left, std::set<std::string>{"empty"});
}

TEST(SimcomputerBuild, CommandLineTool)
{
    simtest::TempDir dir;
    int status;
    const std::string tool = SIMCOMPUTER_BIN;
    simtest::run(tool, status);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    // --writable names a loop device's node, so it needs --loop and a name.
    for (const char *args : {" --writable sdb2 a b", " --loop --writable", " --loop a b c", " --bogus a b"}) {
        simtest::run(tool + args, status);
        EXPECT_EQ(WEXITSTATUS(status), 2) << args;
    }
    std::ofstream(dir / "bad.txt") << "pci nonsense\n";
    std::string out = simtest::run(tool + " " + (dir / "bad.txt") + " " + (dir / "r1"), status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(out.find("line 1: pci: bad address nonsense"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir / "r1"));
    out = simtest::run(tool + " " + DEMO_DESCRIPTION + " " + (dir / "r2"), status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(fs::exists(dir / "r2/dev/mem"));
}

TEST(SimcomputerDisks, ImageFileIsTheDisk)
{
    // An image file with a partition table at the start and data near its
    // end, its size not a whole number of sectors: the node holds the same
    // bytes, zero-padded to the next sector, and sysfs gives that size.
    simtest::TempDir dir;
    std::string bytes(3 * 1024 * 1024 + 100, '\0');
    bytes[446 + 4] = 0x07;
    bytes[510] = 0x55;
    bytes[511] = char(0xAA);
    bytes.replace(bytes.size() - 10, 10, "tail bytes");
    std::ofstream(dir / "disk.img", std::ios::binary) << bytes;
    const std::string root = simtest::build_root(dir, "disk sda image=" + (dir / "disk.img") + " serial=IMG\n");
    const std::string node = read_file(root + "/dev/sda");
    ASSERT_EQ(node.size(), 3u * 1024 * 1024 + 512);
    EXPECT_EQ(node.substr(0, bytes.size()), bytes);
    EXPECT_EQ(node.substr(bytes.size()), std::string(512 - 100, '\0'));
    EXPECT_EQ(read_file(root + "/sys/block/sda/size"), "6145\n");
    struct stat st;
    ASSERT_EQ(stat((root + "/dev/sda").c_str(), &st), 0);
    EXPECT_LT(uint64_t(st.st_blocks) * 512, uint64_t(node.size())); // zero blocks stay holes
}

class DemoTree : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new simtest::TempDir;
        root_ = simtest::build_root(*dir_, demo_text(), "root", &model_);
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string at(const std::string &path) { return root_ + path; }
    static std::string attr(const std::string &path) { return read_file(at(path)); }
    // Where a system link leads, as a system path.
    static std::string resolved(const std::string &path)
    {
        return fs::canonical(at(path)).string().substr(fs::canonical(root_).string().size());
    }

    static simtest::TempDir *dir_;
    static std::string root_;
    static simcomputer::Computer model_;
};
simtest::TempDir *DemoTree::dir_;
std::string DemoTree::root_;
simcomputer::Computer DemoTree::model_;

TEST_F(DemoTree, PciFunctionsAsTheKernelShowsThem)
{
    EXPECT_EQ(link_of(at("/sys/bus/pci/devices/0000:00:1f.2")), "../../../devices/pci0000:00/0000:00:1f.2");
    EXPECT_EQ(resolved("/sys/bus/pci/devices/0000:01:00.0"), "/sys/devices/pci0000:00/0000:00:1c.0/0000:01:00.0");
    EXPECT_EQ(attr("/sys/bus/pci/devices/0000:00:1f.2/vendor"), "0x8086\n");
    EXPECT_EQ(attr("/sys/bus/pci/devices/0000:00:1f.2/device"), "0x8c02\n");
    EXPECT_EQ(attr("/sys/bus/pci/devices/0000:00:1f.2/class"), "0x010601\n");
    EXPECT_EQ(resolved("/sys/bus/pci/devices/0000:00:1f.2/subsystem"), "/sys/bus/pci");

    if (!simtest::have("lspci"))
        GTEST_SKIP() << "lspci (pciutils) is not installed";
    int status;
    std::string out = simtest::run("lspci -n -D -A linux-sysfs -O sysfs.path=" + at("/sys/bus/pci"), status);
    ASSERT_EQ(status, 0) << out;
    std::string expected;
    for (const auto &f : model_.pci) {
        char line[96];
        std::snprintf(line, sizeof line, "%s %04x: %04x:%04x", f.address().c_str(), f.class_code >> 8, f.vendor,
                      f.device_id);
        expected += line;
        if (f.revision)
            expected += " (rev " + std::string(1, "0123456789abcdef"[f.revision >> 4]) + "0123456789abcdef"[f.revision & 15] + ")";
        expected += "\n";
    }
    EXPECT_EQ(out, expected);
}

TEST_F(DemoTree, UsbDevicesRootHubsAndInterfaces)
{
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(at("/sys/bus/usb/devices")))
        names.insert(e.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"usb1", "1-0:1.0", "1-1", "1-1:1.0", "1-2", "1-2:1.0"}));
    EXPECT_EQ(resolved("/sys/bus/usb/devices/1-2"), "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2");
    EXPECT_EQ(attr("/sys/bus/usb/devices/1-2/idVendor"), "0781\n");
    EXPECT_EQ(attr("/sys/bus/usb/devices/1-2/idProduct"), "5567\n");
    EXPECT_EQ(attr("/sys/bus/usb/devices/1-2/serial"), "4C530001230101117532\n");
    EXPECT_EQ(attr("/sys/bus/usb/devices/usb1/idVendor"), "1d6b\n");
    EXPECT_EQ(attr("/sys/bus/usb/devices/1-2:1.0/bInterfaceClass"), "08\n");

    simtest::TempDir dir;
    std::string root = simtest::build_root(dir, "usb 2-1 vendor=1 product=2\nusb 2-1.4 vendor=3 product=4 serial=S\n");
    EXPECT_FALSE(fs::exists(root + "/sys/bus/usb/devices/2-1/serial")); // no serial described
    EXPECT_EQ(fs::canonical(root + "/sys/bus/usb/devices/2-1.4").string(),
              fs::canonical(root).string() + "/sys/devices/platform/dummy_hcd.1/usb2/2-1/2-1.4");
    EXPECT_EQ(read_file(root + "/sys/bus/usb/devices/2-1.4/devnum"), "3\n");
}

TEST_F(DemoTree, BlockDevicesUdevDatabaseAndNodes)
{
    EXPECT_EQ(link_of(at("/sys/block/sda")),
              "../devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda");
    EXPECT_EQ(resolved("/sys/block/loop0"), "/sys/devices/virtual/block/loop0");
    EXPECT_EQ(resolved("/sys/class/block/sda2"), resolved("/sys/block/sda") + "/sda2");
    EXPECT_EQ(resolved("/sys/dev/block/8:1"), resolved("/sys/block/sda") + "/sda1");
    EXPECT_EQ(resolved("/sys/block/sdc"),
              "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host3/target3:0:0/3:0:0:0/block/sdc");
    EXPECT_EQ(attr("/sys/block/sda/dev"), "8:0\n");
    EXPECT_EQ(attr("/sys/block/sda/size"), "524288\n");
    EXPECT_EQ(attr("/sys/block/sda/removable"), "0\n");
    EXPECT_EQ(attr("/sys/block/sdc/removable"), "1\n");
    EXPECT_EQ(attr("/sys/block/sr0/removable"), "1\n");
    EXPECT_EQ(attr("/sys/block/sr0/dev"), "11:0\n");
    EXPECT_EQ(attr("/sys/class/block/sda2/start"), "133120\n");
    EXPECT_EQ(attr("/sys/class/block/sda2/partition"), "2\n");

    // Whole records per transport are compared with a real udev's in
    // udev_records_test.cpp; here what the program reads of the demo's disks.
    const std::string sda = attr("/run/udev/data/b8:0");
    for (const char *line : {"S:disk/by-id/ata-ST500DM002-1BD142_Z3T0ABCD\n", "E:ID_BUS=ata\n",
                             "E:ID_MODEL=ST500DM002-1BD142\n", "E:ID_SERIAL=ST500DM002-1BD142_Z3T0ABCD\n",
                             "E:ID_SERIAL_SHORT=Z3T0ABCD\n", "E:ID_PART_TABLE_TYPE=dos\n"})
        EXPECT_NE(sda.find(line), std::string::npos) << line;
    EXPECT_EQ(sda.find("E:ID_VENDOR="), std::string::npos) << "an ATA disk has no ID_VENDOR";
    EXPECT_NE(attr("/run/udev/data/b11:0").find("E:ID_CDROM=1\n"), std::string::npos);
    EXPECT_NE(attr("/run/udev/data/b8:32").find("E:ID_SERIAL=SanDisk_Cruzer_Blade_4C530001230101117532-0:0\n"),
              std::string::npos);
    EXPECT_EQ(fs::file_size(at("/dev/sda")), 256u << 20);
    EXPECT_EQ(fs::file_size(at("/dev/sda2")), 160u << 20);
    EXPECT_EQ(fs::file_size(at("/dev/sr0")), 0u);
    EXPECT_EQ(link_of(at("/dev/disk/by-id/ata-ST500DM002-1BD142_Z3T0ABCD-part1")), "../../sda1");
    EXPECT_EQ(attr("/proc/cmdline"), "BOOT_IMAGE=/boot/vmlinuz-6.1.0 root=/dev/sda1 ro quiet orva\n");
}

TEST_F(DemoTree, PhysicalMemory)
{
    const std::string mem = attr("/dev/mem");
    ASSERT_EQ(mem.size(), 0x100000u);
    auto byte = [&mem](uint32_t a) { return uint8_t(mem[a]); };
    auto word = [&byte](uint32_t a) { return unsigned(byte(a) | byte(a + 1) << 8); };
    // Vector 0x10 into the video BIOS, which carries its signature, size and checksum.
    EXPECT_EQ(word(0x42), 0xC000u);
    const uint32_t rom = 0xC0000, size = byte(rom + 2) * 512u;
    EXPECT_EQ(byte(rom), 0x55);
    EXPECT_EQ(byte(rom + 1), 0xAA);
    ASSERT_GT(size, 0u);
    EXPECT_LT(word(0x40), size);
    unsigned sum = 0;
    for (uint32_t a = rom; a < rom + size; ++a)
        sum += byte(a);
    EXPECT_EQ(sum % 256, 0u);
    EXPECT_EQ(word(0x413), 639u); // BIOS data area: conventional memory
    EXPECT_EQ(mem.compare(0xFFFF5, 8, "05/16/14"), 0);
    // One SMBIOS anchor in the search area, where the entry point is.
    std::vector<uint32_t> anchors;
    for (uint32_t a = 0xF0000; a < 0x100000; a += 16)
        if (mem.compare(a, 4, "_SM_") == 0 || mem.compare(a, 5, "_DMI_") == 0)
            anchors.push_back(a);
    EXPECT_EQ(anchors, (std::vector<uint32_t>{0xF0000, 0xF0010}));

    // The BIOS image comes from its seed.
    auto image = [](const std::string &seed) {
        simtest::TempDir dir;
        std::string root = simtest::build_root(dir, "bios segment=0xE000 seed=" + seed + "\nsmbios entry=none\n");
        return read_file(root + "/dev/mem").substr(0xE0000, 0x10000);
    };
    EXPECT_EQ(image("one"), image("one"));
    EXPECT_NE(image("one"), image("two"));
}

TEST_F(DemoTree, DmidecodeReadsTheDescribedFirmware)
{
    if (!simtest::have("dmidecode"))
        GTEST_SKIP() << "dmidecode is not installed";
    auto dump = simtest::dmidecode_dump(at("/dev/mem"), 0xF0000);
    std::ofstream(dir_->path() + "/dmi.bin", std::ios::binary).write(reinterpret_cast<const char *>(dump.data()), std::streamsize(dump.size()));
    int status;
    std::string out = simtest::run("dmidecode --from-dump " + dir_->path() + "/dmi.bin", status);
    ASSERT_EQ(status, 0) << out;
    auto records = simtest::parse_dmidecode(out);
    std::vector<simtest::DmiRecord> cpus, bios, memory, arrays;
    for (const auto &r : records) {
        if (r.title == "Processor Information")
            cpus.push_back(r);
        else if (r.title == "BIOS Information")
            bios.push_back(r);
        else if (r.title == "Memory Device")
            memory.push_back(r);
        else if (r.title == "Physical Memory Array")
            arrays.push_back(r);
    }
    ASSERT_EQ(cpus.size(), model_.cpus.size());
    for (size_t i = 0; i < cpus.size(); ++i) {
        EXPECT_EQ(cpus[i].fields["Version"], model_.cpus[i].version);
        EXPECT_EQ(cpus[i].fields["Current Speed"], std::to_string(model_.cpus[i].speed) + " MHz");
    }
    ASSERT_EQ(bios.size(), 1u);
    EXPECT_EQ(bios[0].fields["Vendor"], "American Megatrends Inc.");
    EXPECT_EQ(bios[0].fields["Version"], "2.17.1246");
    EXPECT_EQ(bios[0].fields["Release Date"], "05/16/2014");
    EXPECT_EQ(bios[0].fields["Address"], "0xE0000");
    EXPECT_EQ(bios[0].fields["Runtime Size"], "128 kB");
    ASSERT_EQ(arrays.size(), 1u);
    EXPECT_EQ(arrays[0].fields["Location"], "System Board Or Motherboard");
    EXPECT_EQ(arrays[0].fields["Use"], "System Memory");
    ASSERT_EQ(memory.size(), 2u);
    EXPECT_EQ(memory[0].fields["Locator"], "DIMM0");
    EXPECT_EQ(memory[0].fields["Bank Locator"], "BANK 0");
    EXPECT_EQ(memory[0].fields["Size"], "4 GB");
    EXPECT_EQ(memory[1].fields["Locator"], "DIMM1");
    EXPECT_EQ(memory[1].fields["Size"], "No Module Installed");
}

TEST(SimcomputerSmbios, EntryPointKindsAndDamage)
{
    if (!simtest::have("dmidecode"))
        GTEST_SKIP() << "dmidecode is not installed";
    const std::string firmware = "bios vendor=V version=1 date=01/02/2003\ncpu version=X speed=1000\n"
                                 "memarray\n  memory bank=B size=512K\n";
    struct Case {
        const char *smbios;
        const char *memory_size; // as dmidecode prints it
    } cases[] = {{"smbios entry=sm version=2.4\n", "512 kB"},
                 {"smbios entry=legacy\n", "512 kB"},
                 {"smbios entry=efi\n", "512 kB"},
                 {"smbios entry=efi entry_addr=0x7FF00000 table_addr=0x7FF01000\n", "512 kB"},
                 {"smbios entry=sm3\n", "512 kB"},
                 {"smbios entry=efi3 table_addr=0x100000000\n", "512 kB"}};
    for (const Case &c : cases) {
        simtest::TempDir dir;
        std::string root = simtest::build_root(dir, firmware + c.smbios);
        std::string mem = simtest::read_at(root + "/dev/mem", 0, 0x100000);
        uint32_t entry = 0;
        if (fs::exists(root + "/sys/firmware/efi/systab")) {
            std::string systab = read_file(root + "/sys/firmware/efi/systab");
            const std::string key = std::strstr(c.smbios, "efi3") ? "SMBIOS3=" : "SMBIOS=";
            ASSERT_EQ(systab.compare(0, key.size(), key), 0) << systab;
            entry = uint32_t(std::stoul(systab.substr(key.size()), nullptr, 0));
            for (uint32_t a = 0xF0000; a < 0x100000; a += 16) // nothing to find in the legacy area
                EXPECT_TRUE(mem.compare(a, 4, "_SM_") != 0 && mem.compare(a, 5, "_DMI_") != 0 &&
                            mem.compare(a, 5, "_SM3_") != 0)
                    << c.smbios;
        } else {
            entry = 0xF0000;
        }
        auto dump = simtest::dmidecode_dump(root + "/dev/mem", entry);
        std::ofstream(dir / "dmi.bin", std::ios::binary).write(reinterpret_cast<const char *>(dump.data()), std::streamsize(dump.size()));
        int status;
        std::string out = simtest::run("dmidecode --from-dump " + (dir / "dmi.bin"), status);
        ASSERT_EQ(status, 0) << c.smbios << out;
        auto records = simtest::parse_dmidecode(out);
        ASSERT_EQ(records.size(), 5u) << c.smbios << out; // BIOS, CPU, array, device, end of table
        EXPECT_EQ(records[0].fields["Vendor"], "V");
        EXPECT_EQ(records[1].fields["Version"], "X");
        EXPECT_EQ(records[3].fields["Bank Locator"], "B");
        EXPECT_EQ(records[3].fields["Locator"], "Not Specified");
        EXPECT_EQ(records[3].fields["Size"], c.memory_size);
    }

    // Damage options break exactly what they name.
    auto entry_and_table = [&firmware](const std::string &smbios, std::string &table) {
        simtest::TempDir dir;
        std::string mem = read_file(simtest::build_root(dir, firmware + smbios) + "/dev/mem");
        std::string entry = mem.substr(0xF0000, 0x1F);
        uint32_t addr = uint32_t(uint8_t(entry[0x18]) | uint8_t(entry[0x19]) << 8 | uint8_t(entry[0x1A]) << 16);
        table = mem.substr(addr, uint8_t(entry[0x16]) | uint8_t(entry[0x17]) << 8);
        return entry;
    };
    auto sum = [](const std::string &s, size_t from, size_t n) {
        unsigned total = 0;
        for (size_t i = from; i < from + n; ++i)
            total += uint8_t(s[i]);
        return total % 256;
    };
    std::string table, damaged;
    std::string entry = entry_and_table("smbios\n", table);
    EXPECT_EQ(sum(entry, 0, 0x1F), 0u);
    EXPECT_EQ(sum(entry, 0x10, 15), 0u);
    EXPECT_EQ(table.substr(table.size() - 6), std::string("\x7F\x04\x04\x00\x00\x00", 6));
    EXPECT_NE(sum(entry_and_table("smbios damage=checksum\n", damaged), 0, 0x1F), 0u);
    entry_and_table("smbios damage=structure\n", damaged);
    EXPECT_EQ(damaged[1], 3);
    entry_and_table("smbios damage=strings\n", damaged);
    EXPECT_EQ(damaged, table.substr(0, table.size() - 1));

    simtest::TempDir dir;
    std::string root = simtest::build_root(dir, firmware + "smbios entry=none\n");
    std::string mem = read_file(root + "/dev/mem");
    for (uint32_t a = 0xF0000; a < 0x100000; a += 16)
        EXPECT_TRUE(mem.compare(a, 4, "_SM_") != 0 && mem.compare(a, 5, "_DMI_") != 0);
}

TEST(SimcomputerEdid, EdidDecodeReadsTheDescribedMonitors)
{
    if (!simtest::have("edid-decode"))
        GTEST_SKIP() << "edid-decode is not installed";
    struct Case {
        simcomputer::EdidSpec spec;
        const char *expect;      // a line edid-decode prints
        bool conforms;           // EDID 1.3 wants a product name
    } cases[] = {
        {{"DEL", 0xA0B1, 0x3142354C, 20, 2014, 52, 32, "DELL U2412M", ""}, "Display Product Name: 'DELL U2412M'", true},
        {{"ABC", 0x1234, 7, 1, 2000, 40, 30, "THIRTEEN CHAR", "SN12345"}, "Display Product Name: 'THIRTEEN CHAR'", true},
        {{"SAM", 0x0C4E, 0x01000E00, 8, 2016, 48, 27, "", ""}, "Manufacturer: SAM", false},
        {{"AAA", 0x1234, 0, 1, 2020, 30, 20, "", "S1"}, "Manufacturer: AAA", false},
    };
    simtest::TempDir dir;
    for (const Case &c : cases) {
        auto edid = simcomputer::make_edid(c.spec);
        unsigned sum = 0;
        for (uint8_t b : edid)
            sum += b;
        EXPECT_EQ(sum % 256, 0u);
        std::ofstream(dir / "edid.bin", std::ios::binary).write(reinterpret_cast<const char *>(edid.data()), 128);
        int status;
        std::string out = simtest::run("edid-decode --check " + (dir / "edid.bin"), status);
        EXPECT_NE(out.find(c.expect), std::string::npos) << out;
        EXPECT_NE(out.find("Manufacturer: " + c.spec.manufacturer), std::string::npos) << out;
        EXPECT_NE(out.find("EDID Structure Version & Revision: 1.3"), std::string::npos) << out;
        if (c.conforms) {
            EXPECT_EQ(status, 0) << out;
        } else {
            // The only complaint: no product name, which is the point of the case.
            size_t failures = out.find("Failures:");
            ASSERT_NE(failures, std::string::npos) << out;
            EXPECT_NE(out.find("Missing Display Product Name.", failures), std::string::npos) << out;
            EXPECT_EQ(std::count(out.begin() + long(failures), out.end(), '\n'), 6) << out;
        }
    }
    // bytes 8-11 of the nameless-monitor example: manufacturer AAA, product 0x3412
    auto edid = simcomputer::make_edid({"AAA", 0x3412, 0, 1, 2020, 30, 20, "", ""});
    EXPECT_EQ(edid[8], 0x04);
    EXPECT_EQ(edid[9], 0x21);
    EXPECT_EQ(edid[10], 0x12);
    EXPECT_EQ(edid[11], 0x34);
}

} // namespace
