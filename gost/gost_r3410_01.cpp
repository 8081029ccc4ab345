// GOST R 34.10-2001 private-key generation: random 32-byte values accepted
// when they lie strictly between 0 and the curve's group order.
#include <cstring>
#include <memory>

#include <openssl/bn.h>

#include "gost/gost_r3410.h"

namespace {

struct Curve {
    int number;
    const char *name;
    unsigned char order[GOST_R3410_01_KEY_SIZE];  // group order q, big-endian
};

// Only the group order of each curve is needed here.
const Curve kCurves[] = {
    {GOST_R3410_01_TEST, "GOST_R3410_01_TEST",
     {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
      0x50, 0xfe, 0x8a, 0x18, 0x92, 0x97, 0x61, 0x54, 0xc5, 0x9c, 0xfc, 0x19, 0x3a, 0xcc, 0xf5, 0xb3}},
    {GOST_R3410_01_CRYPTOPRO_A, "GOST_R3410_01_CRYPTOPRO_A",
     {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
      0x6c, 0x61, 0x10, 0x70, 0x99, 0x5a, 0xd1, 0x00, 0x45, 0x84, 0x1b, 0x09, 0xb7, 0x61, 0xb8, 0x93}},
};

const Curve *find_curve(int number) {
    for (const Curve &c : kCurves)
        if (c.number == number) return &c;
    return nullptr;
}

struct BnClearFree {
    void operator()(BIGNUM *bn) const { BN_clear_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnClearFree>;

// Wipes a buffer of key material on every path.
struct Wiped {
    unsigned char bytes[GOST_R3410_01_KEY_SIZE] = {};
    ~Wiped() { OPENSSL_cleanse(bytes, sizeof bytes); }
};

struct PlainSource {
    gost_random_source fn;
};

int call_plain(void *arg, unsigned char *buffer, unsigned int length) {
    return static_cast<PlainSource *>(arg)->fn(buffer, length);
}

}  // namespace

extern "C" {

int gost_r3410_01_generate_private_key_ex(unsigned char *key, int curve_number,
                                          gost_random_source_ex random, void *arg) {
    if (!key || !random) return GOST_KEY_E_ARG;
    const Curve *curve = find_curve(curve_number);
    if (!curve) return GOST_KEY_E_CURVE;

    Bn q(BN_bin2bn(curve->order, sizeof curve->order, nullptr));
    Bn d(BN_new());
    if (!q || !d) return GOST_KEY_E_BN_READ;
    Wiped draw;
    for (int i = 0; i < GOST_R3410_01_MAX_DRAWS; ++i) {
        if (random(arg, draw.bytes, sizeof draw.bytes) != 0) return GOST_KEY_E_RANDOM;
        if (!BN_bin2bn(draw.bytes, sizeof draw.bytes, d.get())) return GOST_KEY_E_BN_READ;
        if (BN_is_zero(d.get()) || BN_cmp(d.get(), q.get()) >= 0) continue;
        // d written back big-endian is the accepted draw itself.
        if (BN_bn2binpad(d.get(), key, GOST_R3410_01_KEY_SIZE) != GOST_R3410_01_KEY_SIZE)
            return GOST_KEY_E_BN_WRITE;
        return GOST_KEY_OK;
    }
    return GOST_KEY_E_DRAWS;
}

int gost_r3410_01_generate_private_key(unsigned char *key, int curve, gost_random_source random) {
    if (!random) return GOST_KEY_E_ARG;
    PlainSource source{random};
    return gost_r3410_01_generate_private_key_ex(key, curve, call_plain, &source);
}

}  // extern "C"
