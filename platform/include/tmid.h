/*
 * tmid.h - interface of the touch-memory identifier library (libtmid.so.0).
 *
 * Calls return TMID_OK (0) or one of the TMID_E_* codes. The reader and the
 * identifiers' memory live in the module's state directory ($ORVA_SIM_DIR,
 * else /var/lib/orva-sim), so an identifier presented by another process is
 * seen at the next tmid_get_id_list.
 */
#ifndef TMID_H
#define TMID_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TMID_OK               0
#define TMID_E_NOT_INITIALISED 7601 /* tmid_init has not been called */
#define TMID_E_NO_READER      7602 /* no reader: the state directory is missing */
#define TMID_E_INVALID_ARG    7603 /* null pointer, page out of range, bad count */
#define TMID_E_ABSENT         7604 /* the identifier is not on the reader */
#define TMID_E_IO             7605 /* the reader or the identifier memory failed */
#define TMID_E_NOMEM          7606 /* out of memory */
#define TMID_E_CORRUPT        7607 /* stored reader or memory data is damaged */

#define TMID_ID_SIZE          8
#define TMID_PAGE_SIZE        32
#define TMID_PAGE_COUNT       256   /* pages 0..255 */

/* Descriptor state word. */
#define TMID_STATE_UNINITIALISED 1
#define TMID_STATE_INITIALISED   2

#pragma pack(push, 1)
/* 16-byte descriptor of a presented identifier. */
typedef struct tmid_descriptor {
    uint32_t state;              /* 0: TMID_STATE_* */
    uint8_t id[TMID_ID_SIZE];    /* 4: family code, six serial bytes, CRC-8 */
    uint32_t reader;             /* 12: reader number, 0 for the first */
} tmid_descriptor;
#pragma pack(pop)

int tmid_init(void);
int tmid_exit(void);

/* The identifiers on the reader, in the order they were presented.
 * *list receives a malloc'ed array the caller frees with free(); it is null
 * when *count is 0. */
int tmid_get_id_list(tmid_descriptor **list, int *count);

/* Memory pages of a presented identifier: count pages of TMID_PAGE_SIZE bytes
 * from page `page` on. TMID_E_ABSENT unless the identifier is on the reader;
 * TMID_E_INVALID_ARG when page + count passes TMID_PAGE_COUNT. A page never
 * written reads as 0xFF bytes. */
int tmid_read_page(const uint8_t id[TMID_ID_SIZE], int page, int count, uint8_t *data);
int tmid_write_page(const uint8_t id[TMID_ID_SIZE], int page, int count, const uint8_t *data);

/* The 1-Wire CRC-8 (polynomial x^8 + x^5 + x^4 + 1) of the first 7 bytes,
 * the check byte of a valid identifier. */
uint8_t tmid_crc8(const uint8_t *data, int length);

#ifdef __cplusplus
}
static_assert(sizeof(tmid_descriptor) == 16, "descriptor is 16 bytes");
#endif

#endif /* TMID_H */
