// GOST R 34.11-94 block loop for x86-64.
//
// Where a block's time goes: the 128 rounds (four encryptions of 32 rounds)
// take most of it; the rest is the key schedule, the checksum and the psi
// mixing, partly on the path from one block to the next. So:
// - a round is eleven instructions of assembler; the compiler makes about
//   fifteen of the same round in C++, moving the bytes it extracts between
//   registers and spilling some of the four encryptions' sixteen values;
// - the key schedule works on SSE2 registers (always present on x86-64),
//   where the byte transpose P is four unpack instructions per key;
// - the checksum adds with carry over 64-bit words;
// - with SSSE3 the mixing is byte shuffles on SSE registers (see PsiShuffle),
//   and the part of it that does not depend on the encryptions is computed
//   before them.
#include "gost_r3411_94_step.h"

#ifdef GOST_R3411_94_X86_64

#include <immintrin.h>

namespace gost {
namespace {

#define GOST_ALWAYS_INLINE inline __attribute__((always_inline))

// One round: dst ^= T0[b0] ^ T1[b1] ^ T2[b2] ^ T3[b3] for the bytes b of
// src + k. t must be one of a, b, c, d to reach its second byte, and i a
// register without REX prefix to receive it.
GOST_ALWAYS_INLINE void round_x86(uint32_t src, uint32_t &dst, const uint32_t &k, SBoxTables T) {
    uint32_t t, i;
    __asm__("movl %[k], %[t]\n\t"
            "addl %[src], %[t]\n\t"
            "movzbl %b[t], %[i]\n\t"
            "xorl (%[T],%q[i],4), %[dst]\n\t"
            "movzbl %h[t], %[i]\n\t"
            "xorl 1024(%[T],%q[i],4), %[dst]\n\t"
            "shrl $16, %[t]\n\t"
            "movzbl %b[t], %[i]\n\t"
            "xorl 2048(%[T],%q[i],4), %[dst]\n\t"
            "movzbl %h[t], %[i]\n\t"
            "xorl 3072(%[T],%q[i],4), %[dst]"
            : [dst] "+r"(dst), [t] "=&Q"(t), [i] "=&R"(i)
            : [src] "r"(src), [k] "m"(k), [T] "r"(T), "m"(*reinterpret_cast<const uint32_t(*)[4][256]>(T))
            : "cc");
}

// ---------------------------------------------------------------------------
// Key schedule on SSE2 registers: U and V as two registers of two 64-bit
// words each, low word first.

GOST_ALWAYS_INLINE __m128i words_1_2(__m128i lo, __m128i hi) {  // (lo[1], hi[0])
    return _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(lo), _mm_castsi128_pd(hi), 1));
}

// key = P(U ^ V): byte 8i+k of W to byte i+4k of the key, a 4x8 byte
// transpose in two interleaving steps.
GOST_ALWAYS_INLINE void key_p(__m128i u01, __m128i u23, __m128i v01, __m128i v23, uint32_t key[8]) {
    const __m128i w01 = _mm_xor_si128(u01, v01), w23 = _mm_xor_si128(u23, v23);
    const __m128i a = _mm_unpacklo_epi8(w01, w23), b = _mm_unpackhi_epi8(w01, w23);
    _mm_store_si128(reinterpret_cast<__m128i *>(key), _mm_unpacklo_epi8(a, b));
    _mm_store_si128(reinterpret_cast<__m128i *>(key + 4), _mm_unpackhi_epi8(a, b));
}

GOST_ALWAYS_INLINE void make_keys(__m128i u01, __m128i u23, __m128i v01, __m128i v23, uint32_t key[4][8]) {
    const __m128i c01 = _mm_set_epi64x(int64_t(kC3[1]), int64_t(kC3[0]));
    const __m128i c23 = _mm_set_epi64x(int64_t(kC3[3]), int64_t(kC3[2]));
    key_p(u01, u23, v01, v23, key[0]);
    for (int i = 1; i < 4; ++i) {
        // U := A(U) = (u1, u2, u3, u0 ^ u1), with C3 added before the third key;
        // V := A(A(V)) = (v2, v3, v0 ^ v1, v1 ^ v2).
        const __m128i u0_u1 = _mm_xor_si128(u01, _mm_shuffle_epi32(u01, 0x4e));
        const __m128i u12 = words_1_2(u01, u23);
        u23 = words_1_2(u23, u0_u1);
        u01 = u12;
        const __m128i v_23 = _mm_xor_si128(v01, words_1_2(v01, v23));
        v01 = v23;
        v23 = v_23;
        if (i == 2) {
            u01 = _mm_xor_si128(u01, c01);
            u23 = _mm_xor_si128(u23, c23);
        }
        key_p(u01, u23, v01, v23, key[i]);
    }
}

// sum += block as 256-bit numbers, the carry out of the top discarded.
void add256(uint32_t sum[8], const unsigned char *block) {
    unsigned long long s[4];
    std::memcpy(s, sum, sizeof s);
    unsigned char c = _addcarry_u64(0, s[0], load_le64(block), &s[0]);
    c = _addcarry_u64(c, s[1], load_le64(block + 8), &s[1]);
    c = _addcarry_u64(c, s[2], load_le64(block + 16), &s[2]);
    _addcarry_u64(c, s[3], load_le64(block + 24), &s[3]);
    std::memcpy(sum, s, sizeof s);
}

GOST_ALWAYS_INLINE __m128i load128(const void *p) {
    return _mm_loadu_si128(static_cast<const __m128i *>(p));
}

GOST_ALWAYS_INLINE void store128(void *p, __m128i v) {
    _mm_storeu_si128(static_cast<__m128i *>(p), v);
}

// f(H, M) with the mixing on 32-bit words.
void step(uint32_t h[8], const unsigned char *block, SBoxTables T) {
    alignas(16) uint32_t key[4][8];
    make_keys(load128(h), load128(h + 4), load128(block), load128(block + 16), key);
    uint32_t s[8];
    encrypt4(h, key, s, [T](uint32_t src, uint32_t &dst, const uint32_t &k) { round_x86(src, dst, k, T); });
    mix_words(h, s, block);
}

// ---------------------------------------------------------------------------
// psi^N with SSSE3, the state as two registers of eight 16-bit words. Output
// register b collects from input register a in layers: one byte shuffle per
// layer places one chosen input word (or zero) in each output word. A block
// (b, a) of the matrix needs as many layers as its fullest row has ones:
// psi^61, for one, takes 25 shuffles and 24 XORs.

#define GOST_SSSE3 __attribute__((target("ssse3"), always_inline)) inline

template <int N>
struct PsiShuffle {
    static constexpr PsiMatrix m = psi_power(N);

    static constexpr int layers(int b, int a) {
        int most = 0;
        for (int i = 0; i < 8; ++i) {
            int ones = 0;
            for (int j = 0; j < 8; ++j) ones += (m.row[8 * b + i] >> (8 * a + j)) & 1;
            most = ones > most ? ones : most;
        }
        return most;
    }

    static constexpr int kLow = layers(0, 0) + layers(0, 1);  // terms of output register 0
    static constexpr int kTerms = kLow + layers(1, 0) + layers(1, 1);

    struct Plan {
        alignas(16) uint8_t control[kTerms][16];  // byte shuffle of each term
        int source[kTerms];                       // its input register
    };

    static constexpr Plan make_plan() {
        Plan plan{};
        int n = 0;
        for (int b = 0; b < 2; ++b) {
            for (int a = 0; a < 2; ++a) {
                for (int layer = 0; layer < layers(b, a); ++layer, ++n) {
                    plan.source[n] = a;
                    for (int i = 0; i < 8; ++i) {
                        // The layer-th input word of output word i, if it has that many.
                        int col = -1;
                        for (int j = 0, seen = 0; j < 8 && col < 0; ++j)
                            if ((m.row[8 * b + i] >> (8 * a + j)) & 1 && seen++ == layer) col = j;
                        plan.control[n][2 * i] = col < 0 ? 0x80 : uint8_t(2 * col);
                        plan.control[n][2 * i + 1] = col < 0 ? 0x80 : uint8_t(2 * col + 1);
                    }
                }
            }
        }
        return plan;
    }

    static constexpr Plan plan = make_plan();

    // XOR of terms First .. First+Count-1, as a balanced tree.
    template <int First, int Count>
    GOST_SSSE3 static __m128i terms(const __m128i x[2]) {
        if constexpr (Count == 1) {
            return _mm_shuffle_epi8(x[plan.source[First]],
                                    _mm_load_si128(reinterpret_cast<const __m128i *>(plan.control[First])));
        } else {
            return _mm_xor_si128(terms<First, Count / 2>(x), terms<First + Count / 2, Count - Count / 2>(x));
        }
    }

    GOST_SSSE3 static void apply(const __m128i x[2], __m128i out[2]) {
        out[0] = terms<0, kLow>(x);
        out[1] = terms<kLow, kTerms - kLow>(x);
    }
};

// f(H, M) with the mixing as byte shuffles:
// psi^61(H ^ psi(M ^ psi^12(S))) = psi^61(H ^ psi(M)) ^ psi^74(S).
__attribute__((target("ssse3"))) void step_ssse3(uint32_t h[8], const unsigned char *block, SBoxTables T) {
    const __m128i hv[2] = {load128(h), load128(h + 4)};
    const __m128i mv[2] = {load128(block), load128(block + 16)};
    alignas(16) uint32_t key[4][8];
    make_keys(hv[0], hv[1], mv[0], mv[1], key);

    __m128i early[2], x[2];
    PsiShuffle<1>::apply(mv, x);
    x[0] = _mm_xor_si128(x[0], hv[0]);
    x[1] = _mm_xor_si128(x[1], hv[1]);
    PsiShuffle<61>::apply(x, early);

    uint32_t s[8];
    encrypt4(h, key, s, [T](uint32_t src, uint32_t &dst, const uint32_t &k) { round_x86(src, dst, k, T); });
    const __m128i sv[2] = {_mm_set_epi32(int(s[3]), int(s[2]), int(s[1]), int(s[0])),
                           _mm_set_epi32(int(s[7]), int(s[6]), int(s[5]), int(s[4]))};
    __m128i late[2];
    PsiShuffle<74>::apply(sv, late);
    store128(h, _mm_xor_si128(early[0], late[0]));
    store128(h + 4, _mm_xor_si128(early[1], late[1]));
}

}  // namespace

__attribute__((flatten)) void block_loop_x86_64(uint32_t hash[8], uint32_t sum[8], const unsigned char *p,
                                                size_t count, SBoxTables table) {
    run_blocks<add256, step>(hash, sum, p, count, table);
}

__attribute__((target("ssse3"), flatten)) void block_loop_x86_64_ssse3(uint32_t hash[8], uint32_t sum[8],
                                                                       const unsigned char *p, size_t count,
                                                                       SBoxTables table) {
    run_blocks<add256, step_ssse3>(hash, sum, p, count, table);
}

}  // namespace gost

#endif
