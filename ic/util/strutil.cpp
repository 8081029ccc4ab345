// Small string and memory helpers.
#include "ic/util/strutil.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

size_t ic_util_strpcpy(char **dst, size_t size, const char *src)
{
    if (size == 0)
        return 0;
    size_t len = std::strlen(src);
    if (len < size) {
        std::memcpy(*dst, src, len + 1);
        *dst += len;
        return size - len;
    }
    std::memcpy(*dst, src, size - 1);
    *dst += size - 1;
    **dst = '\0';
    return 0;
}

size_t ic_util_strscpyl(char *dst, size_t size, const char *src, ...)
{
    if (size == 0)
        return 0;
    *dst = '\0';
    va_list ap;
    va_start(ap, src);
    for (const char *s = src; s && size; s = va_arg(ap, const char *))
        size = ic_util_strpcpy(&dst, size, s);
    va_end(ap);
    return size;
}

char *ic_util_dupstrs(const char *str, ...)
{
    size_t total = 0;
    va_list ap;
    va_start(ap, str);
    for (const char *s = str; s; s = va_arg(ap, const char *)) {
        size_t len = std::strlen(s);
        if (len > SIZE_MAX - 1 - total) {
            va_end(ap);
            return nullptr;
        }
        total += len;
    }
    va_end(ap);

    char *out = static_cast<char *>(std::malloc(total + 1));
    if (!out)
        return nullptr;
    char *p = out;
    va_start(ap, str);
    for (const char *s = str; s; s = va_arg(ap, const char *)) {
        size_t len = std::strlen(s);
        std::memcpy(p, s, len);
        p += len;
    }
    va_end(ap);
    *p = '\0';
    return out;
}

void *ic_util_zalloc(size_t size)
{
    return std::calloc(1, size ? size : 1);
}
