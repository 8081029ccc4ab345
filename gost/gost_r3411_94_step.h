// The block loop of the GOST R 34.11-94 hash (checksum and step function
// f(H, M) per 32-byte block) in the variants this build can run, and what
// they share: byte order, the psi mixing as GF(2) matrices, the round
// schedule of the four encryptions.
#ifndef GOST_R3411_94_STEP_H
#define GOST_R3411_94_STEP_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && !defined(__ILP32__) && defined(__GNUC__)
#define GOST_R3411_94_X86_64 1
#endif

namespace gost {

using SBoxTables = const uint32_t (*)[256];

// Absorbs count whole blocks starting at p: per block, sum += block modulo
// 2^256 and hash := f(hash, block). Words are little-endian, low word first.
using BlockLoop = void (*)(uint32_t hash[8], uint32_t sum[8], const unsigned char *p, size_t count,
                           SBoxTables table);

struct BlockLoopVariant {
    const char *name;
    BlockLoop run;
};

// The fastest variant this processor runs, chosen on the first call.
BlockLoop block_loop();

// The variants this processor runs, the plain C++ one first; returns their
// number (at most max are written).
size_t block_loop_variants(BlockLoopVariant *out, size_t max);

// Plain C++, any processor.
void block_loop_portable(uint32_t hash[8], uint32_t sum[8], const unsigned char *p, size_t count,
                         SBoxTables table);
#ifdef GOST_R3411_94_X86_64
// x86-64: assembler rounds, SSE2 key schedule; the second one mixes with
// SSSE3 byte shuffles and needs a processor that has them.
void block_loop_x86_64(uint32_t hash[8], uint32_t sum[8], const unsigned char *p, size_t count,
                       SBoxTables table);
void block_loop_x86_64_ssse3(uint32_t hash[8], uint32_t sum[8], const unsigned char *p, size_t count,
                             SBoxTables table);
#endif

// ---------------------------------------------------------------------------
// Shared by the variants.

inline uint32_t load_le32(const unsigned char *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

inline uint64_t load_le64(const unsigned char *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// The constant C3 of the standard, as four 64-bit words, low word first.
constexpr uint64_t kC3[4] = {0xff00ff00ff00ff00ull, 0x00ff00ff00ff00ffull, 0xff0000ff00ffff00ull,
                             0xff00ffff000000ffull};

// psi, the linear mixing on sixteen 16-bit words y[0..15] (y[0] least
// significant): psi(y) = (y0^y1^y2^y3^y12^y15, y15, ..., y1). Its powers are
// 16x16 matrices over GF(2) on whole words, built at compile time.
struct PsiMatrix {
    uint16_t row[16];  // bit j of row i: output word i includes input word j
};

constexpr PsiMatrix psi_power(int n) {
    PsiMatrix m{};
    for (int i = 0; i < 16; ++i) m.row[i] = uint16_t(1u << i);
    for (int step = 0; step < n; ++step) {
        PsiMatrix next{};
        for (int i = 0; i < 15; ++i) next.row[i] = m.row[i + 1];
        next.row[15] = uint16_t(m.row[0] ^ m.row[1] ^ m.row[2] ^ m.row[3] ^ m.row[12] ^ m.row[15]);
        m = next;
    }
    return m;
}

// psi^N on eight 32-bit words: each output word is a fixed XOR of input
// words, their halves and their 16-bit rotations, emitted as straight-line
// code.
template <int N>
struct Psi {
    static constexpr PsiMatrix m = psi_power(N);

    // Contribution of input word pair J to output word pair I.
    template <int I, int J>
    static inline uint32_t term(const uint32_t *x) {
        constexpr bool lo_lo = (m.row[2 * I] >> (2 * J)) & 1;
        constexpr bool lo_hi = (m.row[2 * I] >> (2 * J + 1)) & 1;
        constexpr bool hi_lo = (m.row[2 * I + 1] >> (2 * J)) & 1;
        constexpr bool hi_hi = (m.row[2 * I + 1] >> (2 * J + 1)) & 1;
        const uint32_t v = x[J];
        uint32_t r = 0;
        if constexpr (lo_lo && hi_hi) {
            r ^= v;
        } else if constexpr (lo_lo) {
            r ^= v & 0xffffu;
        } else if constexpr (hi_hi) {
            r ^= v & 0xffff0000u;
        }
        if constexpr (lo_hi && hi_lo) {
            r ^= (v >> 16) | (v << 16);
        } else if constexpr (lo_hi) {
            r ^= v >> 16;
        } else if constexpr (hi_lo) {
            r ^= v << 16;
        }
        return r;
    }

    template <int I, int... J>
    static inline uint32_t word(const uint32_t *x, std::integer_sequence<int, J...>) {
        return (term<I, J>(x) ^ ...);
    }

    template <int... I>
    static inline void apply(const uint32_t *x, uint32_t *out, std::integer_sequence<int, I...>) {
        ((out[I] = word<I>(x, std::make_integer_sequence<int, 8>())), ...);
    }

    static inline void apply(const uint32_t *x, uint32_t *out) {
        apply(x, out, std::make_integer_sequence<int, 8>());
    }
};

// H := psi^61(H ^ psi(M ^ psi^12(S))) on eight 32-bit words.
inline void mix_words(uint32_t h[8], const uint32_t s[8], const unsigned char *block) {
    uint32_t x[8], y[8];
    Psi<12>::apply(s, x);
    for (int i = 0; i < 8; ++i) x[i] ^= load_le32(block + 4 * i);
    Psi<1>::apply(x, y);
    for (int i = 0; i < 8; ++i) y[i] ^= h[i];
    Psi<61>::apply(y, h);
}

// The four GOST 28147-89 encryptions of the step: part e of H (low word r,
// high word l) with key[e], key words 0..7 three times, then 7..0; round is
// called as round(src, dst, key word) and must do dst ^= g(src + key word).
// The four dependency chains are interleaved round by round. s receives
// the output (l, r) of each part: the last round's swap undone.
template <typename Round>
inline __attribute__((always_inline)) void encrypt4(const uint32_t h[8], const uint32_t key[4][8],
                                                    uint32_t s[8], Round round) {
    uint32_t r0 = h[0], l0 = h[1], r1 = h[2], l1 = h[3];
    uint32_t r2 = h[4], l2 = h[5], r3 = h[6], l3 = h[7];
    auto two_rounds = [&](int ka, int kb) __attribute__((always_inline)) {
        round(r0, l0, key[0][ka]);
        round(r1, l1, key[1][ka]);
        round(r2, l2, key[2][ka]);
        round(r3, l3, key[3][ka]);
        round(l0, r0, key[0][kb]);
        round(l1, r1, key[1][kb]);
        round(l2, r2, key[2][kb]);
        round(l3, r3, key[3][kb]);
    };
    for (int pass = 0; pass < 3; ++pass) {
        two_rounds(0, 1);
        two_rounds(2, 3);
        two_rounds(4, 5);
        two_rounds(6, 7);
    }
    two_rounds(7, 6);
    two_rounds(5, 4);
    two_rounds(3, 2);
    two_rounds(1, 0);
    s[0] = l0, s[1] = r0, s[2] = l1, s[3] = r1;
    s[4] = l2, s[5] = r2, s[6] = l3, s[7] = r3;
}

// The loop itself: per block, Add(sum, block), then Step(h, block, table).
template <void (*Add)(uint32_t *, const unsigned char *), void (*Step)(uint32_t *, const unsigned char *, SBoxTables)>
inline void run_blocks(uint32_t hash[8], uint32_t sum[8], const unsigned char *p, size_t count, SBoxTables table) {
    alignas(16) uint32_t h[8];
    uint32_t s[8];
    std::memcpy(h, hash, sizeof h);
    std::memcpy(s, sum, sizeof s);
    for (size_t i = 0; i < count; ++i, p += 32) {
        Add(s, p);
        Step(h, p, table);
    }
    std::memcpy(hash, h, sizeof h);
    std::memcpy(sum, s, sizeof s);
}

}  // namespace gost

#endif
