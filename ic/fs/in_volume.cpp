// Opening paths inside a mounted volume.
#include "in_volume.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ic_fs {

int open_by_components(int root, const char *path, int open_flags, ic_util::unique_fd &fd)
{
    ic_util::unique_fd dir(fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!dir.valid())
        return errno;
    std::string part;
    for (const char *p = path;;) {
        while (*p == '/')
            ++p;
        const char *end = std::strchr(p, '/');
        if (!end)
            end = p + std::strlen(p);
        const char *next = end;
        while (*next == '/')
            ++next;
        part.assign(p, size_t(end - p));
        if (part.empty())
            part = "."; // the root itself
        if (part == "..")
            return EXDEV;
        if (!*next) {
            const int r = openat(dir.get(), part.c_str(), open_flags | O_NOFOLLOW | O_CLOEXEC);
            if (r < 0)
                return errno;
            fd.reset(r);
            return 0;
        }
        const int r = openat(dir.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (r < 0) {
            const int err = errno;
            struct stat st;
            if (err == ENOTDIR && fstatat(dir.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode))
                return ELOOP;
            return err;
        }
        dir.reset(r);
        p = next;
    }
}

int open_in_volume(int root, const char *path, int open_flags, ic_util::unique_fd &fd)
{
    while (*path == '/')
        ++path;
    if (!*path)
        path = ".";
    open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = uint64_t(open_flags | O_CLOEXEC);
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;
    for (int attempt = 0;; ++attempt) {
        const long r = syscall(SYS_openat2, root, path, &how, sizeof how);
        if (r >= 0) {
            fd.reset(int(r));
            return 0;
        }
        if (errno == EAGAIN && attempt < 16)
            continue; // a rename raced with ".." resolution
        if (errno == ENOSYS)
            return open_by_components(root, path, open_flags, fd);
        return errno;
    }
}

} // namespace ic_fs
