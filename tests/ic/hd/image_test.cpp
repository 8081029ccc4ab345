// Byte image of the partition-table inventory: the exact layout, the round
// trip, and images that are truncated or malformed; the type names.
#include "hd_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using hdtest::Disk;
using hdtest::Part;

std::vector<uint8_t> image_of(const hd_info *info)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(hd_info_write_to_mem(info, &data, &size), IC_OK);
    std::vector<uint8_t> out(data, data + size);
    std::free(data);
    return out;
}

ic_hd::info_ptr read(const std::vector<uint8_t> &bytes, int *rc)
{
    hd_info *info = nullptr;
    *rc = hd_info_read_from_mem(bytes.data(), uint32_t(bytes.size()), &info);
    return ic_hd::info_ptr(info);
}

void append(std::vector<uint8_t> &v, std::initializer_list<uint8_t> bytes)
{
    v.insert(v.end(), bytes);
}

void append_hash(std::vector<uint8_t> &v, uint8_t mark)
{
    v.insert(v.end(), HD_HASH_SIZE, mark);
}

// One disk "S1" (flags 1) with slot 1 = an extended partition holding one
// logical partition, written by hand after the format.
std::vector<uint8_t> reference_bytes()
{
    std::vector<uint8_t> v;
    append(v, {1, 0, 2, 0, 'S', '1', 1});
    append_hash(v, 0xA1);
    append_hash(v, 0xA2);
    append(v, {0x02, 0x00});
    auto record = [&v](uint8_t mark, uint32_t start, uint32_t count, uint8_t boot, uint8_t type, uint8_t flags) {
        append_hash(v, mark);
        append_hash(v, uint8_t(mark + 1));
        append(v, {uint8_t(start), uint8_t(start >> 8), uint8_t(start >> 16), uint8_t(start >> 24)});
        append(v, {uint8_t(count), uint8_t(count >> 8), uint8_t(count >> 16), uint8_t(count >> 24)});
        append(v, {boot, type, flags});
    };
    record(0xB0, 0x00012345, 0x89ABCDEF, 0x80, 0x0F, 1);
    append(v, {1, 0});
    record(0xC0, 0x00012400, 0x800, 0x00, 0x07, 0);
    append(v, {1});
    return v;
}

TEST(HdImage, LayoutIsTheStoredFormat)
{
    auto info = hdtest::make_info({Disk{"S1", 0, {{1, Part{0x00012345, 0x89ABCDEF, 0x0F, 0x80, 0, {Part{0x12400, 0x800, 0x07}}}}}}});
    hd_disk *d = info->first_disk;
    d->flags = 1;
    std::memset(d->mbr_hash, 0xA1, HD_HASH_SIZE);
    std::memset(d->boot_hash, 0xA2, HD_HASH_SIZE);
    hd_partition *p = d->primary[1];
    p->flags = 1;
    std::memset(p->pbr_hash, 0xB0, HD_HASH_SIZE);
    std::memset(p->boot_hash, 0xB1, HD_HASH_SIZE);
    std::memset(p->first_logical->pbr_hash, 0xC0, HD_HASH_SIZE);
    std::memset(p->first_logical->boot_hash, 0xC1, HD_HASH_SIZE);
    info->flags = HD_INFO_CONTROL;
    EXPECT_EQ(image_of(info.get()), reference_bytes());

    // Reading restores every field and the indexes the image leaves out.
    int rc;
    auto back = read(reference_bytes(), &rc);
    ASSERT_EQ(rc, IC_OK);
    EXPECT_EQ(back->disk_count, 1u);
    EXPECT_EQ(back->flags, HD_INFO_CONTROL);
    const hd_disk *bd = hd_info_get_first_disk(back.get());
    EXPECT_STREQ(bd->name, "S1");
    const hd_partition *bp = hd_info_get_first_partition(bd);
    ASSERT_NE(bp, nullptr);
    EXPECT_EQ(bp->index, 1u);
    EXPECT_EQ(bp->start, 0x00012345u);
    EXPECT_EQ(bp->count, 0x89ABCDEFu);
    EXPECT_EQ(bp->boot_indicator, 0x80);
    EXPECT_EQ(bp->type, 0x0F);
    EXPECT_EQ(bp->flags, 1);
    EXPECT_EQ(hd_info_get_next_partition(bd, bp), nullptr);
    const hd_partition *bl = hd_info_get_first_logical_partition(bp);
    ASSERT_NE(bl, nullptr);
    EXPECT_EQ(bl->index, 0u);
    EXPECT_EQ(bl->parent, bp);
    EXPECT_EQ(bl->start, 0x12400u);
    EXPECT_EQ(image_of(back.get()), reference_bytes());
}

TEST(HdImage, RoundTripKeepsOrderAndCounts)
{
    // Two disks with one name, slots 0 and 3, an extended partition with
    // three logical partitions, a disk without partitions; zero logical
    // partitions are written as a count of 0.
    auto info = hdtest::make_info({
        Disk{"SAME", 1, {{0, Part{2048, 100, 0x07, 0x80, 2}}, {3, Part{4096, 900, 0x05, 0, 3, {Part{4100, 10, 0x83, 0, 4}, Part{4200, 10, 0x0B, 0, 5}, Part{4300, 10, 0x82, 0, 6}}}}}},
        Disk{"SAME", 7, {}},
        Disk{"", 8, {{2, Part{1, 1, 0x00}}}},
    });
    const auto bytes = image_of(info.get());
    int rc;
    auto back = read(bytes, &rc);
    ASSERT_EQ(rc, IC_OK);
    EXPECT_EQ(image_of(back.get()), bytes);
    EXPECT_EQ(back->disk_count, 3u);
    const hd_disk *d = hd_info_get_first_disk(back.get());
    const hd_partition *ext = d->primary[3];
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->logical_count, 3u);
    EXPECT_EQ(hdtest::logical_starts(ext), (std::vector<uint32_t>{4100, 4200, 4300}));
    uint32_t index = 0;
    for (const hd_partition *l = ext->first_logical; l; l = l->next)
        EXPECT_EQ(l->index, index++);
    EXPECT_EQ(hd_info_get_next_disk(back.get(), hd_info_get_next_disk(back.get(), d))->primary[2]->index, 2u);
}

TEST(HdImage, EmptyInventoryIsThreeBytes)
{
    auto info = hdtest::make_info({});
    EXPECT_EQ(image_of(info.get()), (std::vector<uint8_t>{0, 0, 0}));
    info->flags = HD_INFO_CONTROL;
    EXPECT_EQ(image_of(info.get()), (std::vector<uint8_t>{0, 0, 1}));
}

TEST(HdImage, MalformedImagesAreRefused)
{
    const auto good = reference_bytes();
    int rc;
    // Every truncation, and bytes after the flags.
    for (size_t n = 0; n < good.size(); ++n) {
        auto info = read(std::vector<uint8_t>(good.begin(), good.begin() + long(n)), &rc);
        EXPECT_EQ(rc, IC_ERR_IO) << n;
        EXPECT_EQ(info, nullptr);
    }
    auto longer = good;
    longer.push_back(0);
    read(longer, &rc);
    EXPECT_EQ(rc, IC_ERR_IO);
    // A slot bit above the four slots.
    auto slots = good;
    slots[7 + 64 + 1] = 0x01;
    read(slots, &rc);
    EXPECT_EQ(rc, IC_ERR_IO);
    // A disk count far beyond the data, and a logical count beyond it.
    auto many = good;
    many[0] = many[1] = 0xFF;
    read(many, &rc);
    EXPECT_EQ(rc, IC_ERR_IO);
    auto logicals = good;
    logicals[7 + 64 + 2 + 75] = 0xFF;
    read(logicals, &rc);
    EXPECT_EQ(rc, IC_ERR_IO);

    hd_info *info = nullptr;
    EXPECT_EQ(hd_info_read_from_mem(nullptr, 3, &info), IC_ERR_INVAL);
    EXPECT_EQ(hd_info_read_from_mem(good.data(), uint32_t(good.size()), nullptr), IC_ERR_INVAL);
    uint8_t *data;
    uint32_t size;
    EXPECT_EQ(hd_info_write_to_mem(nullptr, &data, &size), IC_ERR_INVAL);
}

TEST(HdTypeNames, LabelsOfTheTypeByte)
{
    const std::pair<unsigned, const char *> cases[] = {
        {0x00, "EMPTY"}, {0x07, "NTFS"},       {0x0F, "EXT_LBA"},     {0x1B, "FAT32_H "},
        {0x83, "LINUX"}, {0xEE, "GPT"},        {0xFE, "LINUX_LVM_OLD"}, {0xAA55, "DOS_MAGIC"},
        {0x02, "UNKNOWN"}, {0xFF, "UNKNOWN"}, {0x55AA, "UNKNOWN"},
    };
    for (const auto &[type, name] : cases)
        EXPECT_STREQ(hd_partition_type_name(type), name) << std::hex << type;
}

} // namespace
