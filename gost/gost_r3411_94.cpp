// GOST R 34.11-94 hash: contexts, buffering and padding rules.
#include "gost/gost_r3411_94.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gost_r3411_94_params.h"
#include "gost_r3411_94_step.h"

namespace {

inline void store_le32(unsigned char *p, uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    std::memcpy(p, &v, 4);
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

// Processes count whole blocks starting at p, each counted as 256 bits.
void process_blocks(gost_r3411_94_ctx *ctx, const unsigned char *p, size_t count) {
    gost::block_loop()(ctx->hash, ctx->sum, p, count, ctx->params->table);
    add_bits(ctx->length, uint64_t(count) * 8 * GOST_R3411_94_BLOCK_SIZE);
}

// H := f(H, block) alone, for the length and checksum blocks of final.
void step_only(gost_r3411_94_ctx *ctx, const unsigned char block[GOST_R3411_94_BLOCK_SIZE]) {
    uint32_t unused_sum[8] = {};
    gost::block_loop()(ctx->hash, unused_sum, block, 1, ctx->params->table);
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
    if (ctx->buffered) {
        // The last, partial block: zero-filled, counted by its bytes.
        std::memset(ctx->buffer + ctx->buffered, 0, GOST_R3411_94_BLOCK_SIZE - ctx->buffered);
        gost::block_loop()(ctx->hash, ctx->sum, ctx->buffer, 1, ctx->params->table);
        add_bits(ctx->length, ctx->buffered * 8);
        ctx->buffered = 0;
    }
    unsigned char block[GOST_R3411_94_BLOCK_SIZE];
    store_block(ctx->length, block);
    step_only(ctx, block);
    store_block(ctx->sum, block);
    step_only(ctx, block);
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
