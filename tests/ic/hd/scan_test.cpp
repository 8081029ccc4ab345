// Reading partition tables: hostile MBRs and extended chains in memory
// images, and the fixed disks of simulated computers.
#include "hd_support.h"
#include "sim_root.h"

#include <gost/gost_r3411_94.h>

#include <gtest/gtest.h>

#include <chrono>

namespace {

using hdtest::Image;

std::vector<uint8_t> digest_of(const std::vector<uint8_t> &bytes)
{
    std::vector<uint8_t> d(HD_HASH_SIZE);
    gost_r3411_94_digest(GOST_R3411_94_PARAMS_CRYPTOPRO, bytes.data(), bytes.size(), d.data());
    return d;
}

std::vector<uint8_t> hash(const uint8_t *h)
{
    return std::vector<uint8_t>(h, h + HD_HASH_SIZE);
}

std::vector<uint8_t> sectors(uint64_t n, uint8_t byte = 0)
{
    return std::vector<uint8_t>(n * 512, byte);
}

TEST(HdReadTable, MasterBootRecordRules)
{
    struct Case {
        const char *what;
        void (*make)(Image &);
        std::vector<unsigned> slots; // present primary slots
    } cases[] = {
        {"all zero", [](Image &) {}, {}},
        {"signed empty table", [](Image &i) { i.sign(0); }, {}},
        {"primaries in slots 0 and 2",
         [](Image &i) {
             i.entry(0, 0, 0x80, 0x07, 10, 20);
             i.entry(0, 2, 0x00, 0x83, 40, 20);
             i.sign(0);
         },
         {0, 2}},
        {"count 0 leaves the slot empty",
         [](Image &i) {
             i.entry(0, 1, 0x80, 0x07, 10, 0);
             i.entry(0, 3, 0x00, 0x83, 40, 20);
             i.sign(0);
         },
         {3}},
        {"no signature",
         [](Image &i) { i.entry(0, 0, 0x00, 0x83, 10, 20); },
         {}},
        {"boot indicator 0x81",
         [](Image &i) {
             i.entry(0, 0, 0x81, 0x83, 10, 20);
             i.sign(0);
         },
         {}},
        {"bad boot indicator in an unused entry",
         [](Image &i) {
             i.entry(0, 0, 0x00, 0x83, 10, 20);
             i.entry(0, 3, 0x01, 0x00, 0, 0);
             i.sign(0);
         },
         {}},
    };
    for (const Case &c : cases) {
        Image image(200);
        image.fill(0, 0); // keeps the memfd's size when nothing is written
        c.make(image);
        int rc;
        auto disk = hdtest::read_disk(image, &rc);
        ASSERT_EQ(rc, IC_OK) << c.what;
        std::vector<unsigned> slots;
        for (const hd_partition *p = hd_info_get_first_partition(disk.get()); p;
             p = hd_info_get_next_partition(disk.get(), p))
            slots.push_back(p->index);
        EXPECT_EQ(slots, c.slots) << c.what;
        EXPECT_EQ(hash(disk->boot_hash), digest_of(sectors(62))) << c.what;
    }
}

TEST(HdReadTable, DigestsCoverTheSectorsOnTheDisk)
{
    // Ten sectors: the boot area is cut at the end, a partition near the end
    // has a short one, a partition beyond the end has digests of nothing.
    Image image(10);
    for (unsigned s = 1; s < 10; ++s)
        image.fill(s, uint8_t(s + 1));
    image.entry(0, 0, 0x80, 0x83, 8, 5);
    image.entry(0, 1, 0x00, 0x07, 4000, 5);
    image.sign(0);
    int rc;
    auto disk = hdtest::read_disk(image, &rc);
    ASSERT_EQ(rc, IC_OK);
    std::vector<uint8_t> area;
    for (unsigned s = 1; s < 10; ++s)
        area.insert(area.end(), 512, uint8_t(s + 1));
    EXPECT_EQ(hash(disk->boot_hash), digest_of(area));
    const hd_partition *near_end = disk->primary[0], *beyond = disk->primary[1];
    ASSERT_TRUE(near_end && beyond);
    EXPECT_EQ(hash(near_end->pbr_hash), digest_of(sectors(1, 9)));
    EXPECT_EQ(hash(near_end->boot_hash), digest_of(sectors(1, 10)));
    EXPECT_EQ(hash(beyond->pbr_hash), digest_of({}));
    EXPECT_EQ(hash(beyond->boot_hash), digest_of({}));
    EXPECT_EQ(beyond->start, 4000u);
}

// An extended partition at sector 100 with 900 sectors on a disk of 1000.
void extended(Image &i)
{
    i.entry(0, 1, 0x00, 0x0F, 100, 900);
    i.sign(0);
}

TEST(HdReadTable, ExtendedChains)
{
    struct Case {
        const char *what;
        void (*make)(Image &);
        std::vector<uint32_t> logical; // absolute starts in chain order
    } cases[] = {
        {"two records",
         [](Image &i) {
             i.entry(100, 0, 0, 0x83, 10, 50);
             i.entry(100, 1, 0, 0x05, 100, 200); // link: relative to the extended partition
             i.sign(100);
             i.entry(200, 0, 0, 0x07, 10, 50); // start relative to its own record
             i.sign(200);
         },
         {110, 210}},
        {"first record unsigned", [](Image &i) { i.entry(100, 0, 0, 0x83, 10, 50); }, {}},
        {"second record unsigned",
         [](Image &i) {
             i.entry(100, 0, 0, 0x83, 10, 50);
             i.entry(100, 1, 0, 0x05, 100, 200);
             i.sign(100);
             i.entry(200, 0, 0, 0x07, 10, 50);
         },
         {110}},
        {"link back to the first record",
         [](Image &i) {
             i.entry(100, 0, 0, 0x83, 10, 50);
             i.entry(100, 1, 0, 0x05, 100, 200);
             i.sign(100);
             i.entry(200, 0, 0, 0x07, 10, 50);
             i.entry(200, 1, 0, 0x05, 0, 200);
             i.sign(200);
         },
         {110, 210}},
        {"record linking to itself",
         [](Image &i) {
             i.entry(100, 0, 0, 0x83, 10, 50);
             i.entry(100, 3, 0, 0x85, 0, 900);
             i.sign(100);
         },
         {110}},
        {"link outside the disk",
         [](Image &i) {
             i.entry(100, 0, 0, 0x83, 10, 50);
             i.entry(100, 1, 0, 0x05, 5000, 10);
             i.sign(100);
         },
         {110}},
        // Entries 2 and 3 must lie inside the extended partition; 0 and 1
        // are taken as they are.
        {"entries 2 and 3 bounded",
         [](Image &i) {
             i.entry(100, 0, 0, 0x83, 2000, 10);
             i.entry(100, 2, 0, 0x07, 10, 50);
             i.entry(100, 3, 0, 0x07, 850, 100);
             i.sign(100);
         },
         {2100, 110}},
    };
    for (const Case &c : cases) {
        Image image(1000);
        extended(image);
        c.make(image);
        int rc;
        auto disk = hdtest::read_disk(image, &rc);
        ASSERT_EQ(rc, IC_OK) << c.what;
        const hd_partition *ext = disk->primary[1];
        ASSERT_NE(ext, nullptr) << c.what;
        EXPECT_EQ(hdtest::logical_starts(ext), c.logical) << c.what;
        EXPECT_EQ(ext->logical_count, c.logical.size()) << c.what;
    }
}

TEST(HdReadTable, LongChainsEndAtTheRecordBound)
{
    // Records at 100, 101, 102, ... each with one logical partition of one
    // sector and a link to the next: the walk stops after its bound.
    const unsigned records = HD_MAX_CHAIN_RECORDS + 100;
    Image image(4000);
    image.entry(0, 0, 0x00, 0x05, 100, 3000);
    image.sign(0);
    for (unsigned r = 0; r < records; ++r) {
        image.entry(100 + r, 0, 0, 0x83, 0, 1);
        image.entry(100 + r, 1, 0, 0x05, r + 1, 1);
        image.sign(100 + r);
    }
    const auto start = std::chrono::steady_clock::now();
    int rc;
    auto disk = hdtest::read_disk(image, &rc);
    ASSERT_EQ(rc, IC_OK);
    EXPECT_EQ(disk->primary[0]->logical_count, unsigned(HD_MAX_CHAIN_RECORDS));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

class HdScan : public ::testing::Test {
protected:
    ic_hd::info_ptr scan(const std::string &text, int *rc)
    {
        root_ = simtest::build_root(dir_, text, "root" + std::to_string(++n_));
        simtest::SysRoot sysroot(root_);
        hd_info *info = nullptr;
        *rc = hd_info_get_current(&info);
        return ic_hd::info_ptr(info);
    }
    simtest::TempDir dir_;
    std::string root_;
    int n_ = 0;
};

TEST_F(HdScan, FixedDisksOnlyInNameOrder)
{
    int rc;
    auto info = scan(R"(pci 0000:00:1f.2 vendor=8086 device=8c02 class=010601
usb 1-2 vendor=0781 product=5567
disk sdb size=4M controller=0000:00:1f.2 serial=SECOND
disk sda size=8M controller=0000:00:1f.2 serial=FIRST
  part 1 start=1M size=2M type=7
disk sdc size=4M removable=yes controller=1-2 serial=STICK
cdrom sr0 controller=0000:00:1f.2 serial=OPTICAL
cdrom sr1 removable=no controller=0000:00:1f.2 serial=FIXEDOPTICAL
floppy fd0
loop loop0 size=4M
)",
                     &rc);
    ASSERT_EQ(rc, IC_OK);
    std::vector<std::string> names;
    for (const hd_disk *d = hd_info_get_first_disk(info.get()); d; d = hd_info_get_next_disk(info.get(), d))
        names.push_back(d->name);
    EXPECT_EQ(names, (std::vector<std::string>{"FIRST", "SECOND"}));
    EXPECT_EQ(info->disk_count, 2u);
    EXPECT_EQ(info->flags, 0);
    ASSERT_NE(info->first_disk->primary[0], nullptr);
    EXPECT_EQ(info->first_disk->primary[0]->start, 2048u);
    EXPECT_EQ(info->first_disk->primary[0]->type, 0x07);
}

TEST_F(HdScan, FixedDiskWithoutSerialFailsTheScan)
{
    int rc;
    auto info = scan("disk sda size=4M serial=GOOD\ndisk sdb size=4M\n", &rc);
    EXPECT_EQ(rc, IC_ERR_IO);
    EXPECT_EQ(info, nullptr);
}

TEST_F(HdScan, VirtioDiskIsNamedByItsOnlySerial)
{
    // udev gives a virtio disk ID_SERIAL and no ID_SERIAL_SHORT.
    int rc;
    auto info = scan("pci 0000:00:05.0 vendor=1af4 device=1001 class=010000\n"
                     "disk vda size=4M controller=0000:00:05.0 serial=VIRTIO-7\n",
                     &rc);
    ASSERT_EQ(rc, IC_OK);
    ASSERT_EQ(info->disk_count, 1u);
    EXPECT_STREQ(info->first_disk->name, "VIRTIO-7");
}

} // namespace
