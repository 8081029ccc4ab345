#include "gost_r3411_94_params.h"

namespace gost {
namespace {

using SBoxes = uint8_t[8][16];

// S-boxes 1..8; S-box 1 acts on the least significant nibble.
// GOST R 34.11-94 test parameter set (the standard's example).
constexpr SBoxes kTestSBoxes = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};

// id-GostR3411-94-CryptoProParamSet (RFC 4357).
constexpr SBoxes kCryptoProSBoxes = {
    {10, 4, 5, 6, 8, 1, 3, 7, 13, 12, 14, 0, 9, 2, 11, 15},
    {5, 15, 4, 0, 2, 13, 11, 9, 1, 7, 6, 3, 12, 14, 10, 8},
    {7, 15, 12, 14, 9, 4, 1, 0, 3, 11, 5, 2, 6, 10, 8, 13},
    {4, 10, 7, 12, 0, 15, 2, 8, 14, 1, 6, 5, 13, 11, 9, 3},
    {7, 6, 4, 11, 9, 12, 2, 10, 1, 8, 0, 14, 15, 13, 3, 5},
    {7, 6, 2, 4, 13, 9, 15, 0, 10, 1, 5, 11, 8, 14, 12, 3},
    {13, 14, 4, 1, 7, 0, 5, 10, 3, 12, 8, 15, 6, 2, 9, 11},
    {1, 3, 10, 9, 5, 11, 4, 15, 8, 6, 7, 14, 13, 0, 2, 12},
};

constexpr uint32_t rotl11(uint32_t x) { return (x << 11) | (x >> 21); }

constexpr gost_r3411_94_params make_params(const SBoxes &s) {
    gost_r3411_94_params p{};
    for (int k = 0; k < 4; ++k) {
        for (uint32_t b = 0; b < 256; ++b) {
            const uint32_t sub = uint32_t(s[2 * k][b & 15]) | uint32_t(s[2 * k + 1][b >> 4]) << 4;
            p.table[k][b] = rotl11(sub << (8 * k));
        }
    }
    // Both published sets start from the zero vector.
    for (uint32_t &w : p.start) w = 0;
    return p;
}

}  // namespace

constexpr gost_r3411_94_params kParamSets[kParamSetCount] = {
    make_params(kTestSBoxes),
    make_params(kCryptoProSBoxes),
};

}  // namespace gost
