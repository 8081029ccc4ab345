// GOST R 34.10-2001 private-key generation and the GOST R 34.10-94 public key.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/ec.h>

#include "gost/gost_r3410.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct BnFree {
    void operator()(BIGNUM *b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn bn_hex(const char *hex) {
    BIGNUM *b = nullptr;
    BN_hex2bn(&b, hex);
    return Bn(b);
}

Bytes be32(const BIGNUM *b) {
    Bytes v(32);
    BN_bn2binpad(b, v.data(), 32);
    return v;
}

// Published curves: p, a, b, base point and group order q.
struct CurveParams {
    int number;
    const char *p, *a, *b, *x, *y, *q;
};

const CurveParams kTestCurve = {
    GOST_R3410_01_TEST,
    "8000000000000000000000000000000000000000000000000000000000000431",
    "7",
    "5FBFF498AA938CE739B8E022FBAFEF40563F6E6A3472FC2A514C0CE9DAE23B7E",
    "2",
    "08E2A8A0E65147D4BD6316030E16D19C85C97F0A9CA267122B96ABBCEA7E8FC8",
    "8000000000000000000000000000000150FE8A1892976154C59CFC193ACCF5B3",
};
const CurveParams kCryptoProA = {
    GOST_R3410_01_CRYPTOPRO_A,
    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD97",
    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD94",
    "A6",
    "1",
    "8D91E471E0989CDA27DF505A453F2B7635294F2DDF23E3B122ACC99C9E9F1E14",
    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF6C611070995AD10045841B09B761B893",
};

// A random source that hands out scripted draws and counts its calls.
struct Script {
    std::deque<Bytes> draws;
    int calls = 0;
    int fail_at = -1;
};

int scripted(void *arg, unsigned char *buffer, unsigned int length) {
    auto *s = static_cast<Script *>(arg);
    ++s->calls;
    if (s->calls == s->fail_at) return 7;
    EXPECT_EQ(32u, length);
    if (s->draws.empty()) {
        std::memset(buffer, 0, length);
        return 0;
    }
    std::memcpy(buffer, s->draws.front().data(), length);
    s->draws.pop_front();
    return 0;
}

int g_plain_calls = 0;
int plain_source(unsigned char *buffer, unsigned int length) {
    ++g_plain_calls;
    for (unsigned i = 0; i < length; ++i) buffer[i] = static_cast<unsigned char>(0x11 * (i + 1));
    return 0;
}

// The group orders the generator compares against must be the published
// ones: check them against the curves themselves.
TEST(GostR3410_01, GroupOrdersArePublishedCurveOrders) {
    for (const CurveParams *c : {&kTestCurve, &kCryptoProA}) {
        SCOPED_TRACE(c->number);
        std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
        Bn p = bn_hex(c->p), a = bn_hex(c->a), b = bn_hex(c->b), x = bn_hex(c->x), y = bn_hex(c->y),
           q = bn_hex(c->q);
        std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(
            EC_GROUP_new_curve_GFp(p.get(), a.get(), b.get(), ctx.get()), EC_GROUP_free);
        ASSERT_TRUE(group);
        std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> g(EC_POINT_new(group.get()), EC_POINT_free),
            r(EC_POINT_new(group.get()), EC_POINT_free);
        ASSERT_EQ(1, EC_POINT_set_affine_coordinates(group.get(), g.get(), x.get(), y.get(), ctx.get()));
        ASSERT_EQ(1, EC_POINT_mul(group.get(), r.get(), nullptr, g.get(), q.get(), ctx.get()));
        EXPECT_EQ(1, EC_POINT_is_at_infinity(group.get(), r.get()));
        EXPECT_EQ(1, BN_check_prime(q.get(), ctx.get(), nullptr));
    }
}

// Draws outside 0 < d < q are refused and drawn again; the first draw in
// range is written out unchanged. q itself and q-1 pin the order constant.
TEST(GostR3410_01, DrawsAgainUntilInRange) {
    for (const CurveParams *c : {&kTestCurve, &kCryptoProA}) {
        SCOPED_TRACE(c->number);
        Bn q = bn_hex(c->q);
        Bn q_minus_1(BN_dup(q.get()));
        BN_sub_word(q_minus_1.get(), 1);
        Script s;
        s.draws = {Bytes(32, 0x00), be32(q.get()), Bytes(32, 0xff), be32(q_minus_1.get())};
        unsigned char key[32] = {};
        ASSERT_EQ(0, gost_r3410_01_generate_private_key_ex(key, c->number, scripted, &s));
        EXPECT_EQ(4, s.calls);
        EXPECT_EQ(be32(q_minus_1.get()), Bytes(key, key + 32));

        Bytes one(32, 0);
        one[31] = 1;
        s = Script{};
        s.draws = {one};
        ASSERT_EQ(0, gost_r3410_01_generate_private_key_ex(key, c->number, scripted, &s));
        EXPECT_EQ(1, s.calls);
        EXPECT_EQ(one, Bytes(key, key + 32));
    }
}

TEST(GostR3410_01, RefusesBadArgumentsWithoutDrawing) {
    unsigned char key[32];
    for (int curve : {0, 3, -1, 255}) {
        Script s;
        EXPECT_EQ(GOST_KEY_E_CURVE, gost_r3410_01_generate_private_key_ex(key, curve, scripted, &s));
        EXPECT_EQ(0, s.calls) << "curve " << curve;
    }
    Script s;
    EXPECT_EQ(GOST_KEY_E_ARG, gost_r3410_01_generate_private_key_ex(nullptr, 2, scripted, &s));
    EXPECT_EQ(GOST_KEY_E_ARG, gost_r3410_01_generate_private_key_ex(key, 2, nullptr, &s));
    EXPECT_EQ(GOST_KEY_E_ARG, gost_r3410_01_generate_private_key(key, 2, nullptr));
    g_plain_calls = 0;
    EXPECT_EQ(GOST_KEY_E_ARG, gost_r3410_01_generate_private_key(nullptr, 2, plain_source));
    EXPECT_EQ(GOST_KEY_E_CURVE, gost_r3410_01_generate_private_key(key, 0, plain_source));
    EXPECT_EQ(GOST_KEY_E_CURVE, gost_r3410_01_generate_private_key(key, 3, plain_source));
    EXPECT_EQ(0, s.calls);
    EXPECT_EQ(0, g_plain_calls);
}

// A failing or stuck random source ends generation with an error and leaves
// the key buffer untouched, rather than yielding a predictable key or hanging.
TEST(GostR3410_01, RandomSourceFailures) {
    unsigned char key[32];
    std::memset(key, 0xa5, sizeof key);
    Script s;
    s.draws = {Bytes(32, 0)};
    s.fail_at = 2;
    EXPECT_EQ(GOST_KEY_E_RANDOM, gost_r3410_01_generate_private_key_ex(key, 2, scripted, &s));
    EXPECT_EQ(2, s.calls);

    s = Script{};  // all-zero draws for ever
    EXPECT_EQ(GOST_KEY_E_DRAWS, gost_r3410_01_generate_private_key_ex(key, 2, scripted, &s));
    EXPECT_EQ(GOST_R3410_01_MAX_DRAWS, s.calls);
    EXPECT_EQ(Bytes(32, 0xa5), Bytes(key, key + 32));
}

TEST(GostR3410_01, PlainSourceIsUsedAsIs) {
    unsigned char key[32];
    g_plain_calls = 0;
    ASSERT_EQ(0, gost_r3410_01_generate_private_key(key, GOST_R3410_01_CRYPTOPRO_A, plain_source));
    EXPECT_EQ(1, g_plain_calls);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(static_cast<unsigned char>(0x11 * (i + 1)), key[i]);
}

// ---------------------------------------------------------------------------
// GOST R 34.10-94 (test parameter set).

const char *kP94 =
    "EE8172AE8996608FB69359B89EB82A69854510E2977A4D63BC97322CE5DC3386"
    "EA0A12B343E9190F23177539845839786BB0C345D165976EF2195EC9B1C379E3";
const char *kQ94 = "98915E7EC8265EDFCDA31E88F24809DDB064BDC7285DD50D7289F0AC6F49DD2D";
const char *kA94 =
    "9E96031500C8774A869582D4AFDE2127AFAD2538B4B6270A6F7C8837B50D50F2"
    "06755984A49E509304D648BE2AB5AAB18EBE2CD46AC3D8495B142AA6CE23E21C";

Bytes public_key(const Bytes &x_magnitude) {
    Bytes x(1 + x_magnitude.size());
    x[0] = static_cast<unsigned char>(x_magnitude.size());
    std::memcpy(x.data() + 1, x_magnitude.data(), x_magnitude.size());
    Bytes y(65, 0);
    y[0] = 64;
    EXPECT_EQ(0, gost_r3410_94_compute_public_key(x.data(), y.data()));
    EXPECT_EQ(64, y[0]);
    return y;
}

// Independent computation: a^x mod p with BN_mod_exp, x little-endian.
Bytes reference_public_key(const Bytes &x_magnitude) {
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    Bn p = bn_hex(kP94), a = bn_hex(kA94);
    Bn x(BN_lebin2bn(x_magnitude.data(), static_cast<int>(x_magnitude.size()), nullptr));
    Bn y(BN_new());
    EXPECT_EQ(1, BN_mod_exp(y.get(), a.get(), x.get(), p.get(), ctx.get()));
    Bytes out(65);
    out[0] = 64;
    BN_bn2lebinpad(y.get(), out.data() + 1, 64);
    return out;
}

TEST(GostR3410_94, ParametersAreAGroupOfOrderQ) {
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    Bn p = bn_hex(kP94), q = bn_hex(kQ94), a = bn_hex(kA94), r(BN_new()), one(BN_new());
    EXPECT_EQ(512, BN_num_bits(p.get()));
    EXPECT_EQ(256, BN_num_bits(q.get()));
    EXPECT_EQ(1, BN_check_prime(p.get(), ctx.get(), nullptr));
    EXPECT_EQ(1, BN_check_prime(q.get(), ctx.get(), nullptr));
    BN_one(one.get());
    ASSERT_EQ(1, BN_mod_exp(r.get(), a.get(), q.get(), p.get(), ctx.get()));
    EXPECT_EQ(0, BN_cmp(r.get(), one.get())) << "a^q mod p must be 1";
}

TEST(GostR3410_94, KnownVector) {
    // x = 0x201f...0201 (bytes 01..20 least significant first); y from an
    // independent big-integer computation of a^x mod p.
    Bytes x(32);
    for (int i = 0; i < 32; ++i) x[i] = static_cast<unsigned char>(i + 1);
    const char *expected =
        "b6cd866d5c5efba55f14122732ec8ca64c7084d691214fc6fc9bdf4932da3ae9"
        "1287c3d14381ca998d1db66f0a9c55dd98729573eed5d4f52b372e2b3766e5c9";
    const Bytes y = public_key(x);
    std::string hex;
    char b[3];
    for (int i = 1; i < 65; ++i) {
        std::snprintf(b, sizeof b, "%02x", y[i]);
        hex += b;
    }
    EXPECT_EQ(expected, hex);
}

TEST(GostR3410_94, AgreesWithBnModExp) {
    std::mt19937 rng(94);
    std::vector<Bytes> xs = {Bytes(32, 0), Bytes(32, 0xff), Bytes{1}, Bytes(32, 0)};
    xs[0][0] = 1;    // x = 1: y = a
    xs[3][31] = 0x80;  // only the top bit
    for (int i = 0; i < 20; ++i) {
        Bytes x(32);
        for (auto &c : x) c = static_cast<unsigned char>(rng());
        xs.push_back(x);
    }
    for (const Bytes &x : xs) EXPECT_EQ(reference_public_key(x), public_key(x));
}

TEST(GostR3410_94, KeyPairCheck) {
    Bytes x(32);
    for (int i = 0; i < 32; ++i) x[i] = static_cast<unsigned char>(3 * i + 7);
    Bytes y = public_key(x);
    Bytes pub(y.begin() + 1, y.end());
    EXPECT_EQ(0, gost_r3410_94_check_key_pair(x.data(), pub.data()));
    pub[63] ^= 1;
    EXPECT_EQ(1, gost_r3410_94_check_key_pair(x.data(), pub.data()));
    pub[63] ^= 1;
    x[0] ^= 0x80;
    EXPECT_EQ(1, gost_r3410_94_check_key_pair(x.data(), pub.data()));
    EXPECT_EQ(GOST_KEY_E_ARG, gost_r3410_94_check_key_pair(nullptr, pub.data()));
    EXPECT_EQ(GOST_KEY_E_ARG, gost_r3410_94_check_key_pair(x.data(), nullptr));
    EXPECT_EQ(GOST_KEY_E_ARG, gost_r3410_94_compute_public_key(nullptr, y.data()));
    EXPECT_EQ(GOST_KEY_E_ARG, gost_r3410_94_compute_public_key(y.data(), nullptr));
}

}  // namespace
