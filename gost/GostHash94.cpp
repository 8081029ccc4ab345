#include "gost/GostHash94.h"

#include <algorithm>
#include <new>

int GostHash94::setData(const unsigned char *data, unsigned int size) {
    if (!data && size) return GOST_E_INVALID;
    try {
        std::vector<unsigned char> copy(data, data + size);
        m_data.swap(copy);
    } catch (const std::bad_alloc &) {
        return 1;
    }
    m_size = size;
    return 0;
}

int GostHash94::calculate() {
    return gost_r3411_94_digest(GOST_R3411_94_PARAMS_CRYPTOPRO, m_data.data(), m_size, m_hash);
}

int GostHash94::getHash(unsigned char *hash) const {
    if (!hash) return GOST_E_INVALID;
    std::reverse_copy(m_hash, m_hash + GOST_R3411_94_DIGEST_SIZE, hash);
    return 0;
}
