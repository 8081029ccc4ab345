// Little-endian integer access for the stored formats.
#ifndef ORVA_PLATFORM_BYTES_H
#define ORVA_PLATFORM_BYTES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orva_sim {

using Bytes = std::vector<uint8_t>;

inline uint16_t get_u16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t get_u32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t get_u64(const uint8_t *p)
{
    return static_cast<uint64_t>(get_u32(p)) | (static_cast<uint64_t>(get_u32(p + 4)) << 32);
}

inline void put_u16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void put_u32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void put_u64(uint8_t *p, uint64_t v)
{
    put_u32(p, static_cast<uint32_t>(v));
    put_u32(p + 4, static_cast<uint32_t>(v >> 32));
}

inline void append_u16(Bytes &b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

inline void append_u32(Bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void append_u64(Bytes &b, uint64_t v)
{
    append_u32(b, static_cast<uint32_t>(v));
    append_u32(b, static_cast<uint32_t>(v >> 32));
}

// Sequential reader over a byte range; every take fails once past the end.
class Reader {
public:
    Reader(const uint8_t *data, size_t size) : p_(data), left_(size) {}
    bool u8(uint8_t &v) { return take(1) ? (v = p_[-1], true) : false; }
    bool u16(uint16_t &v) { return take(2) ? (v = get_u16(p_ - 2), true) : false; }
    bool u32(uint32_t &v) { return take(4) ? (v = get_u32(p_ - 4), true) : false; }
    bool u64(uint64_t &v) { return take(8) ? (v = get_u64(p_ - 8), true) : false; }
    const uint8_t *bytes(size_t n) { return take(n) ? p_ - n : nullptr; }
    size_t left() const { return left_; }

private:
    bool take(size_t n)
    {
        if (n > left_)
            return false;
        p_ += n;
        left_ -= n;
        return true;
    }
    const uint8_t *p_;
    size_t left_;
};

} // namespace orva_sim

#endif
