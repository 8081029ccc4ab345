/*
 * rbuf.h - bounded read cursor over a byte image written with wbuf.h.
 *
 * A read that does not fit in the remaining bytes returns IC_ERR_IO and
 * leaves the cursor where it was: reads are never partial.  IC_ERR_NOMEM
 * (the allocating reads) also leaves the cursor unchanged.  A null argument
 * gives IC_ERR_INVAL.  Pointers handed out point into the buffer and are
 * neither aligned nor terminated.
 */
#ifndef IC_UTIL_RBUF_H
#define IC_UTIL_RBUF_H

#include <stddef.h>
#include <stdint.h>

struct rbuf {
    const uint8_t *data; /* not owned unless finalised with the free flag */
    uint32_t size;
    uint32_t pos;        /* next byte to read */
};

/* Position 0 over size bytes at data. */
void rb_init(rbuf *rb, const void *data, uint32_t size);

/* Frees the data (with free()) when free_flag is non-zero; clears the cursor. */
void rb_finalize(rbuf *rb, int free_flag);

/* Copies n bytes to dst and advances. */
int rb_read(rbuf *rb, void *dst, uint32_t n);

/* Points *ptr at the next n bytes and advances. */
int rb_get_ptr(rbuf *rb, uint32_t n, const uint8_t **ptr);

/* u16 length, then *ptr points at that many bytes (not terminated). */
int rb_read_str(rbuf *rb, const char **ptr, uint16_t *len);

/* u16 count, then *ptr points at 2 * count bytes: little-endian units. */
int rb_read_u16str(rbuf *rb, const uint8_t **ptr, uint16_t *count);

/* As rb_read_str, into a new malloc'ed NUL-terminated copy. */
int rb_read_and_alloc_zstr(rbuf *rb, char **str);

/* As rb_read_u16str, into a new malloc'ed copy in host order with a 0 unit
 * appended (2 * count + 2 bytes). */
int rb_read_and_alloc_u16zstr(rbuf *rb, uint16_t **str);

/* Fixed-width little-endian integers. */
int rb_read_u8(rbuf *rb, uint8_t *v);
int rb_read_u16(rbuf *rb, uint16_t *v);
int rb_read_u32(rbuf *rb, uint32_t *v);
int rb_read_u64(rbuf *rb, uint64_t *v);

/* Bytes not yet read. */
static inline uint32_t rb_remaining(const rbuf *rb)
{
    return rb->size - rb->pos;
}

#endif
