// The check list on the volumes of a simulated computer. The volumes are
// "vmfs" ones, mounted by stand-ins for vmfs-fuse and umount: mounting
// copies <device node>.tree into the mount directory, unmounting empties it.
// So adding, checking and the session list run without root; the same over
// real read-only ext4 mounts is in icl_root_test.cpp.
#include "fs_support.h"
#include "icl_support.h"
#include "process.h"

#include <ic/qt/orva_fun_fs.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

using namespace fstest;
using namespace icltest;
namespace stdfs = std::filesystem;

namespace {

const char *kComputer = R"(
disk sda size=16M serial=FIRST
  part 1 start=1M size=1M
    prop ID_FS_TYPE=vmfs ID_FS_UUID=UUID-1
  part 2 start=2M size=1M
disk sdb size=16M serial=SECOND
  part 1 start=1M size=1M
    prop ID_FS_TYPE=vmfs ID_FS_UUID=UUID-2
)";

// vmfs-fuse and umount stand-ins that give a volume its files.
class TreePrograms {
public:
    TreePrograms()
    {
        script("vmfs-fuse", "echo \"vmfs-fuse $*\" >> " + log_path() + "\n[ -f " + (dir_ / "fail") +
                                " ] && exit 1\ncp -a \"$1.tree/.\" \"$2\"\n");
        script("umount", "echo \"umount $*\" >> " + log_path() + "\nfind \"$1\" -mindepth 1 -delete\n");
        const char *old = std::getenv("PATH");
        old_path_ = old ? old : "";
        setenv("PATH", (dir_.path() + ":" + old_path_).c_str(), 1);
    }
    ~TreePrograms() { setenv("PATH", old_path_.c_str(), 1); }
    std::string log() const { return stdfs::exists(log_path()) ? simtest::read_file(log_path()) : ""; }
    void fail_mounts() const { std::ofstream(dir_ / "fail") << "1\n"; }

private:
    std::string log_path() const { return dir_ / "log"; }
    void script(const char *name, const std::string &body)
    {
        const std::string path = dir_ / name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        chmod(path.c_str(), 0755);
    }
    simtest::TempDir dir_{"orva-tree-programs"};
    std::string old_path_;
};

constexpr time_t kTime = 1700000000;

class IclVolumes : public ::testing::Test {
protected:
    IclVolumes() : c_(kComputer), list_(make_list(false))
    {
        sda1_ = partition(list_.get(), 0, 1);
        sdb1_ = partition(list_.get(), 1, 1);
        a_ = c_.at("/dev/sda1.tree");
        b_ = c_.at("/dev/sdb1.tree");
        ocltest::write(a_ + "/etc/hosts", "127.0.0.1 localhost");
        ocltest::write(a_ + "/etc/passwd", "root:x:0:0");
        ocltest::write(b_ + "/srv/www/index.html", "<html/>");
        ocltest::write(b_ + "/srv/www/img/logo.png", "PNG");
        ocltest::set_mtime(a_ + "/etc/hosts", kTime);
    }

    TreePrograms programs_;
    Computer c_;
    List list_;
    fs_volume *sda1_ = nullptr, *sdb1_ = nullptr;
    std::string a_, b_;
};

TEST_F(IclVolumes, AddsOnTwoVolumesMountingOnlyForTheCall)
{
    ASSERT_NE(sda1_, nullptr);
    ASSERT_NE(sdb1_, nullptr);
    auto icl = make_icl();
    ASSERT_EQ(fs_icl_add_file(icl.get(), sda1_, "/etc/hosts", 12, nullptr), FS_OCL_OK);
    ASSERT_EQ(fs_icl_add_dir(icl.get(), sdb1_, "/srv", nullptr, 15, nullptr), FS_OCL_OK);
    ASSERT_EQ(fs_icl_add_file(icl.get(), sda1_, "/etc/passwd", 4, nullptr), FS_OCL_OK);
    EXPECT_EQ(sda1_->mount_count, 0);
    EXPECT_EQ(sdb1_->mount_count, 0);
    EXPECT_EQ(list_->base_dir, nullptr);
    EXPECT_EQ(count_lines(programs_.log(), "vmfs-fuse"), 3);
    EXPECT_EQ(count_lines(programs_.log(), "umount"), 3);

    ASSERT_EQ(icl->count, 2u);
    EXPECT_EQ(volume_names(icl.get()), "SECOND:1 FIRST:1"); // the newest entry first
    const VolId sda1_id = id_of(sda1_), sdb1_id = id_of(sdb1_);
    EXPECT_EQ(fs_icl_find_volume(icl.get(), sda1_id.get())->ocl->count, 2u);
    const fs_ocl_object *hosts = fs_icl_find_object(icl.get(), sda1_id.get(), "/etc/hosts");
    ASSERT_NE(hosts, nullptr);
    EXPECT_EQ(ocltest::bytes(ocltest::gost("127.0.0.1 localhost")),
              std::string(reinterpret_cast<const char *>(reinterpret_cast<const fs_ocl_file *>(hosts)->hash), 32));
    EXPECT_NE(fs_icl_find_object(icl.get(), sdb1_id.get(), "/srv"), nullptr);
    EXPECT_EQ(fs_icl_find_object(icl.get(), sdb1_id.get(), "/etc/hosts"), nullptr);
}

TEST_F(IclVolumes, FailedAddLeavesNoEntryAndNoMount)
{
    auto icl = make_icl();
    // Missing object on a volume not yet in the list.
    EXPECT_EQ(fs_icl_add_file(icl.get(), sda1_, "/nope", 12, nullptr), FS_OCL_ERR_MISSING);
    EXPECT_EQ(fs_icl_add_dir(icl.get(), sda1_, "/etc/hosts", nullptr, 15, nullptr), FS_OCL_ERR_MISSING);
    EXPECT_EQ(icl->count, 0u);
    // A failure on a volume already listed keeps the entry and its objects.
    ASSERT_EQ(fs_icl_add_file(icl.get(), sda1_, "/etc/hosts", 12, nullptr), FS_OCL_OK);
    EXPECT_EQ(fs_icl_add_file(icl.get(), sda1_, "relative", 12, nullptr), FS_OCL_ERR_INVAL);
    EXPECT_EQ(icl->count, 1u);
    EXPECT_EQ(icl->first->ocl->count, 1u);
    EXPECT_EQ(sda1_->mount_count, 0);
    // A volume without a file system, and a mount that fails: the mount's
    // code, unchanged, and no entry.
    EXPECT_EQ(fs_icl_add_file(icl.get(), partition(list_.get(), 0, 2), "/x", 12, nullptr), FS_ERR_IO);
    programs_.fail_mounts();
    EXPECT_EQ(fs_icl_add_file(icl.get(), sdb1_, "/srv/www/index.html", 12, nullptr), FS_ERR_IO);
    EXPECT_EQ(icl->count, 1u);
    EXPECT_EQ(list_->base_dir, nullptr);
}

TEST_F(IclVolumes, CheckOfEveryVolumeAfterAWriteReadCycle)
{
    auto icl = make_icl();
    ASSERT_EQ(fs_icl_add_file(icl.get(), sda1_, "/etc/hosts", 12, nullptr), FS_OCL_OK);
    ASSERT_EQ(fs_icl_add_file(icl.get(), sda1_, "/etc/passwd", 12, nullptr), FS_OCL_OK);
    ASSERT_EQ(fs_icl_add_dir(icl.get(), sdb1_, "/srv", nullptr, 15, nullptr), FS_OCL_OK);
    // Entries of volumes this computer does not have: a missing partition
    // of a present disk, and a missing disk.
    const VolId gone_part = partition_id("FIRST", 7), gone_disk = partition_id("GONE", 1);
    add_presence(icl.get(), gone_part.get(), "/x");
    add_presence(icl.get(), gone_disk.get(), "/x");
    Icl stored = read_image(image_of(icl.get()));
    ASSERT_NE(stored, nullptr);

    {
        auto all = check_all(stored.get(), list_.get());
        EXPECT_EQ(summary(all.get()), "FIRST:1 checked {}; SECOND:1 checked {}; FIRST:7 volume not found; "
                                      "GONE:1 disk not found");
        EXPECT_EQ(fs_icl_check_info_passed(all.get()), 0);
    }

    // Same size and time, other bytes.
    ocltest::write(a_ + "/etc/hosts", "127.0.0.6 localhost");
    ocltest::set_mtime(a_ + "/etc/hosts", kTime);
    ocltest::write(b_ + "/srv/www/img/new/deeper/x.js", "js");
    stdfs::remove(b_ + "/srv/www/index.html");
    auto all = check_all(stored.get(), list_.get());
    EXPECT_EQ(summary(all.get()),
              "FIRST:1 checked {/etc/hosts=0x4}; "
              "SECOND:1 checked {/srv/www/img/new/deeper/x.js=0x1 /srv/www/index.html=0x2}; "
              "FIRST:7 volume not found; GONE:1 disk not found");
    EXPECT_EQ(sda1_->mount_count, 0);
    EXPECT_EQ(sdb1_->mount_count, 0);

    // One volume at a time, and a mount failure passed on unchanged.
    const VolId sda1_id = id_of(sda1_);
    fs_ocl_check_info *one = nullptr;
    ASSERT_EQ(fs_icl_check_info_create(fs_icl_find_volume(stored.get(), sda1_id.get()), sda1_, &one), FS_OCL_OK);
    EXPECT_EQ(ocltest::flatten(one), (ocltest::Results{{"/etc/hosts", 0x4}}));
    fs_ocl_check_info_destroy(one);
    programs_.fail_mounts();
    EXPECT_EQ(fs_icl_check_info_create(fs_icl_find_volume(stored.get(), sda1_id.get()), sda1_, &one), FS_ERR_IO);
    auto failed = check_all(stored.get(), list_.get());
    EXPECT_EQ(fs_icl_check_find_volume(failed.get(), sda1_id.get())->state, FS_ICL_MOUNT_FAILED);
    EXPECT_EQ(fs_icl_check_find_volume(failed.get(), sda1_id.get())->code, FS_ERR_IO);
}

TEST_F(IclVolumes, SessionListIsTheStoredListAsFoundNow)
{
    auto icl = make_icl();
    ASSERT_EQ(fs_icl_add_file(icl.get(), sda1_, "/etc/hosts", 12, nullptr), FS_OCL_OK);
    ASSERT_EQ(fs_icl_add_file(icl.get(), sda1_, "/etc/passwd", 12, nullptr), FS_OCL_OK);
    const char *masks[] = {"*.png", nullptr};
    ASSERT_EQ(fs_icl_add_dir(icl.get(), sdb1_, "/srv", masks, 15, nullptr), FS_OCL_OK);
    const VolId gone = partition_id("GONE", 1);
    add_presence(icl.get(), gone.get(), "/x");

    ocltest::write(a_ + "/etc/hosts", "changed");
    stdfs::remove(a_ + "/etc/passwd");
    fs_icl *raw = nullptr;
    ASSERT_EQ(fs_icl_session_create(icl.get(), list_.get(), &raw), FS_OCL_OK);
    Icl session(raw);
    EXPECT_EQ(sda1_->mount_count, 0);
    EXPECT_EQ(sdb1_->mount_count, 0);
    // The stored order, without the volume that is not there and without
    // the missing file.
    EXPECT_EQ(volume_names(session.get()), "SECOND:1 FIRST:1");
    EXPECT_EQ(volume_names(icl.get()), "GONE:1 SECOND:1 FIRST:1");
    const VolId sda1_id = id_of(sda1_), sdb1_id = id_of(sdb1_);
    EXPECT_EQ(fs_icl_find_volume(session.get(), sda1_id.get())->ocl->count, 1u);
    const auto *hosts =
        reinterpret_cast<const fs_ocl_file *>(fs_icl_find_object(session.get(), sda1_id.get(), "/etc/hosts"));
    ASSERT_NE(hosts, nullptr);
    EXPECT_EQ(hosts->object.flags, 12);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(hosts->hash), 32), ocltest::bytes(ocltest::gost("changed")));
    const auto *srv = reinterpret_cast<const fs_ocl_dir *>(fs_icl_find_object(session.get(), sdb1_id.get(), "/srv"));
    ASSERT_NE(srv, nullptr);
    EXPECT_EQ(srv->object.flags, 15);
    ASSERT_NE(srv->masks, nullptr);
    EXPECT_EQ(std::string(srv->masks[0]), "*.png");
    EXPECT_EQ(srv->masks[1], nullptr);

    // Nothing left at all: an empty session list.
    stdfs::remove(a_ + "/etc/hosts");
    stdfs::remove_all(b_ + "/srv");
    ASSERT_EQ(fs_icl_session_create(icl.get(), list_.get(), &raw), FS_OCL_OK);
    session.reset(raw);
    EXPECT_EQ(session->count, 0u);
}

} // namespace

// The check-list side of the service object, on the same volumes.
TEST_F(IclVolumes, ServiceObjectAddsChecksAndDropsResultsOfChangedVolumes)
{
    orva_fun_fs f(list_.release());
    fs_disk_list *list = f.disk_list();
    EXPECT_EQ(f.add_file("/etc/hosts", 12), -1); // no current volume
    EXPECT_EQ(f.check_object("/etc/hosts"), -1);

    f.set_current_volume(sda1_);
    EXPECT_EQ(f.check_object("/etc/hosts"), 0);
    ASSERT_EQ(f.add_file("/etc/hosts", 12), 0);
    EXPECT_EQ(f.check_object("/etc/hosts"), 1);
    EXPECT_EQ(f.add_file("/nope", 12), FS_OCL_ERR_MISSING);
    EXPECT_EQ(f.add_file("/etc/hosts", 0x10000), FS_OCL_ERR_INVAL);
    // A path below the mount directory, as the page's file tree gives it.
    f.set_current_volume(sdb1_);
    const QString dir = f.mount_volume(sdb1_, false);
    ASSERT_FALSE(dir.isEmpty());
    ASSERT_EQ(f.add_dir(dir + "/srv", 15, {"*.png"}), 0);
    f.umount_volume(sdb1_);
    EXPECT_EQ(sdb1_->mount_count, 0);
    const VolId a = id_of(sda1_), b = id_of(sdb1_);
    const auto *srv = reinterpret_cast<const fs_ocl_dir *>(fs_icl_find_object(f.icl(), b.get(), "/srv"));
    ASSERT_NE(srv, nullptr);
    ASSERT_NE(srv->masks, nullptr);
    EXPECT_EQ(std::string(srv->masks[0]), "*.png");

    ocltest::write(a_ + "/etc/hosts", "127.0.0.6 localhost");
    ocltest::set_mtime(a_ + "/etc/hosts", kTime);
    ocltest::write(b_ + "/srv/new.png", "new");
    f.set_check_results(check_all(f.icl(), list).release());
    ASSERT_NE(f.check_info_by_id(a.get()), nullptr);
    EXPECT_EQ(ocltest::flatten(f.check_info_by_id(a.get())), (ocltest::Results{{"/etc/hosts", 0x4}}));
    EXPECT_EQ(ocltest::flatten(f.check_info_by_id(b.get())), (ocltest::Results{{"/srv/new.png", 0x1}}));

    // The session list is the reference list as found when it is first
    // asked for, kept until it is rebuilt.
    const auto hosts_hash = [&f, &a] {
        const auto *hosts =
            reinterpret_cast<const fs_ocl_file *>(fs_icl_find_object(f.session_icl(), a.get(), "/etc/hosts"));
        return hosts ? std::string(reinterpret_cast<const char *>(hosts->hash), 32) : std::string();
    };
    ASSERT_NE(f.session_icl(), nullptr);
    EXPECT_EQ(volume_names(f.session_icl()), volume_names(f.icl()));
    EXPECT_EQ(hosts_hash(), ocltest::bytes(ocltest::gost("127.0.0.6 localhost")));
    ocltest::write(a_ + "/etc/hosts", "127.0.0.7 localhost");
    EXPECT_EQ(hosts_hash(), ocltest::bytes(ocltest::gost("127.0.0.6 localhost")));
    ASSERT_EQ(f.create_session_icl(), 0);
    EXPECT_EQ(hosts_hash(), ocltest::bytes(ocltest::gost("127.0.0.7 localhost")));

    // Results of a volume whose objects change go; the others stay.
    EXPECT_EQ(f.remove_object(b.get(), "/nope"), FS_OCL_ERR_NOTFOUND);
    EXPECT_NE(f.check_info_by_id(b.get()), nullptr);
    EXPECT_EQ(f.remove_object(b.get(), "/srv"), 0);
    EXPECT_EQ(f.check_info_by_id(b.get()), nullptr);
    EXPECT_EQ(fs_icl_find_volume(f.icl(), b.get()), nullptr); // with its last object
    EXPECT_NE(f.check_info_by_id(a.get()), nullptr);
    f.set_current_volume(sda1_);
    ASSERT_EQ(f.add_file("/etc/passwd", 12), 0); // a new object: the results stay
    EXPECT_NE(f.check_info_by_id(a.get()), nullptr);
    ASSERT_EQ(f.add_file("/etc/hosts", 4), 0); // replaces a checked object
    EXPECT_EQ(f.check_info_by_id(a.get()), nullptr);
    EXPECT_EQ(f.remove_volume(b.get()), FS_OCL_ERR_NOTFOUND);
    EXPECT_EQ(f.remove_volume(a.get()), 0);
    EXPECT_EQ(f.icl()->count, 0u);
    // A new reference list: the next session list is made from it.
    EXPECT_EQ(volume_names(f.session_icl()), "SECOND:1 FIRST:1");
    f.set_icl(nullptr);
    ASSERT_NE(f.session_icl(), nullptr);
    EXPECT_EQ(f.session_icl()->count, 0u);
}

// orva-ic fs add/check over the same volumes, named by identity.
TEST_F(IclVolumes, CommandLineAddsByIdentityAndChecksEveryVolume)
{
    const std::string list = c_.at("/list.bin");
    auto fs = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {ORVA_IC_PATH, "fs"});
        return simtest::run_program(args);
    };
    simtest::Result r = fs({"add", "--list", list, "disk:FIRST:1", "/etc/hosts"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "file /etc/hosts added (flags 12) on disk:FIRST:1, 1 objects on it, 1 volumes in " + list + "\n");
    // The volume_id of "orva-ic volumes --json" and a file-system UUID.
    r = fs({"add", "--list", list, "0000050046495253540100", "/etc/passwd", "--flags", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = fs({"add", "--list", list, "UUID-2", "/srv", "--mask", "*.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "directory /srv added (flags 15) on disk:SECOND:1, 1 objects on it, 2 volumes in " + list + "\n");

    r = fs({"check", "--list", list});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "disk:FIRST:1 /dev/sda1: no differences\ndisk:SECOND:1 /dev/sdb1: no differences\n");

    ocltest::write(a_ + "/etc/hosts", "127.0.0.6 localhost");
    ocltest::set_mtime(a_ + "/etc/hosts", kTime);
    ocltest::write(b_ + "/srv/new.png", "new");
    ocltest::write(b_ + "/srv/new.txt", "not watched");
    r = fs({"check", "--list", list});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.out, "disk:FIRST:1 /dev/sda1: 1 objects differ\n  /etc/hosts: data\n"
                     "disk:SECOND:1 /dev/sdb1: 1 objects differ\n  /srv/new.png: new_file\n");
    r = fs({"check", "--list", list, "--json"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.out.find("{\"passed\": false, \"volumes\": [\n  {\"volume\": \"disk:FIRST:1\", \"volume_id\": "
                         "\"0000050046495253540100\", \"node\": \"/dev/sda1\", \"objects_listed\": 2, \"state\": "
                         "\"checked\", \"code\": 0, \"differences\": 1, \"objects\": [\n    {\"path\": \"/etc/hosts\", "
                         "\"type\": \"file\", \"flags\": 4, \"flag_names\": [\"data\"]}\n  ]}"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(sda1_->mount_count, 0);

    // Not there, not mountable, not usable.
    r = fs({"add", "--list", list, "disk:FIRST:9", "/etc/hosts"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no such volume"), std::string::npos) << r.err;
    r = fs({"add", "--list", list, "disk:FIRST:1", "/nope"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("code 7"), std::string::npos) << r.err;
    EXPECT_EQ(fs({"check", "--list", list, "extra"}).status, 2);
    EXPECT_EQ(fs({"add", "disk:FIRST:1", "/etc/hosts"}).status, 2);
    EXPECT_EQ(fs({"check", "--list", c_.at("/absent.bin")}).status, 1);
    ocltest::write(c_.at("/empty.bin"), std::string(2, '\0'));
    r = fs({"check", "--list", c_.at("/empty.bin")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "the list is empty\n");
    programs_.fail_mounts();
    r = fs({"check", "--list", list});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "disk:FIRST:1 /dev/sda1: mount failed, input/output failure or malformed data (code 1)\n"
                     "disk:SECOND:1 /dev/sdb1: mount failed, input/output failure or malformed data (code 1)\n");
}
