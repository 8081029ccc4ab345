// GOST R 34.11-94 block loop in plain C++, and the choice of the variant.
#include "gost_r3411_94_step.h"

namespace gost {
namespace {

// ---------------------------------------------------------------------------
// Key generation. The 256-bit values U, V, W are kept as four 64-bit words
// (y1..y4 of the standard, y1 least significant), so A is a word rotation.

struct Block64 {
    uint64_t w[4];
};

inline Block64 transform_a(const Block64 &y) {
    return {{y.w[1], y.w[2], y.w[3], y.w[0] ^ y.w[1]}};
}

inline Block64 transform_aa(const Block64 &y) {
    return {{y.w[2], y.w[3], y.w[0] ^ y.w[1], y.w[1] ^ y.w[2]}};
}

// P: byte 8i+k of W goes to byte i+4k of the key, so key word k is made of
// byte k of each 64-bit row of W: a 4x8 byte transpose, done in two
// interleaving steps on 64-bit words.
inline void transform_p(const Block64 &w, uint32_t key[8]) {
    constexpr uint64_t m8 = 0x00ff00ff00ff00ffull;
    constexpr uint64_t m16 = 0x0000ffff0000ffffull;
    // 16-bit lanes: a holds (row0, row1) bytes 0,2,4,6; b bytes 1,3,5,7; c, d likewise for rows 2, 3.
    const uint64_t a = (w.w[0] & m8) | ((w.w[1] & m8) << 8);
    const uint64_t b = ((w.w[0] >> 8) & m8) | (w.w[1] & ~m8);
    const uint64_t c = (w.w[2] & m8) | ((w.w[3] & m8) << 8);
    const uint64_t d = ((w.w[2] >> 8) & m8) | (w.w[3] & ~m8);
    // 32-bit lanes: key words (0, 4), (2, 6), (1, 5), (3, 7).
    const uint64_t k04 = (a & m16) | ((c & m16) << 16);
    const uint64_t k26 = ((a >> 16) & m16) | (c & ~m16);
    const uint64_t k15 = (b & m16) | ((d & m16) << 16);
    const uint64_t k37 = ((b >> 16) & m16) | (d & ~m16);
    key[0] = uint32_t(k04);
    key[4] = uint32_t(k04 >> 32);
    key[1] = uint32_t(k15);
    key[5] = uint32_t(k15 >> 32);
    key[2] = uint32_t(k26);
    key[6] = uint32_t(k26 >> 32);
    key[3] = uint32_t(k37);
    key[7] = uint32_t(k37 >> 32);
}

inline Block64 xor64(const Block64 &x, const Block64 &y) {
    return {{x.w[0] ^ y.w[0], x.w[1] ^ y.w[1], x.w[2] ^ y.w[2], x.w[3] ^ y.w[3]}};
}

inline void make_keys(const uint32_t h[8], const unsigned char *block, uint32_t key[4][8]) {
    Block64 u = {{h[0] | uint64_t(h[1]) << 32, h[2] | uint64_t(h[3]) << 32, h[4] | uint64_t(h[5]) << 32,
                  h[6] | uint64_t(h[7]) << 32}};
    Block64 v = {{load_le64(block), load_le64(block + 8), load_le64(block + 16), load_le64(block + 24)}};
    transform_p(xor64(u, v), key[0]);
    u = transform_a(u);
    v = transform_aa(v);
    transform_p(xor64(u, v), key[1]);
    u = xor64(transform_a(u), Block64{{kC3[0], kC3[1], kC3[2], kC3[3]}});
    v = transform_aa(v);
    transform_p(xor64(u, v), key[2]);
    u = transform_a(u);
    v = transform_aa(v);
    transform_p(xor64(u, v), key[3]);
}

// f(H, M) with the message block M read in place from 32 bytes.
void step(uint32_t h[8], const unsigned char *block, SBoxTables T) {
    uint32_t key[4][8];
    make_keys(h, block, key);
    uint32_t s[8];
    // One round: four lookups and three XORs, rotation included in the tables.
    encrypt4(h, key, s, [T](uint32_t src, uint32_t &dst, uint32_t k) {
        const uint32_t t = src + k;
        dst ^= T[0][t & 0xff] ^ T[1][(t >> 8) & 0xff] ^ T[2][(t >> 16) & 0xff] ^ T[3][t >> 24];
    });
    mix_words(h, s, block);
}

// sum += block as 256-bit numbers, the carry out of the top discarded.
void add256(uint32_t sum[8], const unsigned char *block) {
    uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        carry += uint64_t(sum[i]) + load_le32(block + 4 * i);
        sum[i] = uint32_t(carry);
        carry >>= 32;
    }
}

}  // namespace

__attribute__((flatten)) void block_loop_portable(uint32_t hash[8], uint32_t sum[8], const unsigned char *p,
                                                  size_t count, SBoxTables table) {
    run_blocks<add256, step>(hash, sum, p, count, table);
}

size_t block_loop_variants(BlockLoopVariant *out, size_t max) {
    BlockLoopVariant all[3];
    size_t n = 0;
    all[n++] = {"portable", block_loop_portable};
#ifdef GOST_R3411_94_X86_64
    all[n++] = {"x86-64", block_loop_x86_64};
    __builtin_cpu_init();
    if (__builtin_cpu_supports("ssse3")) all[n++] = {"x86-64 ssse3", block_loop_x86_64_ssse3};
#endif
    for (size_t i = 0; i < n && i < max; ++i) out[i] = all[i];
    return n;
}

BlockLoop block_loop() {
    static const BlockLoop chosen = [] {
        BlockLoopVariant v[3];
        const size_t n = block_loop_variants(v, 3);
        return v[n - 1].run;
    }();
    return chosen;
}

}  // namespace gost
