/*
 * le.h - little-endian integers in byte images, whatever the host's order.
 */
#ifndef IC_UTIL_LE_H
#define IC_UTIL_LE_H

#include <stddef.h>
#include <stdint.h>

/* The width bytes at p (1 to 8) as an unsigned number, lowest byte first. */
static inline uint64_t ic_load_le(const uint8_t *p, unsigned width)
{
    uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i)
        v |= uint64_t(p[i]) << (8 * i);
    return v;
}

/* Stores the low width bytes of v at p, lowest byte first. */
static inline void ic_store_le(uint8_t *p, uint64_t v, unsigned width)
{
    for (unsigned i = 0; i < width; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

static inline uint16_t ic_le16(const uint8_t *p)
{
    return uint16_t(ic_load_le(p, 2));
}

static inline uint32_t ic_le32(const uint8_t *p)
{
    return uint32_t(ic_load_le(p, 4));
}

#endif
