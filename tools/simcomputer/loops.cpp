// Loop devices behind the volume nodes of a simulated computer, so that its
// file systems mount with the real kernel (root only).
#include "simcomputer/simcomputer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/loop.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace simcomputer {
namespace {

std::string read_text(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string errno_text()
{
    return std::strerror(errno);
}

// Block devices of the root whose udev record names a file system.
std::vector<std::string> volume_nodes(const std::string &root)
{
    std::vector<std::string> names;
    DIR *d = opendir((root + "/sys/class/block").c_str());
    if (!d)
        return names;
    while (struct dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::string dev = read_text(root + "/sys/class/block/" + e->d_name + "/dev");
        while (!dev.empty() && dev.back() == '\n')
            dev.pop_back();
        if (dev.empty() || ("\n" + read_text(root + "/run/udev/data/b" + dev)).find("\nE:ID_FS_TYPE=") == std::string::npos)
            continue;
        names.push_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

bool loop_attach(const std::string &file, std::string &device, Error &err, bool writable)
{
    int file_fd = open(file.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (file_fd < 0) {
        err = {0, "cannot open " + file + ": " + errno_text()};
        return false;
    }
    int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    if (control < 0) {
        err = {0, "cannot open /dev/loop-control: " + errno_text()};
        close(file_fd);
        return false;
    }
    bool ok = false;
    for (int attempt = 0; attempt < 16 && !ok; ++attempt) {
        int n = ioctl(control, LOOP_CTL_GET_FREE);
        if (n < 0) {
            err = {0, "no free loop device: " + errno_text()};
            break;
        }
        device = "/dev/loop" + std::to_string(n);
        // The binding is read-only unless both are open for writing.
        int loop_fd = open(device.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
        if (loop_fd < 0) {
            err = {0, "cannot open " + device + ": " + errno_text()};
            break;
        }
        if (ioctl(loop_fd, LOOP_SET_FD, file_fd) == 0) {
            struct loop_info64 info;
            std::memset(&info, 0, sizeof info);
            std::strncpy(reinterpret_cast<char *>(info.lo_file_name), file.c_str(), LO_NAME_SIZE - 1);
            ioctl(loop_fd, LOOP_SET_STATUS64, &info);
            ok = true;
        } else if (errno != EBUSY) {
            err = {0, "cannot bind " + device + ": " + errno_text()};
            close(loop_fd);
            break;
        }
        close(loop_fd);
    }
    close(control);
    close(file_fd);
    return ok;
}

bool loop_detach(const std::string &device, Error &err)
{
    int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || (ioctl(fd, LOOP_CLR_FD, 0) != 0 && errno != ENXIO)) {
        err = {0, "cannot detach " + device + ": " + errno_text()};
        if (fd >= 0)
            close(fd);
        return false;
    }
    close(fd);
    return true;
}

bool attach_loops(const std::string &root, Error &err, const std::vector<std::string> &writable)
{
    const std::string store = root + "/.loops";
    if (mkdir(store.c_str(), 0700) != 0) {
        err = {0, "cannot create " + store + ": " + errno_text()};
        return false;
    }
    for (const std::string &name : volume_nodes(root)) {
        const std::string node = root + "/dev/" + name, kept = store + "/" + name;
        struct stat st;
        if (lstat(node.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        std::string device;
        if (rename(node.c_str(), kept.c_str()) != 0) {
            err = {0, "cannot move " + node + ": " + errno_text()};
        } else if (loop_attach(kept, device, err,
                               std::find(writable.begin(), writable.end(), name) != writable.end())) {
            std::ofstream(store + "/state", std::ios::app) << name << " " << device << "\n";
            struct stat dev;
            if (stat(device.c_str(), &dev) == 0 && mknod(node.c_str(), S_IFBLK | 0600, dev.st_rdev) == 0)
                continue;
            err = {0, "cannot make the node " + node + ": " + errno_text()};
        }
        Error ignored;
        detach_loops(root, ignored);
        return false;
    }
    return true;
}

bool detach_loops(const std::string &root, Error &err)
{
    const std::string store = root + "/.loops";
    struct stat st;
    if (lstat(store.c_str(), &st) != 0)
        return true;
    bool ok = true;
    std::ifstream state(store + "/state");
    std::string name, device;
    while (state >> name >> device) {
        const std::string node = root + "/dev/" + name;
        if (lstat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
            unlink(node.c_str());
        if (!loop_detach(device, err))
            ok = false;
    }
    // Every kept file goes back, also one whose binding failed.
    if (DIR *d = opendir(store.c_str())) {
        while (struct dirent *e = readdir(d)) {
            const std::string n = e->d_name;
            if (n == "." || n == ".." || n == "state")
                continue;
            if (rename((store + "/" + n).c_str(), (root + "/dev/" + n).c_str()) != 0) {
                err = {0, "cannot restore /dev/" + n + ": " + errno_text()};
                ok = false;
            }
        }
        closedir(d);
    }
    if (ok) {
        unlink((store + "/state").c_str());
        if (rmdir(store.c_str()) != 0) {
            err = {0, "cannot remove " + store + ": " + errno_text()};
            ok = false;
        }
    }
    return ok;
}

} // namespace simcomputer
