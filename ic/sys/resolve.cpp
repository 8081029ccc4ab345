// Path resolution confined to the system root.
//
// The walk opens every directory on the way with O_PATH | O_NOFOLLOW relative
// to the previous one, so a link is only ever followed by this code, which
// restarts absolute targets at the root and stops ".." at the root.
#include "resolve.h"

#include "ic/sys/sysroot.h"

#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace ic_sys {
namespace {

constexpr int max_links = 40;

// Components of a path; a trailing slash becomes a final "." so that the
// component before it must be (or lead to) a directory.
std::deque<std::string> split(const std::string &path)
{
    std::deque<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/')
            ++i;
        size_t j = i;
        while (j < path.size() && path[j] != '/')
            ++j;
        if (j > i)
            parts.emplace_back(path, i, j - i);
        i = j;
    }
    if (!path.empty() && path.back() == '/' && !parts.empty())
        parts.emplace_back(".");
    return parts;
}

std::string join(const std::vector<std::string> &names, const std::string *last = nullptr)
{
    std::string path;
    for (const auto &n : names) {
        path += '/';
        path += n;
    }
    if (last) {
        path += '/';
        path += *last;
    }
    return path.empty() ? std::string("/") : path;
}

int read_link_at(int dir, const std::string &name, std::string &target)
{
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = readlinkat(dir, name.c_str(), buf.data(), buf.size());
        if (n < 0)
            return errno;
        if (size_t(n) < buf.size()) {
            target.assign(buf.data(), size_t(n));
            return target.empty() ? ENOENT : 0;
        }
        if (buf.size() >= PATH_MAX)
            return ENAMETOOLONG;
        buf.resize(buf.size() * 2);
    }
}

} // namespace

int open_root()
{
    const char *root = ic_sys_root();
    if (!root) {
        errno = EINVAL;
        return -1;
    }
    return open(root, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

int resolve_in_root(int root_fd, const char *path, int flags, resolved_path &out)
{
    if (!path || path[0] != '/')
        return EINVAL;
    std::deque<std::string> todo = split(path);
    std::vector<unique_fd> dirs;
    std::vector<std::string> names;
    int first = fcntl(root_fd, F_DUPFD_CLOEXEC, 0);
    if (first < 0)
        return errno;
    dirs.emplace_back(first);
    int links = 0;

    while (!todo.empty()) {
        std::string comp = std::move(todo.front());
        todo.pop_front();
        const bool last = todo.empty();
        if (comp == ".")
            continue;
        if (comp == "..") {
            if (!names.empty()) {
                names.pop_back();
                dirs.pop_back();
            }
            continue;
        }
        struct stat st;
        if (fstatat(dirs.back().get(), comp.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            int err = errno;
            if (err == ENOENT && last && (flags & resolve_missing_last)) {
                out.path = join(names, &comp);
                out.name = std::move(comp);
                out.parent = std::move(dirs.back());
                return 0;
            }
            return err;
        }
        if (S_ISLNK(st.st_mode) && (!last || (flags & resolve_follow_last))) {
            if (++links > max_links)
                return ELOOP;
            std::string target;
            if (int err = read_link_at(dirs.back().get(), comp, target))
                return err;
            if (target[0] == '/') {
                dirs.resize(1);
                names.clear();
            }
            std::deque<std::string> parts = split(target);
            todo.insert(todo.begin(), parts.begin(), parts.end());
            continue;
        }
        if (last) {
            out.path = join(names, &comp);
            out.name = std::move(comp);
            out.parent = std::move(dirs.back());
            return 0;
        }
        if (!S_ISDIR(st.st_mode))
            return ENOTDIR;
        int fd = openat(dirs.back().get(), comp.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return errno;
        dirs.emplace_back(fd);
        names.push_back(std::move(comp));
    }
    // The path names a directory on the way (the root, or one ending in "." or "..").
    out.path = join(names);
    out.name = ".";
    out.parent = std::move(dirs.back());
    return 0;
}

} // namespace ic_sys
