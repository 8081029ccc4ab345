// GOST R 34.11-94 hash: step function, block loop and padding rules.
#include "gost/gost_r3411_94.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "gost_r3411_94_params.h"

namespace {

using Tables = const uint32_t (*)[256];

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

inline void store_le32(unsigned char *p, uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    std::memcpy(p, &v, 4);
}

// ---------------------------------------------------------------------------
// psi: the linear mixing of GOST R 34.11-94 on sixteen 16-bit words y[0..15]
// (y[0] least significant): psi(y) = (y0^y1^y2^y3^y12^y15, y15, ..., y1).
// Powers of psi are 16x16 matrices over GF(2) on whole words, built here at
// compile time; each output 32-bit word is then a fixed XOR of input words,
// their halves and their 16-bit rotations, emitted as straight-line code.

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

inline Block64 to64(const uint32_t *v) {
    return {{v[0] | uint64_t(v[1]) << 32, v[2] | uint64_t(v[3]) << 32,
             v[4] | uint64_t(v[5]) << 32, v[6] | uint64_t(v[7]) << 32}};
}

inline Block64 load_block64(const unsigned char *p) {
    return {{load_le64(p), load_le64(p + 8), load_le64(p + 16), load_le64(p + 24)}};
}

// The constant C3 of the standard.
constexpr Block64 kC3 = {{0xff00ff00ff00ff00ull, 0x00ff00ff00ff00ffull,
                          0xff0000ff00ffff00ull, 0xff00ffff000000ffull}};

// ---------------------------------------------------------------------------
// Step function f(H, M).

#define GOST_G(T, t) \
    ((T)[0][(t) & 0xff] ^ (T)[1][((t) >> 8) & 0xff] ^ (T)[2][((t) >> 16) & 0xff] ^ (T)[3][(t) >> 24])

// One GOST 28147-89 round on each of the four independent encryptions, so
// that their dependency chains overlap.
#define GOST_ROUND4(src, dst, kidx)                        \
    do {                                                   \
        const uint32_t t0 = src##0 + key[0][kidx];         \
        const uint32_t t1 = src##1 + key[1][kidx];         \
        const uint32_t t2 = src##2 + key[2][kidx];         \
        const uint32_t t3 = src##3 + key[3][kidx];         \
        dst##0 ^= GOST_G(T, t0);                           \
        dst##1 ^= GOST_G(T, t1);                           \
        dst##2 ^= GOST_G(T, t2);                           \
        dst##3 ^= GOST_G(T, t3);                           \
    } while (0)

#define GOST_2ROUNDS(ka, kb)      \
    GOST_ROUND4(r, l, ka);        \
    GOST_ROUND4(l, r, kb)

// f(H, M) with the message block M read in place from 32 bytes.
inline void step(uint32_t h[8], const unsigned char *block, Tables T) {
    uint32_t key[4][8];
    Block64 u = to64(h);
    Block64 v = load_block64(block);
    transform_p(xor64(u, v), key[0]);
    u = transform_a(u);
    v = transform_aa(v);
    transform_p(xor64(u, v), key[1]);
    u = xor64(transform_a(u), kC3);
    v = transform_aa(v);
    transform_p(xor64(u, v), key[2]);
    u = transform_a(u);
    v = transform_aa(v);
    transform_p(xor64(u, v), key[3]);

    // Encrypt the four 64-bit parts of H (low word r, high word l), each with
    // its own key: key words 0..7 three times, then 7..0. The output takes the
    // halves crosswise, which undoes the last round's swap.
    uint32_t r0 = h[0], l0 = h[1];
    uint32_t r1 = h[2], l1 = h[3];
    uint32_t r2 = h[4], l2 = h[5];
    uint32_t r3 = h[6], l3 = h[7];
    for (int pass = 0; pass < 3; ++pass) {
        GOST_2ROUNDS(0, 1);
        GOST_2ROUNDS(2, 3);
        GOST_2ROUNDS(4, 5);
        GOST_2ROUNDS(6, 7);
    }
    GOST_2ROUNDS(7, 6);
    GOST_2ROUNDS(5, 4);
    GOST_2ROUNDS(3, 2);
    GOST_2ROUNDS(1, 0);
    const uint32_t s[8] = {l0, r0, l1, r1, l2, r2, l3, r3};

    // H := psi^61(H ^ psi(M ^ psi^12(S)))
    uint32_t x[8], y[8];
    Psi<12>::apply(s, x);
    for (int i = 0; i < 8; ++i) x[i] ^= load_le32(block + 4 * i);
    Psi<1>::apply(x, y);
    for (int i = 0; i < 8; ++i) y[i] ^= h[i];
    Psi<61>::apply(y, h);
}

#undef GOST_2ROUNDS
#undef GOST_ROUND4
#undef GOST_G

// sum += block as 256-bit numbers, the carry out of the top discarded.
inline void add256(uint32_t sum[8], const unsigned char *block) {
    uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        carry += uint64_t(sum[i]) + load_le32(block + 4 * i);
        sum[i] = uint32_t(carry);
        carry >>= 32;
    }
}

// Adds to the 64-bit bit count held in the two low words of L.
inline void add_bits(uint32_t length[8], uint64_t bits) {
    uint64_t n = (length[0] | uint64_t(length[1]) << 32) + bits;
    length[0] = uint32_t(n);
    length[1] = uint32_t(n >> 32);
}

// The 32-byte image of a 256-bit number kept as eight words.
inline void store_block(const uint32_t w[8], unsigned char *p) {
    for (int i = 0; i < 8; ++i) store_le32(p + 4 * i, w[i]);
}

// Processes count whole blocks starting at p.
void process_blocks(gost_r3411_94_ctx *ctx, const unsigned char *p, size_t count) {
    Tables T = ctx->params->table;
    uint32_t h[8], sum[8];
    std::memcpy(h, ctx->hash, sizeof h);
    std::memcpy(sum, ctx->sum, sizeof sum);
    for (size_t i = 0; i < count; ++i, p += GOST_R3411_94_BLOCK_SIZE) {
        add256(sum, p);
        step(h, p, T);
    }
    std::memcpy(ctx->hash, h, sizeof h);
    std::memcpy(ctx->sum, sum, sizeof sum);
    add_bits(ctx->length, uint64_t(count) * 8 * GOST_R3411_94_BLOCK_SIZE);
}

}  // namespace

extern "C" {

gost_r3411_94_ctx *gost_r3411_94_create_context(void) {
    return static_cast<gost_r3411_94_ctx *>(std::calloc(1, sizeof(gost_r3411_94_ctx)));
}

void gost_r3411_94_free_context(gost_r3411_94_ctx *ctx) {
    std::free(ctx);
}

int gost_r3411_94_init(gost_r3411_94_ctx *ctx, int param_set) {
    if (!ctx) return GOST_E_INVALID;
    std::memset(ctx, 0, sizeof *ctx);
    if (param_set < 0 || param_set >= gost::kParamSetCount) return GOST_E_INVALID;
    ctx->params = &gost::kParamSets[param_set];
    std::memcpy(ctx->hash, ctx->params->start, sizeof ctx->hash);
    return GOST_OK;
}

int gost_r3411_94_update(gost_r3411_94_ctx *ctx, const void *data, size_t length) {
    if (!ctx || !ctx->params || ctx->buffered > GOST_R3411_94_BLOCK_SIZE || (!data && length))
        return GOST_E_INVALID;
    if (length == 0) return GOST_OK;
    const unsigned char *p = static_cast<const unsigned char *>(data);
    if (ctx->buffered) {
        const size_t take = std::min<size_t>(length, GOST_R3411_94_BLOCK_SIZE - ctx->buffered);
        std::memcpy(ctx->buffer + ctx->buffered, p, take);
        ctx->buffered += uint32_t(take);
        p += take;
        length -= take;
        if (length == 0) return GOST_OK;  // a full buffer may wait for final
        process_blocks(ctx, ctx->buffer, 1);
        ctx->buffered = 0;
    }
    if (length > GOST_R3411_94_BLOCK_SIZE) {
        // Whole blocks straight from the input, keeping 1..32 bytes back.
        const size_t count = (length - 1) / GOST_R3411_94_BLOCK_SIZE;
        process_blocks(ctx, p, count);
        p += count * GOST_R3411_94_BLOCK_SIZE;
        length -= count * GOST_R3411_94_BLOCK_SIZE;
    }
    std::memcpy(ctx->buffer, p, length);
    ctx->buffered = uint32_t(length);
    return GOST_OK;
}

int gost_r3411_94_final(gost_r3411_94_ctx *ctx, unsigned char digest[GOST_R3411_94_DIGEST_SIZE]) {
    if (!ctx || !ctx->params || ctx->buffered > GOST_R3411_94_BLOCK_SIZE || !digest)
        return GOST_E_INVALID;
    Tables T = ctx->params->table;
    if (ctx->buffered) {
        std::memset(ctx->buffer + ctx->buffered, 0, GOST_R3411_94_BLOCK_SIZE - ctx->buffered);
        add256(ctx->sum, ctx->buffer);
        step(ctx->hash, ctx->buffer, T);
        add_bits(ctx->length, ctx->buffered * 8);
        ctx->buffered = 0;
    }
    unsigned char block[GOST_R3411_94_BLOCK_SIZE];
    store_block(ctx->length, block);
    step(ctx->hash, block, T);
    store_block(ctx->sum, block);
    step(ctx->hash, block, T);
    store_block(ctx->hash, digest);
    return GOST_OK;
}

int gost_r3411_94_digest(int param_set, const void *data, size_t length,
                         unsigned char digest[GOST_R3411_94_DIGEST_SIZE]) {
    gost_r3411_94_ctx ctx;
    int rc = gost_r3411_94_init(&ctx, param_set);
    if (rc == GOST_OK) rc = gost_r3411_94_update(&ctx, data, length);
    if (rc == GOST_OK) rc = gost_r3411_94_final(&ctx, digest);
    return rc;
}

}  // extern "C"
