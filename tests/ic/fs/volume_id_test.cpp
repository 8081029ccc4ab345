// Volume identities: byte image, reading hostile bytes, ordering.
#include "fs_support.h"

#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using fstest::Id;

namespace {

Id partition_id(const char *disk, unsigned n)
{
    fs_volume_id *id = nullptr;
    EXPECT_EQ(fs_partition_id_create(disk, n, &id), FS_OK);
    return Id(id);
}
Id image_id(const char *name, unsigned n)
{
    fs_volume_id *id = nullptr;
    EXPECT_EQ(fs_image_partition_id_create(name, n, &id), FS_OK);
    return Id(id);
}
Id lvm_id(const char *group, const char *volume)
{
    fs_volume_id *id = nullptr;
    EXPECT_EQ(fs_lvm_volume_id_create(group, volume, &id), FS_OK);
    return Id(id);
}

std::vector<uint8_t> bytes_of(const fs_volume_id *id)
{
    wbuf wb;
    EXPECT_EQ(wb_init(&wb, 0), 0);
    EXPECT_EQ(_fs_write_volume_id_to_rbuf(id, &wb), FS_OK);
    std::vector<uint8_t> out(wb.data, wb.data + wb.length);
    wb_finalize(&wb, 1);
    return out;
}

TEST(VolumeId, ByteImageOfEachKindAndBack)
{
    struct Case {
        Id id;
        std::vector<uint8_t> bytes;
    };
    Case cases[] = {
        {partition_id("Z3T0", 2), {0, 0, 4, 0, 'Z', '3', 'T', '0', 2, 0}},
        {image_id("img", 0x102), {1, 0, 3, 0, 'i', 'm', 'g', 2, 1}},
        {lvm_id("vg-data", "lv-1"), {2, 0, 7, 0, 'v', 'g', '-', 'd', 'a', 't', 'a', 4, 0, 'l', 'v', '-', '1'}},
        {partition_id("", 0), {0, 0, 0, 0, 0, 0}},
    };
    for (auto &c : cases) {
        EXPECT_EQ(bytes_of(c.id.get()), c.bytes);
        rbuf rb;
        rb_init(&rb, c.bytes.data(), uint32_t(c.bytes.size()));
        fs_volume_id *raw = nullptr;
        ASSERT_EQ(_fs_read_volume_id_from_rbuf(&rb, &raw), FS_OK);
        Id back(raw);
        EXPECT_EQ(rb.pos, c.bytes.size());
        EXPECT_EQ(fs_volume_id_compare(back.get(), c.id.get()), 0);
        EXPECT_EQ(fs_volume_id_kind(back.get()), fs_volume_id_kind(c.id.get()));
        fs_volume_id *copy = nullptr;
        ASSERT_EQ(fs_volume_id_copy(back.get(), &copy), FS_OK);
        EXPECT_EQ(bytes_of(copy), c.bytes);
        fs_volume_id_destroy(copy);
    }
}

TEST(VolumeId, TruncatedOrUnknownBytesFailAndLeaveTheCursor)
{
    const std::vector<uint8_t> whole = {2, 0, 2, 0, 'v', 'g', 2, 0, 'l', 'v'};
    for (size_t n = 0; n < whole.size(); ++n) {
        rbuf rb;
        rb_init(&rb, whole.data(), uint32_t(n));
        fs_volume_id *id = nullptr;
        EXPECT_EQ(_fs_read_volume_id_from_rbuf(&rb, &id), FS_ERR_IO) << n;
        EXPECT_EQ(rb.pos, 0u);
        EXPECT_EQ(id, nullptr);
    }
    // A name with a NUL byte would be cut short: malformed.
    const std::vector<uint8_t> nul = {0, 0, 3, 0, 'a', 0, 'b', 1, 0};
    rbuf rb;
    rb_init(&rb, nul.data(), uint32_t(nul.size()));
    fs_volume_id *id = nullptr;
    EXPECT_EQ(_fs_read_volume_id_from_rbuf(&rb, &id), FS_ERR_IO);
    EXPECT_EQ(rb.pos, 0u);
    for (uint16_t kind : {3, 0xFFFF}) {
        std::vector<uint8_t> b = {uint8_t(kind), uint8_t(kind >> 8), 0, 0, 0, 0};
        rbuf rb;
        rb_init(&rb, b.data(), uint32_t(b.size()));
        fs_volume_id *id = nullptr;
        EXPECT_EQ(_fs_read_volume_id_from_rbuf(&rb, &id), FS_ERR_IO) << kind;
    }
}

TEST(VolumeId, OrderIsKindThenFirstFieldThenSecond)
{
    // Each id sorts before the next.
    std::vector<Id> ordered;
    ordered.push_back(partition_id("B", 9));
    ordered.push_back(partition_id("Ba", 1));
    ordered.push_back(partition_id("Ba", 2));
    ordered.push_back(partition_id("a", 1)); // byte-wise: 'B' < 'a'
    ordered.push_back(image_id("A", 1));     // kind 1 after every kind 0
    ordered.push_back(image_id("A", 3));
    ordered.push_back(lvm_id("A", "x"));     // kind 2 last, whatever its names
    ordered.push_back(lvm_id("vg", "a"));
    ordered.push_back(lvm_id("vg", "b"));
    for (size_t i = 0; i < ordered.size(); ++i)
        for (size_t j = 0; j < ordered.size(); ++j) {
            int expected = i < j ? -1 : i > j ? 1 : 0;
            EXPECT_EQ(fs_volume_id_compare(ordered[i].get(), ordered[j].get()), expected) << i << " " << j;
        }
}

TEST(VolumeId, BadArguments)
{
    fs_volume_id *id = nullptr;
    EXPECT_EQ(fs_partition_id_create(nullptr, 1, &id), FS_ERR_PATH);
    EXPECT_EQ(fs_lvm_volume_id_create("vg", nullptr, &id), FS_ERR_PATH);
    EXPECT_EQ(fs_partition_id_create("d", 0x10000, &id), FS_ERR_PATH);
    Id big = partition_id(std::string(70000, 'x').c_str(), 1);
    wbuf wb;
    ASSERT_EQ(wb_init(&wb, 0), 0);
    EXPECT_EQ(_fs_write_volume_id_to_rbuf(big.get(), &wb), FS_ERR_PATH);
    EXPECT_EQ(wb.length, 0u);
    wb_finalize(&wb, 1);
}

} // namespace
