#include "auth/user_key.h"

namespace user_key {

void serial_derived_key(const orva_tmid &tmid, uint8_t key[ORVA_PRIVATE_KEY_SIZE])
{
    uint32_t x = static_cast<uint32_t>(tmid.serial[0]) | static_cast<uint32_t>(tmid.serial[1]) << 8 |
                 static_cast<uint32_t>(tmid.serial[2]) << 16 | static_cast<uint32_t>(tmid.serial[3]) << 24;
    for (int i = 0; i < ORVA_PRIVATE_KEY_SIZE; ++i) {
        x = x * 134775813u + 1u;
        key[i] = static_cast<uint8_t>(x >> 24);
    }
}

} // namespace user_key
