// The check list without disks: volume entries, their byte image and the
// reversal of the volume order by every write-read cycle.
#include "icl_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace ocltest;
using namespace icltest;

namespace {

VolId lvm_id(const char *group, const char *volume)
{
    fs_volume_id *id = nullptr;
    EXPECT_EQ(fs_lvm_volume_id_create(group, volume, &id), 0);
    return VolId(id);
}

int read_image(const std::string &bytes, Icl *out)
{
    int rc;
    *out = icltest::read_image(bytes, &rc);
    return rc;
}

std::string str16(const std::string &s)
{
    return le(uint32_t(s.size()), 2) + s;
}

std::vector<std::string> volume_firsts(const fs_icl *icl)
{
    std::vector<std::string> out;
    for (const fs_icl_volume *v = fs_icl_first_volume(icl); v; v = fs_icl_next_volume(v))
        out.push_back(v->id->first);
    return out;
}

TEST(IclImage, EmptyListIsTwoZeroBytes)
{
    auto icl = make_icl();
    EXPECT_EQ(image_of(icl.get()), std::string(2, '\0'));
    Icl back;
    ASSERT_EQ(read_image(std::string(2, '\0'), &back), FS_OCL_OK);
    EXPECT_EQ(back->count, 0u);
    EXPECT_EQ(fs_icl_first_volume(back.get()), nullptr);
}

TEST(IclImage, LayoutAndOrderReversedByEveryCycle)
{
    auto icl = make_icl();
    const VolId a = partition_id("SER", 2), b = lvm_id("vg", "lv");
    add_presence(icl.get(), a.get(), "/a");
    add_presence(icl.get(), b.get(), "/b");
    add_presence(icl.get(), a.get(), "/c"); // into the existing entry
    ASSERT_EQ(icl->count, 2u);
    EXPECT_EQ(volume_firsts(icl.get()), (std::vector<std::string>{"vg", "SER"})); // new ones at the front

    // Records added now are in form 2: its mark in their flags word.
    const std::string lvm_entry =
        le(2, 2) + str16("vg") + str16("lv") + le(1, 4) + le(0, 2) + str16("/b") + le(FS_OCL_FORM_2_MARK, 2);
    const std::string part_entry = le(0, 2) + str16("SER") + le(2, 2) + le(2, 4) + le(0, 2) + str16("/a") +
                                   le(FS_OCL_FORM_2_MARK, 2) + le(0, 2) + str16("/c") + le(FS_OCL_FORM_2_MARK, 2);
    const std::string image = image_of(icl.get());
    EXPECT_EQ(image, le(2, 2) + lvm_entry + part_entry);

    // Each read puts every entry read at the front.
    Icl once, twice;
    ASSERT_EQ(read_image(image, &once), FS_OCL_OK);
    EXPECT_EQ(volume_firsts(once.get()), (std::vector<std::string>{"SER", "vg"}));
    EXPECT_EQ(image_of(once.get()), le(2, 2) + part_entry + lvm_entry);
    ASSERT_EQ(read_image(image_of(once.get()), &twice), FS_OCL_OK);
    EXPECT_EQ(image_of(twice.get()), image);
    EXPECT_NE(fs_icl_find_object(twice.get(), a.get(), "/c"), nullptr);
    EXPECT_EQ(fs_icl_find_object(twice.get(), b.get(), "/c"), nullptr);
}

TEST(IclList, VolumeEntryGoesWithItsLastObject)
{
    auto icl = make_icl();
    const VolId a = partition_id("SER", 1), b = partition_id("SER", 2), absent = partition_id("SER", 3);
    add_presence(icl.get(), a.get(), "/x");
    add_presence(icl.get(), a.get(), "/y");
    add_presence(icl.get(), b.get(), "/x");

    EXPECT_EQ(fs_icl_remove_object(icl.get(), a.get(), "/nope"), FS_OCL_ERR_NOTFOUND);
    EXPECT_EQ(fs_icl_remove_object(icl.get(), absent.get(), "/x"), FS_OCL_ERR_NOTFOUND);
    EXPECT_EQ(fs_icl_remove_object(icl.get(), a.get(), "/x"), FS_OCL_OK);
    EXPECT_NE(fs_icl_find_volume(icl.get(), a.get()), nullptr);
    EXPECT_EQ(fs_icl_remove_object(icl.get(), a.get(), "/y"), FS_OCL_OK);
    EXPECT_EQ(fs_icl_find_volume(icl.get(), a.get()), nullptr);
    EXPECT_EQ(icl->count, 1u);

    EXPECT_EQ(fs_icl_remove_volume(icl.get(), absent.get()), FS_OCL_ERR_NOTFOUND);
    EXPECT_EQ(fs_icl_remove_volume(icl.get(), b.get()), FS_OCL_OK);
    EXPECT_EQ(icl->count, 0u);
    EXPECT_EQ(image_of(icl.get()), std::string(2, '\0'));

    // A refused record leaves no entry behind.
    EXPECT_EQ(fs_icl_add_file_info(icl.get(), a.get(), "relative", 0, nullptr, nullptr, nullptr), FS_OCL_ERR_INVAL);
    EXPECT_EQ(icl->count, 0u);
}

TEST(IclImage, MalformedImagesFail)
{
    auto icl = make_icl();
    const VolId a = partition_id("SER", 1);
    add_presence(icl.get(), a.get(), "/x");
    const std::string entry = image_of(icl.get()).substr(2);
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"one byte", std::string(1, '\0')},
        {"count beyond the data", le(1, 2)},
        {"unknown id kind", le(1, 2) + le(3, 2) + str16("SER") + le(1, 2) + le(0, 4)},
        {"the same volume twice", le(2, 2) + entry + entry},
        {"bytes after the list", image_of(icl.get()) + '\0'},
        {"malformed object list", le(1, 2) + le(0, 2) + str16("SER") + le(1, 2) + le(1, 4) + le(7, 2)},
    };
    for (const auto &c : cases) {
        Icl out;
        EXPECT_EQ(read_image(c.bytes, &out), FS_OCL_ERR_IO) << c.what;
        EXPECT_EQ(out, nullptr) << c.what;
    }
    const std::string whole = le(1, 2) + entry;
    for (size_t n = 0; n < whole.size(); ++n) {
        Icl out;
        EXPECT_EQ(read_image(whole.substr(0, n), &out), FS_OCL_ERR_IO) << n;
    }
}

} // namespace

TEST(IclList, DiskIdentityChangeMergesIntoEntriesListedAlready)
{
    auto icl = make_icl();
    const VolId first1 = partition_id("FIRST", 1), first2 = partition_id("FIRST", 2),
                second1 = partition_id("SECOND", 1), second2 = partition_id("SECOND", 2), lvm = lvm_id("FIRST", "1");
    const uint8_t hash[FS_OCL_HASH_SIZE] = {7};
    add_presence(icl.get(), first1.get(), "/a");
    ASSERT_EQ(fs_icl_add_file_info(icl.get(), first1.get(), "/b", FS_OCL_CONTROL_DATA, hash, nullptr, nullptr),
              FS_OCL_OK);
    add_presence(icl.get(), first2.get(), "/c");
    add_presence(icl.get(), second1.get(), "/b");
    add_presence(icl.get(), second1.get(), "/d");
    add_presence(icl.get(), lvm.get(), "/e");

    ASSERT_EQ(fs_icl_change_disk_identity(icl.get(), "FIRST", "SECOND"), FS_OCL_OK);
    EXPECT_EQ(volume_names(icl.get()), "FIRST/1 SECOND:1 SECOND:2");
    EXPECT_EQ(fs_icl_find_volume(icl.get(), first1.get()), nullptr);
    const fs_icl_volume *merged = fs_icl_find_volume(icl.get(), second1.get());
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(merged->ocl->count, 3u);
    // The moved object replaced the one of the same path.
    EXPECT_EQ(fs_icl_volume_find_object(merged, "/b")->flags, FS_OCL_CONTROL_DATA);
    EXPECT_NE(fs_icl_find_object(icl.get(), second2.get(), "/c"), nullptr);
    // No id is listed twice: the image reads back.
    Icl back;
    ASSERT_EQ(read_image(image_of(icl.get()), &back), FS_OCL_OK);
    EXPECT_EQ(back->count, 3u);
    EXPECT_EQ(fs_icl_change_disk_identity(icl.get(), "NONE", "OTHER"), FS_OCL_OK);
    EXPECT_EQ(fs_icl_change_disk_identity(icl.get(), nullptr, "OTHER"), FS_OCL_ERR_INVAL);
}
