// String builder for paths.
#include "ic/util/str_buf.h"

#include "ic/util/result.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct piece {
    const char *str;
    size_t length;
};

// Collects the strings of a list with their lengths (taken before anything
// is written, so the strings may point into the buffer) and adds their
// lengths to *total.  False when out of memory or the total overflows.
bool collect(const char *str, va_list ap, std::vector<piece> *pieces, size_t *total)
{
    try {
        for (const char *s = str; s; s = va_arg(ap, const char *)) {
            size_t len = std::strlen(s);
            if (len >= SIZE_MAX - 1 - *total)
                return false;
            *total += len;
            pieces->push_back({s, len});
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

char *copy_pieces(char *dst, const std::vector<piece> &pieces)
{
    for (const piece &p : pieces) {
        std::memmove(dst, p.str, p.length);
        dst += p.length;
    }
    *dst = '\0';
    return dst;
}

} // namespace

namespace {

// Appends the strings of a list; on failure the buffer is as it was.
int append_list(fs_str_buf *buf, const char *str, va_list ap)
{
    std::vector<piece> pieces;
    size_t total = buf->length;
    if (!collect(str, ap, &pieces, &total))
        return IC_ERR_NOMEM;

    if (total + 1 > buf->capacity) {
        // A new block, so that strings inside the old one stay readable.
        char *s = static_cast<char *>(std::malloc(total + 1));
        if (!s)
            return IC_ERR_NOMEM;
        if (buf->length)
            std::memcpy(s, buf->str, buf->length);
        copy_pieces(s + buf->length, pieces);
        std::free(buf->str);
        buf->str = s;
        buf->capacity = total + 1;
    } else {
        copy_pieces(buf->str + buf->length, pieces);
    }
    buf->length = total;
    return IC_OK;
}

} // namespace

int _fs_str_buf_init(fs_str_buf *buf, const char *str, ...)
{
    // An empty buffer grows to exactly the length needed.
    buf->str = nullptr;
    buf->length = 0;
    buf->capacity = 0;
    va_list ap;
    va_start(ap, str);
    int rc = append_list(buf, str, ap);
    va_end(ap);
    return rc;
}

int _fs_str_buf_append(fs_str_buf *buf, const char *str, ...)
{
    va_list ap;
    va_start(ap, str);
    int rc = append_list(buf, str, ap);
    va_end(ap);
    return rc;
}

void _fs_str_buf_truncate(fs_str_buf *buf, size_t length)
{
    if (buf->str && length < buf->length) {
        buf->length = length;
        buf->str[length] = '\0';
    }
}

void _fs_str_buf_free(fs_str_buf *buf)
{
    std::free(buf->str);
    buf->str = nullptr;
    buf->length = 0;
    buf->capacity = 0;
}
