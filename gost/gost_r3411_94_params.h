// Parameter sets of the GOST R 34.11-94 hash: the GOST 28147-89 S-boxes
// merged with the round function's 11-bit rotation into four byte tables.
#ifndef GOST_R3411_94_PARAMS_H
#define GOST_R3411_94_PARAMS_H

#include <cstdint>

struct gost_r3411_94_params {
    // table[k][b]: byte b through S-boxes 2k+1 (low nibble) and 2k+2 (high
    // nibble), placed in byte k and rotated left by 11 bits.
    uint32_t table[4][256];
    uint32_t start[8];  // initial hash state
};

namespace gost {

constexpr int kParamSetCount = 2;
extern const gost_r3411_94_params kParamSets[kParamSetCount];

}  // namespace gost

#endif
