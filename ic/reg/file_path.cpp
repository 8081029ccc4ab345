// Hive and log files below a volume's root: resolution that cannot leave
// the root, case-insensitive names, and regular files opened non-blocking.
#include "reg_internal.h"

#include "ic/util/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The components of path, without empty ones and "."; false when one is "..".
bool split(const std::string &path, std::vector<std::string> &parts)
{
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return false;
        parts.push_back(std::move(part));
    }
    return true;
}

// Why opening name in dir failed: ELOOP when name is a symbolic link
// (opened as a directory, the kernel says ENOTDIR), else err.
int refusal(int dir, const std::string &name, int err)
{
    struct stat st;
    if (err == ENOTDIR && fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return ELOOP;
    return err;
}

// Kernels without openat2: component by component, refusing every link
// with ELOOP.
int open_walk(int root_fd, const std::vector<std::string> &parts, int flags, int &out)
{
    ic_util::unique_fd dir(openat(root_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return errno;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        ic_util::unique_fd next(openat(dir.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid())
            return refusal(dir.get(), parts[i], errno);
        dir = std::move(next);
    }
    if (parts.empty()) {
        out = openat(dir.get(), ".", flags | O_CLOEXEC);
        return out < 0 ? errno : 0;
    }
    ic_util::unique_fd fd(openat(dir.get(), parts.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return refusal(dir.get(), parts.back(), errno);
    struct stat st;
    if ((flags & O_PATH) && fstat(fd.get(), &st) == 0 && S_ISLNK(st.st_mode))
        return ELOOP;
    out = fd.release();
    return 0;
}

// name as UTF-16 upper case, or empty when it is not UTF-8.
std::vector<reg_char> upper(const std::string &name)
{
    std::vector<reg_char> out;
    reg_char *wide;
    if (reg_utf8_to_utf16_alloc(name.c_str(), &wide) != REG_OK)
        return out;
    for (const reg_char *p = wide; *p; ++p)
        out.push_back(reg_u16uppercase(*p));
    reg_free_string(wide);
    return out;
}

// Calls take(name) for each entry of dir_fd but "." and "..".
template <class Take>
int each_entry(int dir_fd, Take take)
{
    const int copy = fcntl(dir_fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return errno;
    DIR *d = fdopendir(copy);
    if (!d) {
        const int err = errno;
        close(copy);
        return err;
    }
    rewinddir(d);
    errno = 0;
    while (struct dirent *e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
            take(std::string(e->d_name));
        errno = 0;
    }
    const int err = errno;
    closedir(d);
    return err;
}

} // namespace

int reg_open_below(int root_fd, const std::string &path, int flags, int &fd)
{
    std::vector<std::string> parts;
    if (!split(path, parts))
        return EXDEV;
    std::string joined;
    for (const std::string &p : parts)
        joined += (joined.empty() ? "" : "/") + p;
    if (joined.empty())
        joined = ".";
    open_how how{};
    how.flags = uint64_t(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0;; ++attempt) {
        const long r = syscall(SYS_openat2, root_fd, joined.c_str(), &how, sizeof how);
        if (r >= 0) {
            fd = int(r);
            return 0;
        }
        if (errno == EAGAIN && attempt < 16)
            continue; // a rename raced with the lookup
        if (errno != ENOSYS)
            return errno;
        break;
    }
    return open_walk(root_fd, parts, flags, fd);
}

int reg_below_error(int err)
{
    return err == EXDEV || err == ELOOP ? REG_ERR_OUTSIDE : REG_ERR_IO;
}

int reg_find_name_ci(int dir_fd, const std::string &name, std::string &found)
{
    const std::vector<reg_char> want = upper(name);
    std::string best;
    bool exact = false;
    int err = each_entry(dir_fd, [&](const std::string &entry) {
        if (exact)
            return;
        if (entry == name) {
            best = entry;
            exact = true;
        } else if (!want.empty() && upper(entry) == want && (best.empty() || entry < best)) {
            best = entry;
        }
    });
    if (err)
        return err;
    if (best.empty())
        return ENOENT;
    found = best;
    return 0;
}

int reg_open_regular_below(int root_fd, const std::string &path, int &out)
{
    // Looked at without opening first: a device or FIFO is never opened.
    int raw;
    int err = reg_open_below(root_fd, path, O_PATH, raw);
    if (err)
        return reg_below_error(err);
    ic_util::unique_fd where(raw);
    struct stat st, now;
    if (fstat(where.get(), &st) != 0)
        return REG_ERR_IO;
    if (!S_ISREG(st.st_mode))
        return REG_ERR_NOT_REGULAR;
    err = reg_open_below(root_fd, path, O_RDONLY | O_NONBLOCK, raw);
    if (err)
        return reg_below_error(err);
    ic_util::unique_fd fd(raw);
    if (fstat(fd.get(), &now) != 0)
        return REG_ERR_IO;
    if (!S_ISREG(now.st_mode) || now.st_dev != st.st_dev || now.st_ino != st.st_ino)
        return REG_ERR_NOT_REGULAR;
    out = fd.release();
    return REG_OK;
}
