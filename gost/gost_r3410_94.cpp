// GOST R 34.10-94 public key y = a^x mod p with the standard's test
// parameters, by OpenSSL Montgomery exponentiation.
#include <cstring>
#include <memory>

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include "gost/gost_r3410.h"

namespace {

// id-GostR3410-94-TestParamSet, numbers in the length-byte format.
struct Params94 {
    unsigned char p[1 + 64];
    unsigned char q[1 + 32];
    unsigned char a[1 + 64];
};

const Params94 kParams94 = {
    // p
    {0x40, 0xe3, 0x79, 0xc3, 0xb1, 0xc9, 0x5e, 0x19, 0xf2, 0x6e, 0x97, 0x65,
     0xd1, 0x45, 0xc3, 0xb0, 0x6b, 0x78, 0x39, 0x58, 0x84, 0x39, 0x75, 0x17,
     0x23, 0x0f, 0x19, 0xe9, 0x43, 0xb3, 0x12, 0x0a, 0xea, 0x86, 0x33, 0xdc,
     0xe5, 0x2c, 0x32, 0x97, 0xbc, 0x63, 0x4d, 0x7a, 0x97, 0xe2, 0x10, 0x45,
     0x85, 0x69, 0x2a, 0xb8, 0x9e, 0xb8, 0x59, 0x93, 0xb6, 0x8f, 0x60, 0x96,
     0x89, 0xae, 0x72, 0x81, 0xee,},
    // q
    {0x20, 0x2d, 0xdd, 0x49, 0x6f, 0xac, 0xf0, 0x89, 0x72, 0x0d, 0xd5, 0x5d,
     0x28, 0xc7, 0xbd, 0x64, 0xb0, 0xdd, 0x09, 0x48, 0xf2, 0x88, 0x1e, 0xa3,
     0xcd, 0xdf, 0x5e, 0x26, 0xc8, 0x7e, 0x5e, 0x91, 0x98,},
    // a
    {0x40, 0x1c, 0xe2, 0x23, 0xce, 0xa6, 0x2a, 0x14, 0x5b, 0x49, 0xd8, 0xc3,
     0x6a, 0xd4, 0x2c, 0xbe, 0x8e, 0xb1, 0xaa, 0xb5, 0x2a, 0xbe, 0x48, 0xd6,
     0x04, 0x93, 0x50, 0x9e, 0xa4, 0x84, 0x59, 0x75, 0x06, 0xf2, 0x50, 0x0d,
     0xb5, 0x37, 0x88, 0x7c, 0x6f, 0x0a, 0x27, 0xb6, 0xb4, 0x38, 0x25, 0xad,
     0xaf, 0x27, 0x21, 0xde, 0xaf, 0xd4, 0x82, 0x95, 0x86, 0x4a, 0x77, 0xc8,
     0x00, 0x15, 0x03, 0x96, 0x9e,},
};

struct BnFree {
    void operator()(BIGNUM *bn) const { BN_clear_free(bn); }
};
struct BnCtxFree {
    void operator()(BN_CTX *ctx) const { BN_CTX_free(ctx); }
};
struct MontFree {
    void operator()(BN_MONT_CTX *m) const { BN_MONT_CTX_free(m); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using BnCtx = std::unique_ptr<BN_CTX, BnCtxFree>;
using Mont = std::unique_ptr<BN_MONT_CTX, MontFree>;

BIGNUM *read_number(const unsigned char *number, BIGNUM *to) {
    return BN_lebin2bn(number + 1, number[0], to);
}

// p, a and the Montgomery constants of p, set up once and then only read.
struct Modulus {
    Bn p, a;
    Mont mont;
    bool ready = false;

    Modulus() {
        BnCtx ctx(BN_CTX_new());
        p.reset(read_number(kParams94.p, nullptr));
        a.reset(read_number(kParams94.a, nullptr));
        mont.reset(BN_MONT_CTX_new());
        ready = ctx && p && a && mont && BN_MONT_CTX_set(mont.get(), p.get(), ctx.get());
    }
};

const Modulus &modulus() {
    static const Modulus m;
    return m;
}

}  // namespace

extern "C" {

int gost_r3410_94_compute_public_key(const unsigned char *x_number, unsigned char *y_number) {
    if (!x_number || !y_number) return GOST_KEY_E_ARG;
    const Modulus &m = modulus();
    if (!m.ready) return GOST_KEY_E_BN_READ;
    BnCtx ctx(BN_CTX_new());
    Bn x(BN_new());
    Bn y(BN_new());
    if (!ctx || !x || !y) return GOST_KEY_E_BN_READ;
    BN_set_flags(x.get(), BN_FLG_CONSTTIME);
    if (!read_number(x_number, x.get())) return GOST_KEY_E_BN_READ;
    if (!BN_mod_exp_mont_consttime(y.get(), m.a.get(), x.get(), m.p.get(), ctx.get(), m.mont.get()))
        return GOST_KEY_E_BN_READ;
    const int length = kParams94.p[0];
    if (BN_bn2lebinpad(y.get(), y_number + 1, length) != length) return GOST_KEY_E_BN_WRITE;
    y_number[0] = static_cast<unsigned char>(length);
    return GOST_KEY_OK;
}

int gost_r3410_94_check_key_pair(const unsigned char *private_key, const unsigned char *public_key) {
    if (!private_key || !public_key) return GOST_KEY_E_ARG;
    unsigned char x[1 + GOST_R3410_94_PRIVATE_SIZE];
    unsigned char y[1 + GOST_R3410_94_PUBLIC_SIZE];
    x[0] = GOST_R3410_94_PRIVATE_SIZE;
    std::memcpy(x + 1, private_key, GOST_R3410_94_PRIVATE_SIZE);
    y[0] = GOST_R3410_94_PUBLIC_SIZE;
    const int rc = gost_r3410_94_compute_public_key(x, y);
    OPENSSL_cleanse(x, sizeof x);
    if (rc != GOST_KEY_OK) return rc;
    return CRYPTO_memcmp(y + 1, public_key, GOST_R3410_94_PUBLIC_SIZE) == 0 ? 0 : 1;
}

}  // extern "C"
