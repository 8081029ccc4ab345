// The user key made for an identifier by the identifier dialog, handed to
// the account editor, which writes it into the identifier (when it has to
// go there) together with the record.
#ifndef ORVA_ACCOUNTS_IDENTIFIER_KEY_H
#define ORVA_ACCOUNTS_IDENTIFIER_KEY_H

#include <orva.h>

#include <cstdint>

struct identifier_key {
    orva_tmid tmid{};
    uint32_t state = 0; // the descriptor's first word
    uint8_t key[ORVA_PRIVATE_KEY_SIZE] = {};
};

#endif
