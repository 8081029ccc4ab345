// System root: the one place where kernel and hardware paths are opened.
#include "ic/sys/sysroot.h"

#include "resolve.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

using ic_sys::resolved_path;
using ic_util::unique_fd;

namespace {

bool absolute(const char *path)
{
    if (path && path[0] == '/')
        return true;
    errno = EINVAL;
    return false;
}

// Resolves path under the root; false with errno set on failure.
bool resolve(const char *path, int flags, resolved_path &out)
{
    try {
        unique_fd root(ic_sys::open_root());
        if (!root.valid())
            return false;
        int err = ic_sys::resolve_in_root(root.get(), path, flags, out);
        if (err) {
            errno = err;
            return false;
        }
        return true;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    }
}

int open_flags_of(const char *mode)
{
    int flags;
    switch (mode[0]) {
    case 'r': flags = 0; break;
    case 'w': flags = O_CREAT | O_TRUNC; break;
    case 'a': flags = O_CREAT | O_APPEND; break;
    default: return -1;
    }
    bool plus = std::strchr(mode, '+') != nullptr;
    if (plus)
        flags |= O_RDWR;
    else
        flags |= mode[0] == 'r' ? O_RDONLY : O_WRONLY;
    return flags;
}

} // namespace

extern "C" {

const char *ic_sys_root(void)
{
    const char *root = std::getenv(IC_SYS_ROOT_ENV);
    return root && root[0] ? root : nullptr;
}

int ic_sys_host_path(const char *path, char *buf, size_t size)
{
    if (!path || path[0] != '/' || !buf)
        return IC_SYS_EINVAL;
    const char *root = ic_sys_root();
    if (!root) {
        size_t len = std::strlen(path);
        if (len >= size)
            return IC_SYS_EINVAL;
        std::memcpy(buf, path, len + 1);
        return IC_SYS_OK;
    }
    resolved_path r;
    if (!resolve(path, ic_sys::resolve_follow_last | ic_sys::resolve_missing_last, r)) {
        switch (errno) {
        case ENOENT: return IC_SYS_ENOENT;
        case ENOMEM: return IC_SYS_ENOMEM;
        case EINVAL: return IC_SYS_EINVAL;
        default: return IC_SYS_EIO;
        }
    }
    size_t root_len = std::strlen(root);
    while (root_len > 1 && root[root_len - 1] == '/')
        --root_len;
    const std::string &rest = r.path == "/" ? std::string() : r.path;
    if (root_len + rest.size() >= size)
        return IC_SYS_EINVAL;
    std::memcpy(buf, root, root_len);
    std::memcpy(buf + root_len, rest.c_str(), rest.size() + 1);
    return IC_SYS_OK;
}

int ic_sys_open(const char *path, int flags, mode_t mode)
{
    if (!absolute(path))
        return -1;
    if (!ic_sys_root())
        return open(path, flags | O_CLOEXEC, mode);
    resolved_path r;
    int how = ic_sys::resolve_follow_last | ((flags & O_CREAT) ? ic_sys::resolve_missing_last : 0);
    if (!resolve(path, how, r))
        return -1;
    return openat(r.parent.get(), r.name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

FILE *ic_sys_fopen(const char *path, const char *mode)
{
    int flags = mode ? open_flags_of(mode) : -1;
    if (flags < 0) {
        errno = EINVAL;
        return nullptr;
    }
    int fd = ic_sys_open(path, flags, 0666);
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, mode);
    if (!f) {
        int err = errno;
        close(fd);
        errno = err;
    }
    return f;
}

DIR *ic_sys_opendir(const char *path)
{
    int fd = ic_sys_open(path, O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0)
        return nullptr;
    DIR *dir = fdopendir(fd);
    if (!dir) {
        int err = errno;
        close(fd);
        errno = err;
    }
    return dir;
}

int ic_sys_scandir(const char *path, struct dirent ***namelist,
                   int (*filter)(const struct dirent *),
                   int (*compar)(const struct dirent **, const struct dirent **))
{
    int fd = ic_sys_open(path, O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0)
        return -1;
    int n = scandirat(fd, ".", namelist, filter, compar);
    int err = errno;
    close(fd);
    errno = err;
    return n;
}

int ic_sys_stat(const char *path, struct stat *st)
{
    if (!absolute(path))
        return -1;
    if (!ic_sys_root())
        return stat(path, st);
    resolved_path r;
    if (!resolve(path, ic_sys::resolve_follow_last, r))
        return -1;
    return fstatat(r.parent.get(), r.name.c_str(), st, AT_SYMLINK_NOFOLLOW);
}

int ic_sys_lstat(const char *path, struct stat *st)
{
    if (!absolute(path))
        return -1;
    if (!ic_sys_root())
        return lstat(path, st);
    resolved_path r;
    if (!resolve(path, 0, r))
        return -1;
    return fstatat(r.parent.get(), r.name.c_str(), st, AT_SYMLINK_NOFOLLOW);
}

ssize_t ic_sys_readlink(const char *path, char *buf, size_t size)
{
    if (!absolute(path))
        return -1;
    if (!ic_sys_root())
        return readlink(path, buf, size);
    resolved_path r;
    if (!resolve(path, 0, r))
        return -1;
    return readlinkat(r.parent.get(), r.name.c_str(), buf, size);
}

char *ic_sys_realpath(const char *path, char *resolved)
{
    if (!absolute(path))
        return nullptr;
    if (!ic_sys_root())
        return realpath(path, resolved);
    resolved_path r;
    if (!resolve(path, ic_sys::resolve_follow_last, r))
        return nullptr;
    if (r.path.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    if (!resolved) {
        resolved = strdup(r.path.c_str());
        if (!resolved)
            errno = ENOMEM;
        return resolved;
    }
    std::memcpy(resolved, r.path.c_str(), r.path.size() + 1);
    return resolved;
}

} // extern "C"
