/*
 * wbuf.h - growable write buffer for the core's byte images.
 *
 * Every byte image is a sequence of little-endian fixed-width integers,
 * strings as a u16 byte length followed by the bytes (no terminator) and
 * 16-bit strings as a u16 unit count followed by the units.
 *
 * All functions return IC_OK, IC_ERR_NOMEM when the buffer cannot grow (the
 * buffer and its contents are then unchanged) or IC_ERR_INVAL for a null
 * argument or a string too long for its u16 prefix (nothing is written).
 * The data is allocated with malloc; whoever owns it releases it with free().
 */
#ifndef IC_UTIL_WBUF_H
#define IC_UTIL_WBUF_H

#include <stddef.h>
#include <stdint.h>

struct wbuf {
    uint8_t *data;     /* owned until wb_finalize */
    uint32_t capacity; /* bytes allocated */
    uint32_t length;   /* bytes written so far */
};

/* Allocates initial_capacity bytes (64 when 0 is given); length 0. */
int wb_init(wbuf *wb, uint32_t initial_capacity);

/* Appends n bytes.  When length + n exceeds the capacity the buffer is
 * reallocated to 2 * (length + n). */
int wb_write(wbuf *wb, const void *src, uint32_t n);

/* u16 strlen(str), then the bytes.  Strings longer than 65535 bytes give
 * IC_ERR_INVAL. */
int wb_write_str(wbuf *wb, const char *str);

/* u16 count of units before the terminating 0 unit, then the units as
 * little-endian pairs.  More than 65535 units give IC_ERR_INVAL. */
int wb_write_u16str(wbuf *wb, const uint16_t *u16str);

/* Fixed-width integers, little-endian whatever the host. */
int wb_write_u8(wbuf *wb, uint8_t v);
int wb_write_u16(wbuf *wb, uint16_t v);
int wb_write_u32(wbuf *wb, uint32_t v);
int wb_write_u64(wbuf *wb, uint64_t v);

/* Ends writing.  free_flag 0: returns the data, now the caller's (its size is
 * wb->length).  Otherwise frees the data and returns null.  The buffer is
 * left without data either way. */
uint8_t *wb_finalize(wbuf *wb, int free_flag);

#endif
