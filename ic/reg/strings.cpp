// UTF-16 strings: length, copies, case-insensitive comparison, UTF-8 conversion.
#include "ic/reg/reg.h"
#include "upcase.h"

#include <cstdlib>
#include <cstring>

size_t reg_u16strlen(const reg_char *s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

reg_char *reg_u16strdup(const reg_char *s)
{
    size_t n = reg_u16strlen(s);
    auto *copy = static_cast<reg_char *>(std::malloc((n + 1) * sizeof(reg_char)));
    if (copy)
        std::memcpy(copy, s, (n + 1) * sizeof(reg_char));
    return copy;
}

reg_char reg_u16uppercase(reg_char c)
{
    return reg_upcase(c);
}

int reg_u16strncasecmp2(const reg_char *a, size_t alen, const reg_char *b, size_t blen)
{
    while (alen && a[alen - 1] == 0)
        --alen;
    while (blen && b[blen - 1] == 0)
        --blen;
    size_t n = alen < blen ? alen : blen;
    for (size_t i = 0; i < n; ++i) {
        reg_char ua = reg_upcase(a[i]), ub = reg_upcase(b[i]);
        if (ua != ub)
            return ua < ub ? -1 : 1;
    }
    return alen == blen ? 0 : (alen < blen ? -1 : 1);
}

int reg_u16strcasecmp(const reg_char *a, const reg_char *b)
{
    return reg_u16strncasecmp2(a, reg_u16strlen(a), b, reg_u16strlen(b));
}

void __reg_decompress_str(reg_char *buffer, size_t length)
{
    // The bytes sit at the start of the buffer; widen from the end.
    const auto *bytes = reinterpret_cast<const uint8_t *>(buffer);
    for (size_t i = length; i-- > 0;)
        buffer[i] = bytes[i];
}

namespace {

// Next code point of s at *pos; -2 when malformed.
long decode_utf8(const unsigned char *s, size_t *pos)
{
    unsigned char c = s[*pos];
    if (c < 0x80) {
        ++*pos;
        return c;
    }
    int extra;
    long cp;
    if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        cp = c & 0x07;
    } else {
        return -2;
    }
    for (int i = 1; i <= extra; ++i) {
        unsigned char d = s[*pos + i];
        if ((d & 0xC0) != 0x80)
            return -2; // also the terminator: a truncated sequence
        cp = (cp << 6) | (d & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF
        || (cp >= 0xD800 && cp <= 0xDFFF))
        return -2;
    *pos += size_t(extra) + 1;
    return cp;
}

// Next code point of s at *pos (an unpaired surrogate stands for itself).
unsigned long decode_utf16(const reg_char *s, size_t *pos)
{
    unsigned long c = s[(*pos)++];
    if (c >= 0xD800 && c <= 0xDBFF && s[*pos] >= 0xDC00 && s[*pos] <= 0xDFFF)
        c = 0x10000 + ((c - 0xD800) << 10) + (s[(*pos)++] - 0xDC00);
    return c;
}

size_t utf8_length(unsigned long cp)
{
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

} // namespace

int reg_utf8_to_utf16_size(const char *s)
{
    const auto *u = reinterpret_cast<const unsigned char *>(s);
    size_t pos = 0, units = 1;
    while (u[pos]) {
        long cp = decode_utf8(u, &pos);
        if (cp < 0)
            return -2;
        units += cp > 0xFFFF ? 2 : 1;
        if (units > 0x7FFFFFFF)
            return -2;
    }
    return int(units);
}

int reg_utf8_to_utf16(const char *s, reg_char *out, size_t units)
{
    const auto *u = reinterpret_cast<const unsigned char *>(s);
    size_t pos = 0, n = 0;
    while (u[pos]) {
        long cp = decode_utf8(u, &pos);
        if (cp < 0)
            return -2;
        size_t need = cp > 0xFFFF ? 2 : 1;
        if (n + need + 1 > units)
            return -1;
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            out[n++] = reg_char(0xD800 + (cp >> 10));
            out[n++] = reg_char(0xDC00 + (cp & 0x3FF));
        } else {
            out[n++] = reg_char(cp);
        }
    }
    if (n + 1 > units)
        return -1;
    out[n++] = 0;
    return int(n);
}

int reg_utf16_to_utf8_size(const reg_char *s)
{
    size_t pos = 0, bytes = 1;
    while (s[pos]) {
        bytes += utf8_length(decode_utf16(s, &pos));
        if (bytes > 0x7FFFFFFF)
            return -2;
    }
    return int(bytes);
}

int reg_utf16_to_utf8(const reg_char *s, char *out, size_t bytes)
{
    size_t pos = 0, n = 0;
    while (s[pos]) {
        unsigned long cp = decode_utf16(s, &pos);
        size_t len = utf8_length(cp);
        if (n + len + 1 > bytes)
            return -1;
        auto *o = reinterpret_cast<unsigned char *>(out) + n;
        switch (len) {
        case 1: o[0] = static_cast<unsigned char>(cp); break;
        case 2: o[0] = static_cast<unsigned char>(0xC0 | (cp >> 6)); o[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F)); break;
        case 3:
            o[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
            o[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            o[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            break;
        default:
            o[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
            o[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
            o[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            o[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            break;
        }
        n += len;
    }
    if (n + 1 > bytes)
        return -1;
    out[n++] = 0;
    return int(n);
}

int reg_utf8_to_utf16_alloc(const char *s, reg_char **out)
{
    if (!s || !out)
        return REG_ERR_INVAL;
    int units = reg_utf8_to_utf16_size(s);
    if (units < 0)
        return REG_ERR_INVAL;
    auto *buf = static_cast<reg_char *>(std::malloc(size_t(units) * sizeof(reg_char)));
    if (!buf)
        return REG_ERR_NOMEM;
    reg_utf8_to_utf16(s, buf, size_t(units));
    *out = buf;
    return REG_OK;
}

int reg_utf16_to_utf8_alloc(const reg_char *s, char **out)
{
    if (!s || !out)
        return REG_ERR_INVAL;
    int bytes = reg_utf16_to_utf8_size(s);
    if (bytes < 0)
        return REG_ERR_INVAL;
    auto *buf = static_cast<char *>(std::malloc(size_t(bytes)));
    if (!buf)
        return REG_ERR_NOMEM;
    reg_utf16_to_utf8(s, buf, size_t(bytes));
    *out = buf;
    return REG_OK;
}

void reg_free_string(reg_char *s)
{
    std::free(s);
}

void reg_free_string_u8(char *s)
{
    std::free(s);
}

void reg_free_name(reg_char *name)
{
    std::free(name);
}
