// GOST R 34.11-94: published vectors, block and padding rules, streaming.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "gost/GostHash94.h"
#include "gost/gost_r3411_94.h"
#include "gost_r3411_94_params.h"
#include "gost_r3411_94_step.h"

namespace {

std::string hex(const unsigned char *p, size_t n) {
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

std::string digest_hex(int set, const std::string &msg) {
    unsigned char d[GOST_R3411_94_DIGEST_SIZE];
    EXPECT_EQ(GOST_OK, gost_r3411_94_digest(set, msg.data(), msg.size(), d));
    return hex(d, sizeof d);
}

std::vector<unsigned char> random_bytes(std::mt19937 &rng, size_t n) {
    std::vector<unsigned char> v(n);
    for (auto &b : v) b = static_cast<unsigned char>(rng());
    return v;
}

struct Vector {
    int set;
    const char *message;
    const char *digest;  // byte order of the digest buffer (rhash's)
};

constexpr int T = GOST_R3411_94_PARAMS_TEST;
constexpr int C = GOST_R3411_94_PARAMS_CRYPTOPRO;

// Published GOST R 34.11-94 values (RFC 5831 and the standard's examples),
// plus the 33- and 64-byte cases taken from rhash.
const Vector kVectors[] = {
    {T, "", "ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d"},
    {T, "abc", "f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d"},
    {T, "This is message, length=32 bytes", "b1c466d37519b82e8319819ff32595e047a28cb6f83eff1c6916a815a637fffa"},
    {T, "Suppose the original message has length = 50 bytes",
     "471aba57a60a770d3a76130635c1fbea4ef14de51f78b4ae57dd893b62f55208"},
    {T, "The quick brown fox jumps over the lazy dog",
     "77b7fa410c9ac58a25f49bca7d0468c9296529315eaca76bd1a10f376d1f4294"},
    {T, "This is message, length=32 bytes!", "9787cfd40ab9089c564aebe1fee9b619f76ab93916af31b93ad37b08e0325bda"},
    {T, "This is message, length=32 bytesThis is message, length=32 bytes",
     "017fab593745c9bb6faf49ebc2ec62cfe7f03b43e0a13c1e58d2acaa01797bcd"},
    {C, "", "981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0"},
    {C, "abc", "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
    {C, "This is message, length=32 bytes", "2cefc2f7b7bdc514e18ea57fa74ff357e7fa17d652c75f69cb1be7893ede48eb"},
    {C, "Suppose the original message has length = 50 bytes",
     "c3730c5cbccacf915ac292676f21e8bd4ef75331d9405e5f1a61dc3130a65011"},
    {C, "The quick brown fox jumps over the lazy dog",
     "9004294a361a508c586fe53d1f1b02746765e71b765472786e4770d565830a76"},
    {C, "This is message, length=32 bytes!", "6004f0bf4be4d2c097e142b0e9c2cf997c2a1815dd2ca93809927c7e08540916"},
    {C, "This is message, length=32 bytesThis is message, length=32 bytes",
     "fbf625de282288a168c5e530f2544b2e9b9fb70d5549c0f8cd71184c7191d343"},
};

TEST(GostR3411_94, PublishedVectors) {
    for (const Vector &v : kVectors) {
        SCOPED_TRACE(std::string("set ") + std::to_string(v.set) + " \"" + v.message + "\"");
        EXPECT_EQ(v.digest, digest_hex(v.set, v.message));
    }
}

// The context records exactly the blocks the message rules demand: a whole
// block and no padding block for 32 bytes, a zero-padded block counted as
// 8 bits for the 33rd byte, nothing at all for the empty message.
TEST(GostR3411_94, BlockAndPaddingRules) {
    struct Case {
        size_t length;
        uint32_t bits;
    } cases[] = {{0, 0}, {1, 8}, {31, 248}, {32, 256}, {33, 264}, {64, 512}, {65, 520}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<unsigned char> msg(c.length, 0x01);
        gost_r3411_94_ctx ctx;
        ASSERT_EQ(GOST_OK, gost_r3411_94_init(&ctx, C));
        ASSERT_EQ(GOST_OK, gost_r3411_94_update(&ctx, msg.data(), msg.size()));
        EXPECT_LE(ctx.buffered, 32u);
        EXPECT_EQ(c.length == 0 ? 0u : 1u, ctx.buffered ? 1u : 0u) << "a non-empty tail stays buffered";
        unsigned char d[32];
        ASSERT_EQ(GOST_OK, gost_r3411_94_final(&ctx, d));
        EXPECT_EQ(c.bits, ctx.length[0]);
        EXPECT_EQ(0u, ctx.length[1]);
        // The checksum counts each block once; the padded block adds only its bytes.
        uint32_t expected_word0 = static_cast<uint32_t>(c.length / 32) * 0x01010101u;
        for (size_t i = 0; i < c.length % 32 && i < 4; ++i) expected_word0 += 1u << (8 * i);
        EXPECT_EQ(expected_word0, ctx.sum[0]);
    }
}

TEST(GostR3411_94, SplitUpdatesGiveTheSameDigest) {
    std::mt19937 rng(11);
    for (size_t length : {1u, 31u, 32u, 33u, 63u, 64u, 65u, 100u, 161u}) {
        const auto msg = random_bytes(rng, length);
        unsigned char whole[32];
        ASSERT_EQ(GOST_OK, gost_r3411_94_digest(C, msg.data(), msg.size(), whole));
        for (size_t cut = 0; cut <= length; ++cut) {
            for (size_t cut2 = cut; cut2 <= length; cut2 += (length - cut) / 3 + 1) {
                SCOPED_TRACE(std::to_string(length) + " split at " + std::to_string(cut) + ", " +
                             std::to_string(cut2));
                gost_r3411_94_ctx ctx;
                gost_r3411_94_init(&ctx, C);
                gost_r3411_94_update(&ctx, msg.data(), cut);
                gost_r3411_94_update(&ctx, msg.data() + cut, cut2 - cut);
                gost_r3411_94_update(&ctx, msg.data() + cut2, length - cut2);
                unsigned char d[32];
                gost_r3411_94_final(&ctx, d);
                ASSERT_EQ(hex(whole, 32), hex(d, 32));
            }
        }
        gost_r3411_94_ctx ctx;
        gost_r3411_94_init(&ctx, C);
        for (size_t i = 0; i < length; ++i) gost_r3411_94_update(&ctx, &msg[i], 1);
        unsigned char d[32];
        gost_r3411_94_final(&ctx, d);
        EXPECT_EQ(hex(whole, 32), hex(d, 32)) << "byte by byte, length " << length;
    }
}

// Every block loop this processor runs (plain C++, x86-64, x86-64 with
// SSSE3) gives the same hash state and checksum as the plain one, on random
// states and blocks with both parameter sets; the published vectors above
// check the one the library picks.
TEST(GostR3411_94, BlockLoopVariantsAgree) {
    gost::BlockLoopVariant variants[4];
    const size_t n = gost::block_loop_variants(variants, 4);
    ASSERT_GE(n, 1u);
    ASSERT_LE(n, 4u);
    EXPECT_STREQ("portable", variants[0].name);
    std::mt19937 rng(94);
    for (int set : {T, C}) {
        for (size_t count : {1u, 2u, 3u, 200u}) {
            const auto blocks = random_bytes(rng, 32 * count);
            uint32_t hash0[8], sum0[8];
            for (uint32_t &w : hash0) w = rng();
            for (uint32_t &w : sum0) w = rng();
            sum0[7] = 0xffffffffu;  // some additions carry out of the top, which is dropped
            uint32_t want_hash[8], want_sum[8];
            std::memcpy(want_hash, hash0, 32);
            std::memcpy(want_sum, sum0, 32);
            variants[0].run(want_hash, want_sum, blocks.data(), count, gost::kParamSets[set].table);
            for (size_t v = 1; v < n; ++v) {
                SCOPED_TRACE(std::string(variants[v].name) + ", set " + std::to_string(set) + ", " +
                             std::to_string(count) + " blocks");
                uint32_t hash[8], sum[8];
                std::memcpy(hash, hash0, 32);
                std::memcpy(sum, sum0, 32);
                variants[v].run(hash, sum, blocks.data(), count, gost::kParamSets[set].table);
                EXPECT_EQ(0, std::memcmp(want_hash, hash, 32));
                EXPECT_EQ(0, std::memcmp(want_sum, sum, 32));
            }
        }
    }
    EXPECT_EQ(variants[n - 1].run, gost::block_loop()) << "the library picks the last, fastest one";
}

TEST(GostR3411_94, ContextLifecycle) {
    gost_r3411_94_ctx *ctx = gost_r3411_94_create_context();
    ASSERT_NE(nullptr, ctx);
    EXPECT_EQ(nullptr, ctx->params);
    EXPECT_EQ(0u, ctx->buffered);
    // An uninitialised context absorbs nothing and gives no digest.
    unsigned char d[32];
    EXPECT_EQ(GOST_E_INVALID, gost_r3411_94_update(ctx, "x", 1));
    EXPECT_EQ(GOST_E_INVALID, gost_r3411_94_final(ctx, d));

    EXPECT_EQ(GOST_E_INVALID, gost_r3411_94_init(nullptr, C));
    EXPECT_EQ(GOST_E_INVALID, gost_r3411_94_init(ctx, 2));
    EXPECT_EQ(GOST_E_INVALID, gost_r3411_94_update(ctx, "x", 1));
    EXPECT_EQ(GOST_E_INVALID, gost_r3411_94_init(ctx, -1));

    // Reuse after final needs a new init, which clears everything.
    ASSERT_EQ(GOST_OK, gost_r3411_94_init(ctx, C));
    gost_r3411_94_update(ctx, "abc", 3);
    gost_r3411_94_final(ctx, d);
    ASSERT_EQ(GOST_OK, gost_r3411_94_init(ctx, C));
    gost_r3411_94_update(ctx, "abc", 3);
    gost_r3411_94_final(ctx, d);
    EXPECT_EQ("b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c", hex(d, 32));

    EXPECT_EQ(GOST_E_INVALID, gost_r3411_94_update(ctx, nullptr, 1));
    EXPECT_EQ(GOST_OK, gost_r3411_94_update(ctx, nullptr, 0));
    EXPECT_EQ(GOST_E_INVALID, gost_r3411_94_final(ctx, nullptr));
    gost_r3411_94_free_context(ctx);
    gost_r3411_94_free_context(nullptr);
}

TEST(GostR3411_94, DigestOfDescriptor) {
    std::mt19937 rng(5);
    const auto msg = random_bytes(rng, 3 * GOST_R3411_94_FILE_CHUNK + 17);
    unsigned char expected[32];
    gost_r3411_94_digest(C, msg.data(), msg.size(), expected);

    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    FILE *tmp = tmpfile();
    ASSERT_NE(nullptr, tmp);
    ASSERT_EQ(msg.size(), fwrite(msg.data(), 1, msg.size(), tmp));
    fflush(tmp);
    rewind(tmp);
    unsigned char d[32];
    EXPECT_EQ(GOST_OK, gost_r3411_94_digest_fd(C, fileno(tmp), d));
    EXPECT_EQ(hex(expected, 32), hex(d, 32));
    fclose(tmp);

    // An empty pipe is the empty message.
    close(fds[1]);
    EXPECT_EQ(GOST_OK, gost_r3411_94_digest_fd(T, fds[0], d));
    EXPECT_EQ("ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d", hex(d, 32));
    close(fds[0]);

    // A closed descriptor cannot be read.
    EXPECT_EQ(GOST_E_IO, gost_r3411_94_digest_fd(C, fds[0], d));
    EXPECT_EQ(GOST_E_INVALID, gost_r3411_94_digest_fd(C, -1, d));
    EXPECT_EQ(GOST_E_INVALID, gost_r3411_94_digest_fd(9, 0, d));
}

TEST(GostHash94, DigestIsReturnedReversed) {
    GostHash94 h;
    EXPECT_EQ(32, h.getHashSize());
    const std::string abc = "abc";
    ASSERT_EQ(0, h.setData(reinterpret_cast<const unsigned char *>(abc.data()), 3));
    ASSERT_EQ(0, h.calculate());
    unsigned char out[32];
    ASSERT_EQ(0, h.getHash(out));
    unsigned char reversed[32];
    for (int i = 0; i < 32; ++i) reversed[i] = out[31 - i];
    EXPECT_EQ("b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c", hex(reversed, 32));
    EXPECT_EQ(2, h.getHash(nullptr));

    // New data replaces the old; the empty message has its own digest.
    ASSERT_EQ(0, h.setData(nullptr, 0));
    ASSERT_EQ(0, h.calculate());
    h.getHash(out);
    for (int i = 0; i < 32; ++i) reversed[i] = out[31 - i];
    EXPECT_EQ("981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0", hex(reversed, 32));
    EXPECT_EQ(2, h.setData(nullptr, 4));
}

TEST(GostHash94, OwnsACopyOfTheData) {
    unsigned char buf[3] = {'a', 'b', 'c'};
    GostHash94 h;
    h.setData(buf, 3);
    buf[0] = 'x';
    h.calculate();
    unsigned char out[32];
    h.getHash(out);
    EXPECT_EQ("2cd42ff986293b167e994381ed597474", hex(out, 16));
}

}  // namespace
