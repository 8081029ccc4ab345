// The Qt side: registered images in their data-stream form, paths below
// mount directories, and the service object over a simulated computer.
#include "fs_support.h"

#include <ic/qt/fs_names.h>
#include <ic/qt/fs_vmdk_image.h>
#include <ic/qt/orva_fun_fs.h>

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QDataStream>

#include <filesystem>
#include <unistd.h>

using namespace fstest;

namespace {

TEST(VmdkImage, DataStreamFormAndBack)
{
    QList<fs_vmdk_image> images = {{"/a.img", "st", QString()}};
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_4_8);
        out << images;
    }
    const QByteArray expected = QByteArray::fromHex("00000001"
                                                    "0000000c002f0061002e0069006d0067" // "/a.img"
                                                    "0000000400730074"                 // "st"
                                                    "ffffffff");                       // null
    EXPECT_EQ(bytes.toHex().toStdString(), expected.toHex().toStdString());
    QList<fs_vmdk_image> back;
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_4_8);
    in >> back;
    ASSERT_EQ(in.status(), QDataStream::Ok);
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back[0].path, "/a.img");
    EXPECT_EQ(back[0].name, "st");
    EXPECT_TRUE(back[0].host_id.isNull());
    EXPECT_EQ(find_vmdk_image_in_list("/a.img", QString(), back), 1);
    EXPECT_EQ(find_vmdk_image_in_list("/a.img", "other", back), 0);

    QDataStream truncated(bytes.left(10));
    truncated.setVersion(QDataStream::Qt_4_8);
    QList<fs_vmdk_image> none;
    truncated >> none;
    EXPECT_NE(truncated.status(), QDataStream::Ok);
}

TEST(FunFs, PathsBelowMountDirectoriesAsPathsInsideVolumes)
{
    orva_fun_fs f(nullptr);
    const QString tmp = f.tmp_path();
    struct {
        QString in;
        QString out; // null: not below a volume directory
    } cases[] = {
        {"/tmp/fs.20240101120000123.42/sda1/etc/hosts", "/etc/hosts"},
        {tmp + "/fs.20240101120000123.42/sda1/etc/hosts", "/etc/hosts"},
        {"/tmp/fs.1.2/sda1", "/"},
        {"/tmp/fs.1.2/sda1/", "/"},
        {"/tmp//fs.1.2/dm-0//var/./log/../lib", "/var/lib"},
        {"/tmp/fs.1.2", QString()},
        {"/home/tmp/fs.1.2/sda1/x", QString()},
        {"/tmpx/fs.1.2/sda1/x", QString()},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(f.convert_path(c.in), c.out) << c.in.toStdString();
        EXPECT_EQ(f.convert_path(c.in).isNull(), c.out.isNull()) << c.in.toStdString();
    }
    // A link on the volume names itself, not its target on the host.
    simtest::TempDir dir("orva-convert");
    const std::string volume_dir = dir / "sda1";
    std::filesystem::create_directories(volume_dir);
    ASSERT_EQ(symlink("/etc", (volume_dir + "/link").c_str()), 0);
    const QString link = QString::fromStdString(volume_dir + "/link");
    if (link.startsWith(tmp + "/") || link.startsWith("/tmp/")) {
        EXPECT_EQ(f.convert_path(link), "/link");
    }
    EXPECT_EQ(orva_fun_fs::print_hash(reinterpret_cast<const unsigned char *>(
                  "\x00\x01\xab\xcd\xef\x10\x20\x30\x40\x50\x60\x70\x80\x90\xa0\xb0"
                  "\xc0\xd0\xe0\xf0\xff\xfe\xfd\xfc\x0f\x1e\x2d\x3c\x4b\x5a\x69\x78")),
              "0001ABCDEF102030405060708090A0B0C0D0E0F0FFFEFDFC0F1E2D3C4B5A6978");
}

TEST(FunFs, MountsNumbersAndImageRegistrations)
{
    FakePrograms programs;
    Computer c(R"(
disk sda size=16M serial=FIRST
  part 1 start=1M size=1M
    prop ID_FS_TYPE=vmfs ID_FS_UUID=UUID-1
  part 2 start=2M size=1M
    prop ID_FS_TYPE=vmfs ID_FS_UUID=UUID-2
disk sdb size=16M serial=SECOND
  part 3 start=1M size=1M
    prop ID_FS_TYPE=vmfs
)");
    orva_fun_fs f(make_list().release());
    fs_volume *v = f.volume_by_diskno_partno(1, 2);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(part_id_by_volume(v), "UUID-2");
    EXPECT_EQ(f.volume_by_diskno_partno(2, 3), partition(f.disk_list(), 1, 3));
    EXPECT_EQ(f.volume_by_diskno_partno(3, 1), nullptr);
    EXPECT_EQ(f.volume_by_diskno_partno(0, 1), nullptr);

    fs_volume_id *raw = nullptr;
    ASSERT_EQ(fs_volume_create_id(partition(f.disk_list(), 1, 3), &raw), FS_OK);
    Id id(raw);
    int diskno = 0, partno = 0;
    EXPECT_EQ(f.diskno_partno_by_volume_id(id.get(), diskno, partno), 0);
    EXPECT_EQ(diskno, 2);
    EXPECT_EQ(partno, 3);
    EXPECT_EQ(part_name_by_volume_id(id.get()), "Раздел 3");
    EXPECT_EQ(disk_id_by_volume_id(id.get()), "SECOND");
    ASSERT_EQ(fs_lvm_volume_id_create("vg", "lv", &raw), FS_OK);
    Id lvm(raw);
    EXPECT_EQ(f.diskno_partno_by_volume_id(lvm.get(), diskno, partno), -1);
    EXPECT_EQ(part_name_by_volume_id(lvm.get()), "Том lv");

    // mount_volume adds a use only when it mounts; umount_volume drops all.
    const QString dir = f.mount_volume(v, false);
    ASSERT_FALSE(dir.isEmpty());
    EXPECT_EQ(f.mount_volume(v, true), dir);
    EXPECT_EQ(v->mount_count, 1);
    EXPECT_EQ(f.convert_path(dir + "/etc/hosts"), "/etc/hosts");
    const char *again = nullptr;
    ASSERT_EQ(fs_volume_get_mount_point(v, 0, &again), FS_OK);
    EXPECT_EQ(v->mount_count, 2);
    f.umount_volume(v);
    EXPECT_EQ(v->mount_count, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.toStdString()));

    // A registered image is refused before anything is attached.
    EXPECT_EQ(f.check_image_disk_name("station"), 0);
    f.vmdk_images().append({"/images/a.img", "station", "UUID-2"});
    EXPECT_EQ(f.add_vmdk_disk("/images/a.img", "other", v), -1);
    EXPECT_EQ(v->mount_count, 0);
    EXPECT_EQ(programs.log().find("vmfs-fuse " + c.root() + "/dev/sda2"), 0u); // only the mount above
    EXPECT_EQ(f.add_vmdk_disk("/images/a.img", "other", nullptr), -1);
}

} // namespace
