// Support operations of the scanners: attribute files and physical memory
// (copied through a mapping, never read()).
#include "hw_internal.h"

#include <ic/hw/hw_scan.h>

#include "ic/sys/physmem.h"
#include "ic/sys/sysroot.h"
#include "ic/util/unique_fd.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// read() that repeats on interruption.
ssize_t myread(int fd, void *buf, size_t size)
{
    ssize_t n;
    do
        n = read(fd, buf, size);
    while (n < 0 && errno == EINTR);
    return n;
}

// dir + "/" + attr in buf (64 bytes) or, when longer, in an allocation
// that *heap receives.  Null when out of memory.
char *alloc_path(const char *dir, const char *attr, char (&buf)[64], char **heap)
{
    const size_t a = std::strlen(dir), b = std::strlen(attr);
    char *p = buf;
    *heap = nullptr;
    if (a + b + 2 > sizeof buf) {
        p = *heap = static_cast<char *>(std::malloc(a + b + 2));
        if (!p)
            return nullptr;
    }
    std::memcpy(p, dir, a);
    p[a] = '/';
    std::memcpy(p + a + 1, attr, b + 1);
    return p;
}

} // namespace

size_t remove_trailing_chars(char *str, char c)
{
    size_t len = std::strlen(str);
    while (len > 0 && str[len - 1] == c)
        str[--len] = '\0';
    return len;
}

int read_str_from_file(const char *path, char *buf, size_t *size)
{
    if (!path || !buf || !size || *size == 0)
        return HW_ERR_INVAL;
    ic_util::unique_fd fd(ic_sys_open(path, O_RDONLY, 0));
    if (!fd.valid())
        return errno == ENOENT ? HW_ERR_NO_ATTR : HW_ERR_IO;
    ssize_t n = myread(fd.get(), buf, *size - 1);
    if (n < 0)
        return HW_ERR_IO;
    buf[n] = '\0';
    *size = remove_trailing_chars(buf, '\n');
    return HW_OK;
}

int get_sysfs_attr(const char *dir, const char *attr, char *buf, size_t *size)
{
    if (!dir || !attr)
        return HW_ERR_INVAL;
    char stack[64];
    char *heap;
    const char *path = alloc_path(dir, attr, stack, &heap);
    if (!path)
        return HW_ERR_NOMEM;
    int rc = read_str_from_file(path, buf, size);
    std::free(heap);
    return rc;
}

int scanf_sysfs_attr(const char *dir, const char *attr, const char *format, ...)
{
    char buf[1024];
    size_t size = sizeof buf;
    int rc = get_sysfs_attr(dir, attr, buf, &size);
    if (rc != HW_OK)
        return rc;
    va_list ap;
    va_start(ap, format);
    int n = std::vsscanf(buf, format, ap);
    va_end(ap);
    return n >= 1 ? HW_OK : HW_ERR_IO;
}

void *load_chunk(const char *path, uint64_t offset, size_t size)
{
    if (!path)
        return nullptr;
    ic_util::unique_fd fd(ic_sys_open(path, O_RDONLY, 0));
    if (!fd.valid())
        return nullptr;
    void *chunk = std::malloc(size ? size : 1);
    if (chunk && ic_sys_phys_copy(fd.get(), offset, chunk, size) != IC_SYS_OK) {
        std::free(chunk);
        return nullptr;
    }
    return chunk;
}

void unload_chunk(void *chunk)
{
    std::free(chunk);
}

char *alloc_sprintf(const char *format, ...)
{
    size_t size = 64;
    for (;;) {
        char *s = static_cast<char *>(std::malloc(size));
        if (!s)
            return nullptr;
        va_list ap;
        va_start(ap, format);
        int n = std::vsnprintf(s, size, format, ap);
        va_end(ap);
        if (n < 0) {
            std::free(s);
            return nullptr;
        }
        if (size_t(n) < size)
            return s;
        std::free(s);
        size = size_t(n) + 1;
    }
}
