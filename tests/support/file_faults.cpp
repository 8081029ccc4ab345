// The replacements of openat and read behind file_faults.h.
#include "file_faults.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

std::atomic<bool> armed{false};
std::string elsewhere; // set before arming
std::atomic<int> moved_count{0};

template <typename F>
F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The last component of the file open at fd.
std::string name_of(int fd)
{
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return std::string();
    const std::string t(target, size_t(n));
    const size_t slash = t.rfind('/');
    return slash == std::string::npos ? t : t.substr(slash + 1);
}

bool ends_with(const std::string &s, const char *suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

} // namespace

namespace file_faults {

void arm(const std::string &where)
{
    elsewhere = where;
    moved_count = 0;
    armed = true;
}

void disarm()
{
    armed = false;
}

int moved()
{
    return moved_count;
}

} // namespace file_faults

extern "C" int openat(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    static auto next = real<int (*)(int, const char *, int, ...)>("openat");
    if (armed && std::strcmp(path, "vanishing") == 0)
        renameat(dirfd, path, AT_FDCWD, (elsewhere + "/" + std::to_string(moved_count++)).c_str());
    if (armed && std::strcmp(path, "broken") == 0) {
        errno = EMFILE;
        return -1;
    }
    return next(dirfd, path, flags, mode);
}

extern "C" ssize_t read(int fd, void *buf, size_t n)
{
    static auto next = real<ssize_t (*)(int, void *, size_t)>("read");
    if (armed) {
        const std::string name = name_of(fd);
        if (name.compare(0, 4, "slow") == 0) {
            const timespec pause{0, 100 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        const bool growing = name.compare(0, 7, "growing") == 0;
        if (growing || name.compare(0, 9, "shrinking") == 0) {
            const int writer = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_CLOEXEC);
            struct stat st;
            if (writer >= 0 && fstat(writer, &st) == 0 && st.st_size % 2 == 0) {
                if (growing)
                    (void)!pwrite(writer, "+", 1, st.st_size);
                else
                    (void)!ftruncate(writer, st.st_size - 1);
            }
            if (writer >= 0)
                close(writer);
        }
        if (ends_with(name, "unreadable")) {
            errno = EIO;
            return -1;
        }
    }
    return next(fd, buf, n);
}
