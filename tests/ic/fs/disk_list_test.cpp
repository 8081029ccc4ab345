// Disk lists on simulated computers: which disks and partitions are found,
// their identities and types, LVM volumes by device-mapper names, finding
// volumes by id, and the names the pages show.
#include "fs_support.h"
#include "fs_internal.h"

#include <ic/fs/fs_foreign.h>
#include <ic/qt/fs_names.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace fstest;

namespace {

const char *kComputer = R"(
disk sda size=64M model=ONE serial=SER-A table=none
  part 1 start=1M size=1M
  part 2 start=2M size=1M
    prop ID_PART_ENTRY_TYPE=0x4d ID_PART_TABLE_TYPE=dos
  part 3 start=3M size=1M
    prop ID_FS_TYPE=vfat ID_FS_UUID=AAAA-0001
  part 5 start=4M size=1M
    prop ID_PART_ENTRY_TYPE=0x83 ID_PART_TABLE_TYPE=dos
disk sdb size=16M
  part 1 start=1M size=1M
    prop ID_FS_TYPE=ext4 ID_FS_UUID=no-serial
disk sdc size=16M removable=yes serial=STICK
  part 1 start=1M size=1M
    prop ID_FS_TYPE=vfat
disk sdd size=16M model=TWO serial=SER-A
  part 1 start=1M size=1M
    prop ID_FS_TYPE=ext4 ID_FS_UUID=second-disk
disk sde size=16M
  prop ID_SERIAL=ONLY_LONG
  part 1 start=1M size=1M
loop loop0 size=16M
lvm vg-data
  lv lv-1 size=1M udev=no
  lv lv-2 size=1M
    fs ext4 uuid=5b0c2f7e-1d3a-4e6f-8a9b-0c1d2e3f4a5b
lvm vg0
  lv root size=1M udev=no
)";

std::vector<std::string> identities(const fs_disk_list *list)
{
    std::vector<std::string> out;
    for (fs_disk *d = fs_disk_list_first_disk(list); d; d = fs_disk_list_next_disk(d))
        out.push_back(d->identity);
    return out;
}

TEST(DiskList, DisksPartitionsTypesAndIdentities)
{
    Computer c(kComputer);
    List list = make_list();
    // sdb has no serial, sdc is removable, loop0 is virtual; sdd shares
    // sda's serial; sde has only the long serial.
    EXPECT_EQ(identities(list.get()), (std::vector<std::string>{"SER-A", "SER-A", "ONLY_LONG"}));

    struct Row {
        size_t disk;
        unsigned number;
        const char *type, *uuid, *title;
    };
    const Row rows[] = {
        {0, 1, nullptr, nullptr, "Раздел 1 ()"},
        {0, 2, "qnx4", nullptr, "Раздел 1 (qnx4)"}, // MBR type 0x4d, no udev type
        {0, 3, "vfat", "AAAA-0001", "Раздел 2 (vfat)"},
        {0, 5, nullptr, nullptr, "Раздел 3 ()"},    // 0x83 is not in the table
        {1, 1, "ext4", "second-disk", "Раздел 1 (ext4)"},
        {2, 1, nullptr, nullptr, "Раздел 1 ()"},
    };
    for (const Row &r : rows) {
        fs_volume *v = partition(list.get(), r.disk, r.number);
        ASSERT_NE(v, nullptr) << r.disk << " " << r.number;
        EXPECT_EQ(fs_volume_kind(v), FS_VOLUME_PARTITION);
        EXPECT_EQ(fs_volume_get_disk_list(v), list.get());
        EXPECT_STREQ(v->fs_type, r.type) << r.number;
        EXPECT_STREQ(reinterpret_cast<fs_partition *>(v)->uuid, r.uuid) << r.number;
        EXPECT_EQ(part_name_by_volume(v).toStdString(), r.title) << r.number;
        EXPECT_EQ(v->mount_count, 0);
    }
    fs_volume *sda1 = partition(list.get(), 0, 1);
    EXPECT_STREQ(sda1->devnode, "/dev/sda1");
    EXPECT_EQ(std::string(sda1->syspath), std::string(disk_at(list.get(), 0)->syspath) + "/sda1");

    // Ids by what they lead to. Two disks with one serial: which one is
    // meant cannot be told, so ids of that serial lead to neither.
    const struct {
        const char *disk;
        unsigned number;
        int code;
        fs_volume *volume;
    } ids[] = {
        {"ONLY_LONG", 1, FS_OK, partition(list.get(), 2, 1)},
        {"ONLY_LONG", 9, FS_ERR_NOT_FOUND, nullptr},
        {"NO-SUCH", 1, FS_ERR_NO_DISK, nullptr},
        {"SER-A", 1, FS_ERR_AMBIGUOUS, nullptr},
        {"SER-A", 3, FS_ERR_AMBIGUOUS, nullptr},
    };
    for (const auto &r : ids) {
        fs_volume_id *raw = nullptr;
        ASSERT_EQ(fs_partition_id_create(r.disk, r.number, &raw), FS_OK);
        Id id(raw);
        fs_volume *found = partition(list.get(), 0, 1);
        EXPECT_EQ(fs_disk_list_lookup_volume(list.get(), id.get(), &found), r.code) << r.disk << ":" << r.number;
        EXPECT_EQ(found, r.volume) << r.disk << ":" << r.number;
        EXPECT_EQ(fs_disk_list_find_volume(list.get(), id.get()), r.volume) << r.disk << ":" << r.number;
    }
    EXPECT_EQ(find_volume_by_volume_id(list.get(), "second-disk"), partition(list.get(), 1, 1));
    EXPECT_EQ(find_disk_by_uuid(list.get(), "ONLY_LONG"), disk_at(list.get(), 2));
    EXPECT_EQ(find_disk_by_uuid(list.get(), "no-such"), nullptr);
    EXPECT_EQ(find_volume_by_volume_id(list.get(), "no-serial"), nullptr); // left out with its disk
}

TEST(DiskList, LvmVolumesByUdevNamesOrDeviceMapperName)
{
    Computer c(kComputer);
    List list = make_list();
    std::vector<std::string> seen;
    for (fs_lvm_group *g = fs_disk_list_first_lvm_group(list.get()); g; g = fs_disk_list_next_lvm_group(g))
        for (fs_lvm_volume *v = fs_lvm_group_first_volume(g); v; v = fs_lvm_group_next_volume(v))
            seen.push_back(std::string(g->name) + "/" + v->name + " " + v->volume.devnode + " "
                           + (v->volume.fs_type ? v->volume.fs_type : "-"));
    EXPECT_EQ(seen, (std::vector<std::string>{"vg-data/lv-1 /dev/dm-0 -", "vg-data/lv-2 /dev/dm-1 ext4",
                                              "vg0/root /dev/dm-2 -"}));

    // lv-1 has no DM_* names in udev: found through "vg--data-lv--1".
    fs_volume_id *raw = nullptr;
    ASSERT_EQ(fs_lvm_volume_id_create("vg-data", "lv-1", &raw), FS_OK);
    Id id(raw);
    fs_volume *v = fs_disk_list_find_volume(list.get(), id.get());
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(fs_volume_kind(v), FS_VOLUME_LVM);
    EXPECT_EQ(part_name_by_volume(v).toStdString(), "Том lv-1");
    EXPECT_EQ(part_id_by_volume(v).toStdString(), "lv-1");
    EXPECT_EQ(disk_id_by_volume(v).toStdString(), "vg-data");
    EXPECT_EQ(find_volume_by_volume_id(list.get(), "lv-2"), fs_disk_list_find_volume(list.get(), [] {
                  fs_volume_id *i = nullptr;
                  fs_lvm_volume_id_create("vg-data", "lv-2", &i);
                  return Id(i);
              }().get()));
    fs_volume_id *missing = nullptr;
    ASSERT_EQ(fs_lvm_volume_id_create("vg-data", "lv-3", &missing), FS_OK);
    EXPECT_EQ(fs_disk_list_find_volume(list.get(), missing), nullptr);
    fs_volume_id_destroy(missing);
}

TEST(DiskList, DeviceMapperNamesSplitAtSingleDashes)
{
    struct Case {
        const char *dm;
        bool ok;
        const char *group, *volume;
    } cases[] = {
        {"vg--data-lv--1", true, "vg-data", "lv-1"},
        {"vg0-root", true, "vg0", "root"},
        {"a---b", true, "a-", "b"},
        {"vg-lv-real", false, "", ""}, // sub-layer of a volume
        {"noseparator", false, "", ""},
        {"vg-", false, "", ""},
        {"-lv", false, "", ""},
        {"vg----", false, "", ""},
    };
    for (const auto &c : cases) {
        std::string g, v;
        EXPECT_EQ(ic_fs::split_dm_name(c.dm, g, v), c.ok) << c.dm;
        if (c.ok) {
            EXPECT_EQ(g, c.group);
            EXPECT_EQ(v, c.volume);
        }
    }
}

// Stored volume identities (file-system UUID or LVM volume name) shared by
// clones are told apart by the disk (or group) stored with them; when that
// does not settle it, none is taken.
TEST(DiskList, VolumeIdentitiesSharedByClones)
{
    Computer c(R"(
disk sda size=16M serial=SER-X
  part 1 start=1M size=1M
    prop ID_FS_TYPE=ext4 ID_FS_UUID=clone
  part 2 start=2M size=1M
    prop ID_FS_TYPE=ext4 ID_FS_UUID=twin
  part 3 start=3M size=1M
    prop ID_FS_TYPE=ext4 ID_FS_UUID=twin
disk sdb size=16M serial=SER-Y
  part 1 start=1M size=1M
    prop ID_FS_TYPE=ext4 ID_FS_UUID=clone
disk sdc size=16M serial=SER-W
lvm vg-a
  lv data size=1M
lvm vg-b
  lv data size=1M
  lv solo size=1M
lvm SER-W
  lv lone size=1M
)");
    List list = make_list();
    fs_lvm_group *b = fs_disk_list_next_lvm_group(fs_disk_list_first_lvm_group(list.get()));
    fs_volume *b_data = &fs_lvm_group_first_volume(b)->volume;
    const struct {
        const char *text, *disk;
        volume_lookup result;
        fs_volume *volume;
    } rows[] = {
        {"clone", "", VOLUME_AMBIGUOUS, nullptr},
        {"clone", "SER-X", VOLUME_FOUND, partition(list.get(), 0, 1)},
        {"clone", "SER-Y", VOLUME_FOUND, partition(list.get(), 1, 1)},
        {"clone", "SER-Z", VOLUME_NOT_FOUND, nullptr},
        {"twin", "SER-X", VOLUME_AMBIGUOUS, nullptr},
        {"data", "", VOLUME_AMBIGUOUS, nullptr},
        {"data", "vg-b", VOLUME_FOUND, b_data},
        {"solo", "", VOLUME_FOUND, &fs_lvm_group_next_volume(fs_lvm_group_first_volume(b))->volume},
        // A group named as a disk that is there: which of the two was meant
        // is not stored.
        {"lone", "SER-W", VOLUME_AMBIGUOUS, nullptr},
        {"lone", "", VOLUME_FOUND, &fs_lvm_group_first_volume(fs_disk_list_next_lvm_group(b))->volume},
        {"", "", VOLUME_NOT_FOUND, nullptr},
    };
    for (const auto &r : rows) {
        fs_volume *found = b_data;
        EXPECT_EQ(lookup_volume_by_volume_id(list.get(), r.text, r.disk, &found), r.result) << r.text << " " << r.disk;
        EXPECT_EQ(found, r.volume) << r.text << " " << r.disk;
        if (!*r.disk) {
            EXPECT_EQ(find_volume_by_volume_id(list.get(), r.text), r.volume) << r.text;
        }
    }
}

// A partition whose kernel attributes lack the partition mark is still a
// partition of its disk, not a second disk with the disk's serial.
TEST(DiskList, PartitionWithoutItsMarkStaysAPartition)
{
    Computer c("disk sda size=16M serial=S\n  part 1 start=1M size=1M\n  part 2 start=2M size=1M\n");
    std::filesystem::remove(std::filesystem::canonical(c.at("/sys/class/block/sda1")) / "partition");
    List list = make_list(false);
    EXPECT_EQ(identities(list.get()), std::vector<std::string>{"S"});
    for (unsigned n : {1u, 2u}) {
        fs_volume_id *raw = nullptr;
        ASSERT_EQ(fs_partition_id_create("S", n, &raw), FS_OK);
        Id id(raw);
        EXPECT_EQ(fs_disk_list_find_volume(list.get(), id.get()), partition(list.get(), 0, n)) << n;
        EXPECT_NE(partition(list.get(), 0, n), nullptr) << n;
    }
}

TEST(DiskList, PartitionsOfAMissingDeviceNodeFailTheWholeList)
{
    Computer c("disk sda size=16M serial=S\n  part 1 start=1M size=1M\n");
    // A partition whose udev record and uevent name no node.
    std::ofstream(c.at("/sys/class/block/sda1/uevent"), std::ios::trunc) << "MAJOR=8\nMINOR=1\nDEVTYPE=partition\n";
    fs_disk_list *list = reinterpret_cast<fs_disk_list *>(1);
    EXPECT_EQ(fs_disk_list_create(&list), FS_ERR_IO);
    EXPECT_EQ(list, nullptr);
}

TEST(ForeignFs, TypesByMbrTypeAndUfsOptionsByMagic)
{
    EXPECT_EQ(fs_foreign_table_size, 12u);
    struct {
        const char *mbr, *type;
    } types[] = {{"0x4d", "qnx4"}, {"0x4e", "qnx4"}, {"0x4f", "qnx4"}, {"0xa5", "ufs"},
                 {"0xb5", "ufs"},  {"0x82", "ufs"},  {"0x83", nullptr}, {"", nullptr}};
    for (const auto &t : types)
        EXPECT_STREQ(fs_foreign_type_by_mbr(t.mbr), t.type) << t.mbr;

    Computer c(R"(
disk sda size=16M serial=S table=none
  part 1 start=1M size=1M
    prop ID_FS_TYPE=ufs ID_PART_ENTRY_TYPE=0xa5 ID_PART_TABLE_TYPE=dos
  part 2 start=2M size=1M
    prop ID_FS_TYPE=ufs ID_PART_ENTRY_TYPE=0xb5 ID_PART_TABLE_TYPE=dos
  part 3 start=3M size=1M
    prop ID_FS_TYPE=ufs ID_PART_ENTRY_TYPE=516e7cb6-6ecf-11d6-8ff8-00022d09712b ID_PART_TABLE_TYPE=gpt
  part 4 start=4M size=1M
    prop ID_FS_TYPE=ufs ID_PART_ENTRY_TYPE=0x82 ID_PART_TABLE_TYPE=dos
  part 5 start=5M size=1M
    prop ID_FS_TYPE=ext4 ID_PART_ENTRY_TYPE=0xa5 ID_PART_TABLE_TYPE=dos
)");
    auto put_magic = [&c](const char *node, off_t at, uint32_t magic) {
        int fd = open(c.at(node).c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        uint8_t b[4] = {uint8_t(magic), uint8_t(magic >> 8), uint8_t(magic >> 16), uint8_t(magic >> 24)};
        ASSERT_EQ(pwrite(fd, b, 4, at), 4);
        close(fd);
    };
    put_magic("/dev/sda1", 0xa55c, 0x19540119);
    put_magic("/dev/sda2", 0x255c, 0x11954);
    put_magic("/dev/sda3", 0x1055c, 0x19540119);
    put_magic("/dev/sda4", 0x255c, 0x11954);
    put_magic("/dev/sda5", 0xa55c, 0x19540119);
    EXPECT_STREQ(fs_foreign_mount_options("/dev/sda1"), "ufstype=ufs2");
    EXPECT_STREQ(fs_foreign_mount_options("/dev/sda2"), "ufstype=44bsd");
    EXPECT_STREQ(fs_foreign_mount_options("/dev/sda3"), "ufstype=ufs2");
    EXPECT_STREQ(fs_foreign_mount_options("/dev/sda4"), "ufstype=sunx86");
    EXPECT_EQ(fs_foreign_mount_options("/dev/sda5"), nullptr); // not ufs
    EXPECT_EQ(fs_foreign_mount_options("/dev/../dev/sda1"), nullptr);
    put_magic("/dev/sda1", 0xa55c, 0);
    EXPECT_EQ(fs_foreign_mount_options("/dev/sda1"), nullptr); // no magic anywhere
}

} // namespace

namespace {

// Without a udev daemon nothing records a device's file system: a device
// udev never processed is probed instead; one it processed is taken as it
// says.
TEST(DiskList, FileSystemOfADeviceUdevNeverSawIsProbed)
{
    Computer c(R"(
disk sda size=16M serial=S
  part 1 start=1M size=4M
    fs ext4 uuid=0b7c6a52-3e1f-4d2a-9c8b-7a6f5e4d3c2b
  part 2 start=5M size=4M
    fs ext4
)");
    auto strip_fs = [&c](const char *db, const char *extra) {
        std::string kept;
        std::istringstream in(simtest::read_file(c.at(db)));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("E:ID_FS_", 0) != 0 && line.rfind("I:", 0) != 0)
                kept += line + "\n";
        std::ofstream(c.at(db), std::ios::trunc) << kept << extra;
    };
    strip_fs("/run/udev/data/b8:1", "");
    strip_fs("/run/udev/data/b8:2", "I:1700000000\n"); // processed, no file system reported
    List list = make_list(false);
    fs_volume *p1 = partition(list.get(), 0, 1);
    ASSERT_NE(p1, nullptr);
    EXPECT_STREQ(p1->fs_type, "ext4");
    EXPECT_STREQ(reinterpret_cast<fs_partition *>(p1)->uuid, "0b7c6a52-3e1f-4d2a-9c8b-7a6f5e4d3c2b");
    EXPECT_EQ(partition(list.get(), 0, 2)->fs_type, nullptr);
}

} // namespace
