// The identification/authentication block handed to the operating system
// (orva_save_ia_data), 112 bytes. It starts zeroed.
#ifndef ORVA_MODULE_IA_BLOCK_H
#define ORVA_MODULE_IA_BLOCK_H

#include <orva.h>

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct orva_ia_block {
    char name[ORVA_NAME_SIZE];                   //   0
    uint8_t password[13];                        //  13 class 1: length byte and 12 characters;
                                                 //     class 2: 13 characters
    orva_tmid tmid;                              //  26
    uint8_t user_key[ORVA_PRIVATE_KEY_SIZE];     //  34 user secret key
    uint8_t ws_key[ORVA_PRIVATE_KEY_SIZE];       //  66 workstation private key
    uint8_t unused_98[6];                        //  98
    uint8_t user_number;                         // 104 never filled by the program
    uint8_t access_level;                        // 105 never filled by the program
    uint8_t unused_106[2];                       // 106
    uint8_t os_flags;                            // 108 bit 0: start NIRUN
    uint8_t unused_109[3];                       // 109
};
#pragma pack(pop)

static_assert(sizeof(orva_ia_block) == ORVA_IA_DATA_SIZE, "hand-over block is 112 bytes");
static_assert(offsetof(orva_ia_block, tmid) == 26, "identifier at 26");
static_assert(offsetof(orva_ia_block, ws_key) == 66, "workstation key at 66");
static_assert(offsetof(orva_ia_block, os_flags) == 108, "flags at 108");

// Operating-system flag: start NIRUN.
inline constexpr uint8_t kIaOsStartNirun = 1u << 0;

#endif
