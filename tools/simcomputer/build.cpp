// Building a simulated computer: everything is written into a staging
// directory beside the root and renamed into place at the end.
#include "description.h"
#include "internal.h"
#include "sysfs.h"
#include "tree.h"
#include "volumes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace simcomputer {
namespace {

// 0 when path is absent, 1 when it is an empty directory, -1 otherwise.
int root_state(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? 0 : -1;
    if (!S_ISDIR(st.st_mode))
        return -1;
    DIR *d = opendir(path.c_str());
    if (!d)
        return -1;
    int state = 1;
    while (struct dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            state = -1;
            break;
        }
    closedir(d);
    return state;
}

void write_computer(const Computer &computer, Tree &t)
{
    const Computer c = with_volume_properties(computer);
    write_sysfs(c, t);
    write_disks(c, t);
    write_volumes(c, t);

    MemoryImage mem;
    Error err;
    if (!make_memory_image(c, mem, err))
        throw description_error{err.line, err.message};
    std::vector<std::pair<uint64_t, const std::vector<uint8_t> *>> pieces{{0, &mem.low}};
    for (const auto &h : mem.high)
        pieces.emplace_back(h.first, &h.second);
    t.sparse("/dev/mem", mem.size, pieces);
    if (c.smbios.efi()) {
        char line[32];
        std::snprintf(line, sizeof line, "%s=0x%x\n", c.smbios.sm3() ? "SMBIOS3" : "SMBIOS", mem.smbios_entry);
        t.file("/sys/firmware/efi/systab", line);
    }
    if (c.cmdline)
        t.file("/proc/cmdline", *c.cmdline + "\n");
    for (const Windows &w : c.windows)
        for (const auto &f : windows_files(w))
            t.file("/" + f.first, f.second);
}

} // namespace

bool build(const Computer &computer, const std::string &root_arg, Error &err)
{
    std::string root = root_arg;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    if (root.empty()) {
        err = {0, "no root directory given"};
        return false;
    }
    const int state = root_state(root);
    if (state < 0) {
        err = {0, root + " exists and is not an empty directory"};
        return false;
    }
    std::string staging = root + ".tmp-XXXXXX";
    if (!mkdtemp(staging.data())) {
        err = {0, "cannot create a directory beside " + root + ": " + std::strerror(errno)};
        return false;
    }
    auto discard = [&staging] {
        std::error_code ec;
        std::filesystem::remove_all(staging, ec);
    };
    try {
        Tree tree(staging);
        write_computer(computer, tree);
    } catch (const description_error &e) {
        discard();
        err = {e.line, e.message};
        return false;
    } catch (const std::exception &e) {
        discard();
        err = {0, e.what()};
        return false;
    }
    if (chmod(staging.c_str(), 0755) != 0 || (state == 1 && rmdir(root.c_str()) != 0)
        || rename(staging.c_str(), root.c_str()) != 0) {
        err = {0, "cannot move the tree to " + root + ": " + std::strerror(errno)};
        discard();
        return false;
    }
    return true;
}

} // namespace simcomputer
