// Simple upper-case mapping of UTF-16 units (table generated from Unicode data).
#ifndef IC_REG_UPCASE_H
#define IC_REG_UPCASE_H

#include <stdint.h>

extern const uint16_t reg_upcase_table[];
extern const unsigned reg_upcase_table_size;

static inline uint16_t reg_upcase(uint16_t c)
{
    return uint16_t(c + reg_upcase_table[reg_upcase_table[c >> 8] + (c & 0xFFu)]);
}

#endif
