// The check list over real read-only mounts (root only): a list recorded
// on two ext4 volumes of one simulated computer (a partition and an LVM
// volume) and checked on its successor, whose volumes have the same
// identities and changed contents. Nothing stays mounted or attached.
#include "fs_support.h"
#include "icl_support.h"
#include "process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <unistd.h>

using namespace fstest;
using namespace icltest;

namespace {

std::string computer(const std::string &hosts, const std::string &srv_files)
{
    return R"(
disk sda size=32M serial=ICLROOT
  part 1 start=1M size=16M
    fs ext4 label=SYS
      file /etc/hosts content=")" + hosts + R"(" mode=0644
      file /etc/fstab content="/dev/sda1 / ext4"
lvm vg-data
  lv lv-1 size=8M udev=no
    fs ext4
)" + srv_files;
}

TEST(IclRoot, RecordedOnOneComputerCheckedOnItsSuccessor)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: loop devices and mount(2) are privileged";
    const VolId sda1 = partition_id("ICLROOT", 1);
    fs_volume_id *raw_lv = nullptr;
    ASSERT_EQ(fs_lvm_volume_id_create("vg-data", "lv-1", &raw_lv), 0);
    const VolId lv(raw_lv);

    std::string image;
    {
        Computer before(computer("127.0.0.1 localhost",
                                 "      file /srv/www/index.html content=\"<html/>\"\n"
                                 "      file /srv/www/old.css content=\"p{}\"\n"),
                        true);
        List list = make_list();
        auto icl = make_icl();
        fs_volume *v1 = fs_disk_list_find_volume(list.get(), sda1.get());
        fs_volume *v2 = fs_disk_list_find_volume(list.get(), lv.get());
        ASSERT_NE(v1, nullptr);
        ASSERT_NE(v2, nullptr);
        ASSERT_EQ(fs_icl_add_file(icl.get(), v1, "/etc/hosts", FS_OCL_CONTROL_DATA, nullptr), FS_OCL_OK);
        ASSERT_EQ(fs_icl_add_file(icl.get(), v1, "/etc/fstab", FS_OCL_CONTROL_DATA, nullptr), FS_OCL_OK);
        ASSERT_EQ(fs_icl_add_dir(icl.get(), v2, "/srv", nullptr,
                                 FS_OCL_EACH_FILE | FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA, nullptr),
                  FS_OCL_OK);
        EXPECT_EQ(v1->mount_count, 0);
        EXPECT_EQ(list->base_dir, nullptr);
        // Unchanged, checked right away.
        auto all = check_all(icl.get(), list.get());
        EXPECT_EQ(summary(all.get()), "vg-data/lv-1 checked {}; ICLROOT:1 checked {}");
        EXPECT_EQ(fs_icl_check_info_passed(all.get()), 1);
        image = image_of(icl.get());
    }

    Computer after(computer("10.0.0.1 intruder",
                            "      file /srv/www/index.html content=\"<html/>\"\n"
                            "      file /srv/www/js/new.js content=\"x\"\n"),
                   true);
    List list = make_list();
    Icl stored = read_image(image);
    ASSERT_NE(stored, nullptr);
    std::string base;
    {
        auto all = check_all(stored.get(), list.get());
        EXPECT_EQ(summary(all.get()), "ICLROOT:1 checked {/etc/hosts=0x4}; "
                                      "vg-data/lv-1 checked {/srv/www/js/new.js=0x1 /srv/www/old.css=0x2}");
        EXPECT_EQ(fs_icl_check_info_passed(all.get()), 0);
    }
    fs_icl *raw = nullptr;
    ASSERT_EQ(fs_icl_session_create(stored.get(), list.get(), &raw), FS_OCL_OK);
    Icl session(raw);
    EXPECT_EQ(volume_names(session.get()), "ICLROOT:1 vg-data/lv-1");
    fs_volume *v1 = fs_disk_list_find_volume(list.get(), sda1.get());
    EXPECT_EQ(v1->mount_count, 0);
    EXPECT_EQ(list->base_dir, nullptr);

    // The same from the command line, which mounts for itself.
    const std::string file = after.at("/list.bin");
    std::ofstream(file, std::ios::binary) << image;
    const simtest::Result r = simtest::run_program({ORVA_IC_PATH, "fs", "check", "--list", file});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.out, "disk:ICLROOT:1 /dev/sda1: 1 objects differ\n  /etc/hosts: data\n"
                     "lvm:vg-data/lv-1 /dev/dm-0: 1 objects differ\n"
                     "  /srv/www/js/new.js: new_file\n  /srv/www/old.css: file_missing\n");
}

} // namespace
