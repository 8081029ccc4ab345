#include "gost/tm_crc16.h"

#include <array>

namespace {

constexpr std::array<uint16_t, 256> make_table() {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = i;
        for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ 0xA001u : r >> 1;
        t[i] = static_cast<uint16_t>(r);
    }
    return t;
}

constexpr std::array<uint16_t, 256> kTable = make_table();

}  // namespace

extern "C" uint16_t tm_crc16_calc(const unsigned char *data, uint16_t length) {
    uint16_t crc = 0x90F1;
    if (data) {
        for (uint16_t i = 0; i < length; ++i)
            crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFF]);
    }
    return static_cast<uint16_t>(crc ^ 0xFFFF);
}
