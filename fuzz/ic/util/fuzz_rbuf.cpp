// Read primitives driven by the input: the first byte says how many of the
// following bytes are operations, the rest is the buffer they read.  Every
// read must either advance by exactly what it consumed or fail with 1 and
// stay put; strings read must write back to the same bytes.
#include <ic/util/rbuf.h>
#include <ic/util/result.h>
#include <ic/util/wbuf.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

// Writes the bytes between two cursor positions again through the writer
// and compares.
void rewrite_matches(const uint8_t *original, uint32_t n, int (*write)(wbuf *, const void *),
                     const void *value)
{
    wbuf wb;
    if (wb_init(&wb, 0) != IC_OK)
        return;
    require(write(&wb, value) == IC_OK);
    require(wb.length == n && std::memcmp(wb.data, original, n) == 0);
    wb_finalize(&wb, 1);
}

int write_str(wbuf *wb, const void *v)
{
    return wb_write_str(wb, static_cast<const char *>(v));
}

int write_u16str(wbuf *wb, const void *v)
{
    return wb_write_u16str(wb, static_cast<const uint16_t *>(v));
}

uint32_t le16(const uint8_t *p)
{
    return uint32_t(p[0] | p[1] << 8);
}

void step(rbuf *rb, uint8_t op)
{
    const uint32_t before = rb->pos;
    const uint8_t *at = rb->data + before;
    const uint32_t left = rb->size - before;
    // Bytes the read takes when it succeeds; more than left means it must
    // fail.
    const uint32_t no_prefix = UINT32_MAX;
    uint32_t need = 0;
    int ret = IC_OK;

    switch (op % 10) {
    case 0: {
        uint8_t v;
        need = 1;
        ret = rb_read_u8(rb, &v);
        if (ret == IC_OK)
            require(v == at[0]);
        break;
    }
    case 1: {
        uint16_t v;
        need = 2;
        ret = rb_read_u16(rb, &v);
        if (ret == IC_OK)
            require(v == le16(at));
        break;
    }
    case 2: {
        uint32_t v;
        need = 4;
        ret = rb_read_u32(rb, &v);
        if (ret == IC_OK)
            require(v == (le16(at) | le16(at + 2) << 16));
        break;
    }
    case 3: {
        uint64_t v;
        need = 8;
        ret = rb_read_u64(rb, &v);
        if (ret == IC_OK)
            require(std::memcmp(&v, at, 8) == 0); // little-endian host
        break;
    }
    case 4: {
        uint8_t dst[32];
        need = op / 10 % 33;
        ret = rb_read(rb, dst, need);
        if (ret == IC_OK)
            require(std::memcmp(dst, at, need) == 0);
        break;
    }
    case 5: {
        const uint8_t *p = nullptr;
        need = op / 10;
        ret = rb_get_ptr(rb, need, &p);
        if (ret == IC_OK)
            require(p == at);
        break;
    }
    case 6: {
        const char *p = nullptr;
        uint16_t len = 0;
        need = left < 2 ? no_prefix : 2 + le16(at);
        ret = rb_read_str(rb, &p, &len);
        if (ret == IC_OK)
            require(reinterpret_cast<const uint8_t *>(p) == at + 2 && len == le16(at));
        break;
    }
    case 7: {
        const uint8_t *p = nullptr;
        uint16_t count = 0;
        need = left < 2 ? no_prefix : 2 + 2 * le16(at);
        ret = rb_read_u16str(rb, &p, &count);
        if (ret == IC_OK)
            require(p == at + 2 && count == le16(at));
        break;
    }
    case 8: {
        char *s = nullptr;
        need = left < 2 ? no_prefix : 2 + le16(at);
        ret = rb_read_and_alloc_zstr(rb, &s);
        if (ret == IC_OK) {
            uint32_t len = le16(at);
            require(s[len] == '\0' && std::memcmp(s, at + 2, len) == 0);
            if (std::strlen(s) == len) // no NUL inside: writes back identically
                rewrite_matches(at, need, write_str, s);
            std::free(s);
        }
        break;
    }
    case 9: {
        uint16_t *s = nullptr;
        need = left < 2 ? no_prefix : 2 + 2 * le16(at);
        ret = rb_read_and_alloc_u16zstr(rb, &s);
        if (ret == IC_OK) {
            uint32_t count = le16(at);
            require(s[count] == 0);
            bool inner_zero = false;
            for (uint32_t i = 0; i < count; ++i) {
                require(s[i] == le16(at + 2 + 2 * i));
                inner_zero |= s[i] == 0;
            }
            if (!inner_zero)
                rewrite_matches(at, need, write_u16str, s);
            std::free(s);
        }
        break;
    }
    }

    if (need <= left)
        require(ret == IC_OK && rb->pos == before + need);
    else
        require(ret == IC_ERR_IO && rb->pos == before);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t ops = data[0] < size - 1 ? data[0] : size - 1;
    const uint8_t *op = data + 1;
    const uint8_t *buf = data + 1 + ops;
    uint32_t buf_size = uint32_t(size - 1 - ops);

    // A copy of exactly the buffer, so that reading past it is caught.
    uint8_t *copy = static_cast<uint8_t *>(std::malloc(buf_size ? buf_size : 1));
    if (!copy)
        return 0;
    if (buf_size)
        std::memcpy(copy, buf, buf_size);
    rbuf rb;
    rb_init(&rb, copy, buf_size);
    for (size_t i = 0; i < ops; ++i) {
        step(&rb, op[i]);
        require(rb.pos <= rb.size);
    }
    rb_finalize(&rb, 1);
    return 0;
}
