// Marvin32, the 64-bit keyed checksum of transaction-log entries, fed in
// pieces of any length.
#include "reg_internal.h"

namespace {

inline uint32_t rotl(uint32_t x, unsigned k)
{
    return (x << k) | (x >> (32 - k));
}

inline void mix(reg_marvin32 &m, uint32_t block)
{
    uint32_t lo = m.lo + block, hi = m.hi;
    hi ^= lo;
    lo = rotl(lo, 20);
    lo += hi;
    hi = rotl(hi, 9);
    hi ^= lo;
    lo = rotl(lo, 27);
    lo += hi;
    hi = rotl(hi, 19);
    m.lo = lo;
    m.hi = hi;
}

inline uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

void reg_marvin32_init(reg_marvin32 *m, uint64_t seed)
{
    m->lo = uint32_t(seed);
    m->hi = uint32_t(seed >> 32);
    m->tail_len = 0;
}

void reg_marvin32_update(reg_marvin32 *m, const uint8_t *data, size_t n)
{
    // Fewer than 4 bytes wait in the tail between calls.
    unsigned used = m->tail_len & 3u;
    if (used) {
        for (; used < 4 && n; --n)
            m->tail[used++] = *data++;
        if (used < 4) {
            m->tail_len = used;
            return;
        }
        mix(*m, le32(m->tail));
        used = 0;
    }
    for (; n >= 4; data += 4, n -= 4)
        mix(*m, le32(data));
    for (; n; --n)
        m->tail[used++] = *data++;
    m->tail_len = used;
}

uint64_t reg_marvin32_final(reg_marvin32 *m)
{
    // The last 0 to 3 bytes, then a 0x80 byte, as one block.
    uint32_t last = 0x80u << (8 * m->tail_len);
    for (unsigned i = 0; i < m->tail_len; ++i)
        last |= uint32_t(m->tail[i]) << (8 * i);
    mix(*m, last);
    mix(*m, 0);
    return uint64_t(m->hi) << 32 | m->lo;
}

uint64_t reg_marvin32_digest(uint64_t seed, const uint8_t *data, size_t n)
{
    reg_marvin32 m;
    reg_marvin32_init(&m, seed);
    reg_marvin32_update(&m, data, n);
    return reg_marvin32_final(&m);
}
