// The user secret key of an identifier of family code 0 or 1, derived from
// its serial number (identifiers of higher family codes keep the key in a
// memory page instead).
#ifndef ORVA_AUTH_USER_KEY_H
#define ORVA_AUTH_USER_KEY_H

#include <orva.h>

#include <cstdint>

namespace user_key {

// Seed: serial bytes 1-4 as a little-endian 32-bit number; then 32 times
// x := x * 134775813 + 1 (mod 2^32), each key byte the top 8 bits of x.
void serial_derived_key(const orva_tmid &tmid, uint8_t key[ORVA_PRIVATE_KEY_SIZE]);

} // namespace user_key

#endif
