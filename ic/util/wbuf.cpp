// Growable write buffer.
#include "ic/util/wbuf.h"

#include "ic/util/le.h"
#include "ic/util/result.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t default_capacity = 64;

// Makes room for n more bytes: when length + n exceeds the capacity the
// buffer becomes 2 * (length + n) bytes (or as close as 32 bits allow).
int reserve(wbuf *wb, uint64_t n)
{
    uint64_t needed = uint64_t(wb->length) + n;
    if (needed <= wb->capacity)
        return IC_OK;
    if (needed > UINT32_MAX)
        return IC_ERR_NOMEM;
    uint64_t capacity = needed * 2;
    if (capacity > UINT32_MAX)
        capacity = UINT32_MAX;
    void *data = std::realloc(wb->data, capacity);
    if (!data)
        return IC_ERR_NOMEM;
    wb->data = static_cast<uint8_t *>(data);
    wb->capacity = static_cast<uint32_t>(capacity);
    return IC_OK;
}

void put(wbuf *wb, const void *src, uint32_t n)
{
    if (n)
        std::memcpy(wb->data + wb->length, src, n);
    wb->length += n;
}

void put_le16(wbuf *wb, uint16_t v)
{
    uint8_t b[2];
    ic_store_le(b, v, 2);
    put(wb, b, 2);
}

int write_le(wbuf *wb, uint64_t v, unsigned width)
{
    if (!wb)
        return IC_ERR_INVAL;
    uint8_t b[8];
    ic_store_le(b, v, width);
    int ret = reserve(wb, width);
    if (ret == IC_OK)
        put(wb, b, width);
    return ret;
}

} // namespace

int wb_init(wbuf *wb, uint32_t initial_capacity)
{
    if (!wb)
        return IC_ERR_INVAL;
    uint32_t capacity = initial_capacity ? initial_capacity : default_capacity;
    wb->data = static_cast<uint8_t *>(std::malloc(capacity));
    wb->length = 0;
    if (!wb->data) {
        wb->capacity = 0;
        return IC_ERR_NOMEM;
    }
    wb->capacity = capacity;
    return IC_OK;
}

int wb_write(wbuf *wb, const void *src, uint32_t n)
{
    if (!wb || (!src && n))
        return IC_ERR_INVAL;
    // src may lie inside the buffer itself; find it again after a move.
    const uint8_t *s = static_cast<const uint8_t *>(src);
    bool inside = wb->data && s >= wb->data && s < wb->data + wb->length;
    size_t offset = inside ? size_t(s - wb->data) : 0;
    int ret = reserve(wb, n);
    if (ret != IC_OK)
        return ret;
    put(wb, inside ? wb->data + offset : s, n);
    return IC_OK;
}

int wb_write_str(wbuf *wb, const char *str)
{
    if (!wb || !str)
        return IC_ERR_INVAL;
    size_t len = std::strlen(str);
    if (len > UINT16_MAX)
        return IC_ERR_INVAL;
    int ret = reserve(wb, 2 + len);
    if (ret != IC_OK)
        return ret;
    put_le16(wb, uint16_t(len));
    put(wb, str, uint32_t(len));
    return IC_OK;
}

int wb_write_u16str(wbuf *wb, const uint16_t *u16str)
{
    if (!wb || !u16str)
        return IC_ERR_INVAL;
    size_t count = 0;
    while (u16str[count] != 0) {
        if (++count > UINT16_MAX)
            return IC_ERR_INVAL;
    }
    int ret = reserve(wb, 2 + 2 * count);
    if (ret != IC_OK)
        return ret;
    put_le16(wb, uint16_t(count));
    for (size_t i = 0; i < count; ++i)
        put_le16(wb, u16str[i]);
    return IC_OK;
}

int wb_write_u8(wbuf *wb, uint8_t v)
{
    return write_le(wb, v, 1);
}

int wb_write_u16(wbuf *wb, uint16_t v)
{
    return write_le(wb, v, 2);
}

int wb_write_u32(wbuf *wb, uint32_t v)
{
    return write_le(wb, v, 4);
}

int wb_write_u64(wbuf *wb, uint64_t v)
{
    return write_le(wb, v, 8);
}

uint8_t *wb_finalize(wbuf *wb, int free_flag)
{
    if (!wb)
        return nullptr;
    uint8_t *data = wb->data;
    wb->data = nullptr;
    wb->capacity = 0;
    if (free_flag) {
        std::free(data);
        wb->length = 0;
        return nullptr;
    }
    return data;
}
