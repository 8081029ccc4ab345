/*
 * gost_r3411_94.h - GOST R 34.11-94 hash.
 *
 * A context is created zeroed, initialised with a parameter set, fed with
 * update and closed with final; the digest is the hash state H as eight
 * little-endian 32-bit words, word 0 first (the byte order rhash prints).
 */
#ifndef GOST_GOST_R3411_94_H
#define GOST_GOST_R3411_94_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GOST_R3411_94_DIGEST_SIZE 32
#define GOST_R3411_94_BLOCK_SIZE  32

/* Parameter sets. */
#define GOST_R3411_94_PARAMS_TEST      0 /* id-GostR3411-94-TestParamSet */
#define GOST_R3411_94_PARAMS_CRYPTOPRO 1 /* id-GostR3411-94-CryptoProParamSet */

/* Result codes of the hash operations. */
#define GOST_OK        0
#define GOST_E_IO      1 /* read failure (file helpers) */
#define GOST_E_INVALID 2 /* null pointer, unknown parameter set, uninitialised context */
#define GOST_E_NOMEM   3

struct gost_r3411_94_params;

typedef struct gost_r3411_94_ctx {
    uint32_t sum[8];       /* checksum: sum of the message blocks mod 2^256, low word first */
    uint32_t hash[8];      /* hash state H */
    uint32_t length[8];    /* message length in bits; only words 0 and 1 are used */
    unsigned char buffer[GOST_R3411_94_BLOCK_SIZE];
    uint32_t buffered;     /* bytes in buffer, 0..32 */
    const struct gost_r3411_94_params *params;
} gost_r3411_94_ctx;

/* A new zeroed context, or null when memory is short. */
gost_r3411_94_ctx *gost_r3411_94_create_context(void);
void gost_r3411_94_free_context(gost_r3411_94_ctx *ctx);

/* Clears the context and selects the parameter set. A null context is
 * ignored (GOST_E_INVALID); an unknown set leaves the context cleared and
 * unusable (GOST_E_INVALID). */
int gost_r3411_94_init(gost_r3411_94_ctx *ctx, int param_set);

/* Absorbs length bytes. GOST_E_INVALID for a null or uninitialised context
 * or null data with a non-zero length; nothing is absorbed then. */
int gost_r3411_94_update(gost_r3411_94_ctx *ctx, const void *data, size_t length);

/* Writes the 32-byte digest. The context must be initialised again before
 * it is reused. */
int gost_r3411_94_final(gost_r3411_94_ctx *ctx, unsigned char digest[GOST_R3411_94_DIGEST_SIZE]);

/* One-shot digest of a buffer. */
int gost_r3411_94_digest(int param_set, const void *data, size_t length,
                         unsigned char digest[GOST_R3411_94_DIGEST_SIZE]);

/* Digest of everything readable from fd, read in GOST_R3411_94_FILE_CHUNK
 * byte pieces. GOST_E_IO (errno kept) when a read fails. */
#define GOST_R3411_94_FILE_CHUNK 16384
int gost_r3411_94_digest_fd(int param_set, int fd, unsigned char digest[GOST_R3411_94_DIGEST_SIZE]);

#ifdef __cplusplus
}
#endif

#endif
