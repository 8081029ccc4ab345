// Test support for ic_fs: owning handles and a simulated computer with
// ORVA_SYSROOT pointing at it.
#ifndef TESTS_IC_FS_SUPPORT_H
#define TESTS_IC_FS_SUPPORT_H

#include <ic/fs/fs_disk_list.h>
#include <ic/fs/fs_volume_id.h>

#include "sim_root.h"
#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

namespace fstest {

struct list_deleter {
    void operator()(fs_disk_list *l) const { fs_disk_list_destroy(l); }
};
struct id_deleter {
    void operator()(fs_volume_id *id) const { fs_volume_id_destroy(id); }
};
using List = std::unique_ptr<fs_disk_list, list_deleter>;
using Id = std::unique_ptr<fs_volume_id, id_deleter>;

class Computer {
public:
    // `writable`: nodes ("sda2") whose loop devices take writes.
    explicit Computer(const std::string &text, bool loops = false, const std::vector<std::string> &writable = {})
        : root_(simtest::build_root(dir_, text)), sysroot_(root_)
    {
        if (loops) {
            simcomputer::Error err;
            looped_ = simcomputer::attach_loops(root_, err, writable);
            if (!looped_)
                throw std::runtime_error("attach_loops: " + err.text());
        }
    }
    ~Computer()
    {
        simcomputer::Error err;
        if (looped_)
            simcomputer::detach_loops(root_, err);
    }
    const std::string &root() const { return root_; }
    std::string at(const std::string &path) const { return root_ + path; }

private:
    simtest::TempDir dir_;
    std::string root_;
    simtest::SysRoot sysroot_;
    bool looped_ = false;
};

inline List make_list(bool lvm = true)
{
    fs_disk_list *l = nullptr;
    int rc = fs_disk_list_create(&l);
    if (rc != FS_OK)
        throw std::runtime_error("fs_disk_list_create: " + std::to_string(rc));
    List list(l);
    if (lvm && fs_disk_list_add_lvm_groups(l) != FS_OK)
        throw std::runtime_error("fs_disk_list_add_lvm_groups failed");
    return list;
}

inline fs_disk *disk_at(const fs_disk_list *list, size_t index)
{
    fs_disk *d = fs_disk_list_first_disk(list);
    while (d && index--)
        d = fs_disk_list_next_disk(d);
    return d;
}

inline fs_volume *partition(const fs_disk_list *list, size_t disk, unsigned number)
{
    fs_partition *p = fs_disk_partition_by_number(disk_at(list, disk), number);
    return p ? &p->volume : nullptr;
}

// vmfs-fuse, ntfs-3g and umount stand-ins: log "name args..." and exit
// with the status in the file "status" (0 when absent).
class FakePrograms {
public:
    FakePrograms()
    {
        for (const char *name : {"vmfs-fuse", "ntfs-3g", "umount"}) {
            const std::string path = dir_ / name;
            std::ofstream(path) << "#!/bin/sh\necho \"" << name << " $*\" >> " << (dir_ / "log") << "\n"
                                << "[ -f " << (dir_ / "status") << " ] && exit $(cat " << (dir_ / "status")
                                << ")\nexit 0\n";
            chmod(path.c_str(), 0755);
        }
        const char *old = std::getenv("PATH");
        old_path_ = old ? old : "";
        setenv("PATH", (dir_.path() + ":" + old_path_).c_str(), 1);
    }
    ~FakePrograms() { setenv("PATH", old_path_.c_str(), 1); }
    std::string log() const { return std::filesystem::exists(dir_ / "log") ? simtest::read_file(dir_ / "log") : ""; }
    void exit_with(int status) const { std::ofstream(dir_ / "status") << status << "\n"; }

private:
    simtest::TempDir dir_{"orva-fake-programs"};
    std::string old_path_;
};

} // namespace fstest

#endif
