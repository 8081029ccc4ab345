/*
 * gost_r3410.h - GOST R 34.10-2001 private keys and GOST R 34.10-94 public keys.
 */
#ifndef GOST_GOST_R3410_H
#define GOST_GOST_R3410_H

#ifdef __cplusplus
extern "C" {
#endif

/* Curves for private-key generation. */
#define GOST_R3410_01_TEST        1 /* id-GostR3410-2001-TestParamSet */
#define GOST_R3410_01_CRYPTOPRO_A 2 /* id-GostR3410-2001-CryptoPro-A-ParamSet */

#define GOST_R3410_01_KEY_SIZE    32
#define GOST_R3410_94_PRIVATE_SIZE 32 /* magnitude bytes of x */
#define GOST_R3410_94_PUBLIC_SIZE  64 /* magnitude bytes of y */

/* Result codes of the key operations. */
#define GOST_KEY_OK          0
#define GOST_KEY_E_CURVE    -1 /* unknown curve number */
#define GOST_KEY_E_BN_READ  -2 /* a number cannot be read (or big-number memory) */
#define GOST_KEY_E_BN_WRITE -3 /* a number cannot be written */
#define GOST_KEY_E_ARG      -4 /* null buffer or random source */
#define GOST_KEY_E_RANDOM   -5 /* the random source reported a failure */
#define GOST_KEY_E_DRAWS    -6 /* no value in range after GOST_R3410_01_MAX_DRAWS draws */

#define GOST_R3410_01_MAX_DRAWS 64

/* Fills length bytes of buffer with random data; 0 on success. */
typedef int (*gost_random_source)(unsigned char *buffer, unsigned int length);
/* The same with a caller's argument (a module handle, for instance). */
typedef int (*gost_random_source_ex)(void *arg, unsigned char *buffer, unsigned int length);

/* Draws 32 random bytes until, read as a big-endian number d, 0 < d < q
 * (the curve's group order), and writes them to key. key is untouched on
 * failure. */
int gost_r3410_01_generate_private_key(unsigned char *key, int curve, gost_random_source random);
int gost_r3410_01_generate_private_key_ex(unsigned char *key, int curve,
                                          gost_random_source_ex random, void *arg);

/*
 * Numbers of the GOST R 34.10-94 operations: one length byte n, then n bytes
 * of the magnitude, least significant first.
 *
 * y = a^x mod p with the GOST R 34.10-94 test parameters. x is a number
 * (length byte 32 for a private key); y receives length byte 64 and 64
 * bytes, so it must hold 65 bytes.
 */
int gost_r3410_94_compute_public_key(const unsigned char *x, unsigned char *y);

/* Whether public_key (64 bytes, as stored in a user record) is the
 * GOST R 34.10-94 public key of private_key (32 bytes, as stored): 0 when it
 * is, 1 when it is not, a negative GOST_KEY_E_* code when it cannot be
 * computed. */
int gost_r3410_94_check_key_pair(const unsigned char *private_key, const unsigned char *public_key);

#ifdef __cplusplus
}
#endif

#endif
