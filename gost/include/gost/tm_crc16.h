/*
 * tm_crc16.h - CRC-16 protecting key material on a touch-memory identifier.
 */
#ifndef GOST_TM_CRC16_H
#define GOST_TM_CRC16_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* CRC-16 with the reflected polynomial 0xA001 (the CRC-16/ARC table),
 * register initialised to 0x90F1, result complemented. An empty input gives
 * 0x6F0E; null data is taken as empty. */
uint16_t tm_crc16_calc(const unsigned char *data, uint16_t length);

#ifdef __cplusplus
}
#endif

#endif
