// GostHash94: digest of a byte string with GOST R 34.11-94, CryptoPro set.
#ifndef GOST_GOSTHASH94_H
#define GOST_GOSTHASH94_H

#include <cstdint>
#include <vector>

#include "gost/gost_r3411_94.h"

class GostHash94 {
public:
    GostHash94() = default;
    GostHash94(const GostHash94 &) = delete;
    GostHash94 &operator=(const GostHash94 &) = delete;

    // Keeps a copy of size bytes; 0, 1 if the copy cannot be allocated,
    // 2 for null data with a non-zero size. The previous data stays then.
    int setData(const unsigned char *data, unsigned int size);
    // Hashes the stored bytes; 0.
    int calculate();
    // Copies the 32 digest bytes into hash, last digest byte first; 0, or 2
    // for a null buffer.
    int getHash(unsigned char *hash) const;
    int getHashSize() const { return GOST_R3411_94_DIGEST_SIZE; }

private:
    std::vector<unsigned char> m_data;
    unsigned char m_hash[GOST_R3411_94_DIGEST_SIZE] = {};
    uint32_t m_size = 0;
};

#endif
