// Bounded read cursor.
#include "ic/util/rbuf.h"

#include "ic/util/le.h"
#include "ic/util/result.h"

#include <cstdlib>
#include <cstring>

namespace {

// Whether n more bytes can be read.
bool fits(const rbuf *rb, uint64_t n)
{
    return rb->pos <= rb->size && n <= uint64_t(rb->size - rb->pos);
}

int read_le(rbuf *rb, unsigned width, uint64_t *v)
{
    if (!rb || !v)
        return IC_ERR_INVAL;
    if (!fits(rb, width))
        return IC_ERR_IO;
    *v = ic_load_le(rb->data + rb->pos, width);
    rb->pos += width;
    return IC_OK;
}

// Reads a u16 prefix and finds the unit_size * prefix bytes after it,
// without moving the cursor.  On success *end is the position after them.
int peek_prefixed(const rbuf *rb, unsigned unit_size, const uint8_t **ptr, uint16_t *count,
                  uint32_t *end)
{
    if (!fits(rb, 2))
        return IC_ERR_IO;
    uint16_t n = ic_le16(rb->data + rb->pos);
    uint64_t bytes = uint64_t(n) * unit_size;
    if (bytes > uint64_t(rb->size - rb->pos) - 2)
        return IC_ERR_IO;
    *ptr = rb->data + rb->pos + 2;
    *count = n;
    *end = rb->pos + 2 + uint32_t(bytes);
    return IC_OK;
}

} // namespace

void rb_init(rbuf *rb, const void *data, uint32_t size)
{
    if (!rb)
        return;
    rb->data = static_cast<const uint8_t *>(data);
    rb->size = data ? size : 0;
    rb->pos = 0;
}

void rb_finalize(rbuf *rb, int free_flag)
{
    if (!rb)
        return;
    if (free_flag)
        std::free(const_cast<uint8_t *>(rb->data));
    rb->data = nullptr;
    rb->size = 0;
    rb->pos = 0;
}

int rb_read(rbuf *rb, void *dst, uint32_t n)
{
    if (!rb || (!dst && n))
        return IC_ERR_INVAL;
    if (!fits(rb, n))
        return IC_ERR_IO;
    if (n)
        std::memcpy(dst, rb->data + rb->pos, n);
    rb->pos += n;
    return IC_OK;
}

int rb_get_ptr(rbuf *rb, uint32_t n, const uint8_t **ptr)
{
    if (!rb || !ptr)
        return IC_ERR_INVAL;
    if (!fits(rb, n))
        return IC_ERR_IO;
    *ptr = rb->data + rb->pos;
    rb->pos += n;
    return IC_OK;
}

int rb_read_str(rbuf *rb, const char **ptr, uint16_t *len)
{
    if (!rb || !ptr || !len)
        return IC_ERR_INVAL;
    const uint8_t *p;
    uint32_t end;
    int ret = peek_prefixed(rb, 1, &p, len, &end);
    if (ret != IC_OK)
        return ret;
    *ptr = reinterpret_cast<const char *>(p);
    rb->pos = end;
    return IC_OK;
}

int rb_read_u16str(rbuf *rb, const uint8_t **ptr, uint16_t *count)
{
    if (!rb || !ptr || !count)
        return IC_ERR_INVAL;
    uint32_t end;
    int ret = peek_prefixed(rb, 2, ptr, count, &end);
    if (ret != IC_OK)
        return ret;
    rb->pos = end;
    return IC_OK;
}

int rb_read_and_alloc_zstr(rbuf *rb, char **str)
{
    if (!rb || !str)
        return IC_ERR_INVAL;
    const uint8_t *p;
    uint16_t len;
    uint32_t end;
    int ret = peek_prefixed(rb, 1, &p, &len, &end);
    if (ret != IC_OK)
        return ret;
    char *s = static_cast<char *>(std::malloc(size_t(len) + 1));
    if (!s)
        return IC_ERR_NOMEM;
    if (len)
        std::memcpy(s, p, len);
    s[len] = '\0';
    *str = s;
    rb->pos = end;
    return IC_OK;
}

int rb_read_and_alloc_u16zstr(rbuf *rb, uint16_t **str)
{
    if (!rb || !str)
        return IC_ERR_INVAL;
    const uint8_t *p;
    uint16_t count;
    uint32_t end;
    int ret = peek_prefixed(rb, 2, &p, &count, &end);
    if (ret != IC_OK)
        return ret;
    uint16_t *s = static_cast<uint16_t *>(std::malloc(2 * size_t(count) + 2));
    if (!s)
        return IC_ERR_NOMEM;
    for (size_t i = 0; i < count; ++i)
        s[i] = ic_le16(p + 2 * i);
    s[count] = 0;
    *str = s;
    rb->pos = end;
    return IC_OK;
}

int rb_read_u8(rbuf *rb, uint8_t *v)
{
    uint64_t x = 0;
    int ret = read_le(rb, 1, v ? &x : nullptr);
    if (ret == IC_OK)
        *v = uint8_t(x);
    return ret;
}

int rb_read_u16(rbuf *rb, uint16_t *v)
{
    uint64_t x = 0;
    int ret = read_le(rb, 2, v ? &x : nullptr);
    if (ret == IC_OK)
        *v = uint16_t(x);
    return ret;
}

int rb_read_u32(rbuf *rb, uint32_t *v)
{
    uint64_t x = 0;
    int ret = read_le(rb, 4, v ? &x : nullptr);
    if (ret == IC_OK)
        *v = uint32_t(x);
    return ret;
}

int rb_read_u64(rbuf *rb, uint64_t *v)
{
    return read_le(rb, 8, v);
}
