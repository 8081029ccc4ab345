// The udev records the simulated computer writes against the ones real
// systemd-udevd wrote for the same devices in a virtual machine (fixtures/udev,
// taken with scripts/vm-check.sh --udev-records), key by key.
#include "peers.h"
#include "sim_root.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using simtest::read_file;

namespace {

const std::string fixtures = UDEV_FIXTURES;

// One database file: links, the link priority, properties, tags and
// whether it has a time of initialisation.
struct Record {
    std::set<std::string> links;
    std::string priority;
    std::map<std::string, std::string> properties;
    std::set<std::string> tags;
    bool initialised = false;
};

Record parse(const std::string &text)
{
    Record r;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 2 || line[1] != ':')
            continue;
        const std::string value = line.substr(2);
        switch (line[0]) {
        case 'S':
            // The disk sequence number counts the disks the kernel made so far.
            r.links.insert(value.compare(0, 15, "disk/by-diskseq") == 0 ? "disk/by-diskseq/N" : value);
            break;
        case 'L':
            r.priority = value;
            break;
        case 'I':
            r.initialised = !value.empty(); // the time of the boot
            break;
        case 'E': {
            const size_t eq = value.find('=');
            r.properties[value.substr(0, eq)] = value.substr(eq + 1);
            break;
        }
        case 'G':
            r.tags.insert(value);
            break;
        default:
            break;
        }
    }
    return r;
}

// KEY=[VALUE] lines of the sysfs attributes udev's rules read.
std::map<std::string, std::string> parse_attributes(const std::string &text)
{
    std::map<std::string, std::string> attrs;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find("=[");
        if (eq != std::string::npos && line.back() == ']' && line.compare(0, eq, "syspath") != 0)
            attrs[line.substr(0, eq)] = line.substr(eq + 2, line.size() - eq - 3);
    }
    return attrs;
}

std::string attribute(const std::string &root, const std::string &device, const std::string &name)
{
    const std::string path = root + "/sys/class/block/" + device + "/" + name;
    if (!fs::exists(path))
        return "(missing)";
    std::string v = read_file(path);
    while (!v.empty() && v.back() == '\n')
        v.pop_back();
    return v;
}

class UdevRecords : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new simtest::TempDir;
        root_ = new std::string(simtest::build_root(*dir_, read_file(fixtures + "/computer.txt")));
    }
    static void TearDownTestSuite()
    {
        delete root_;
        delete dir_;
    }
    Record simulated(const std::string &device) const
    {
        const std::string devnum = attribute(*root_, device, "dev");
        return parse(read_file(*root_ + "/run/udev/data/b" + devnum));
    }

    static simtest::TempDir *dir_;
    static std::string *root_;
};
simtest::TempDir *UdevRecords::dir_ = nullptr;
std::string *UdevRecords::root_ = nullptr;

// Fixture file and the device it was taken from.
const std::pair<const char *, const char *> devices[] = {
    {"ata-disk", "sda"},
    {"ata-disk-partition1", "sda1"},
    {"ata-cdrom", "sr0"},
    {"scsi-disk", "sdb"},
    {"scsi-disk-partition1", "sdb1"},
    {"usb-disk", "sdc"},
    {"usb-disk-partition1", "sdc1"},
    {"usb-stick", "sdd"},
    {"usb-stick-partition1", "sdd1"},
    {"virtio-disk", "vda"},
    {"virtio-disk-partition1", "vda1"},
    {"nvme-disk", "nvme0n1"},
    {"nvme-disk-partition1", "nvme0n1p1"},
    {"loop", "loop0"},
};

TEST_F(UdevRecords, EveryKeyLinkAndTagAsRealUdevWroteIt)
{
    for (const auto &[fixture, device] : devices) {
        SCOPED_TRACE(std::string(fixture) + " as " + device);
        const Record real = parse(read_file(fixtures + "/" + fixture));
        const Record sim = simulated(device);
        ASSERT_FALSE(real.properties.empty() && real.links.empty()) << "empty fixture";
        for (const auto &[key, value] : real.properties) {
            auto it = sim.properties.find(key);
            if (it == sim.properties.end())
                ADD_FAILURE() << "missing " << key << "=" << value;
            else
                EXPECT_EQ(it->second, value) << key;
        }
        for (const auto &[key, value] : sim.properties)
            EXPECT_TRUE(real.properties.count(key)) << "real udev writes no " << key << "=" << value;
        EXPECT_EQ(sim.links, real.links);
        EXPECT_EQ(sim.priority, real.priority);
        EXPECT_EQ(sim.tags, real.tags);
        EXPECT_TRUE(real.initialised && sim.initialised);
    }
}

TEST_F(UdevRecords, AttributesTheRulesReadAsTheKernelGaveThem)
{
    for (const auto &[fixture, device] : devices) {
        const std::string file = fixtures + "/" + fixture + ".sysfs";
        if (!fs::exists(file))
            continue;
        SCOPED_TRACE(std::string(fixture) + " as " + device);
        for (const auto &[name, value] : parse_attributes(read_file(file))) {
            // QEMU's ATAPI drive answers the SCSI inquiry as "QEMU DVD-ROM"
            // whatever its ATA model; a real drive gives both the same text.
            if (std::string(device) == "sr0" && name == "device/model")
                continue;
            EXPECT_EQ(attribute(*root_, device, name), value) << name;
        }
    }
}

} // namespace
