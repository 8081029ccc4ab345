// CRC-16 of identifier key material.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "gost/tm_crc16.h"

namespace {

// Bit-serial form of the same CRC, for comparison with the table.
uint16_t bitwise_crc(const std::vector<unsigned char> &data) {
    uint16_t r = 0x90F1;
    for (unsigned char b : data) {
        r ^= b;
        for (int i = 0; i < 8; ++i) r = (r & 1) ? static_cast<uint16_t>((r >> 1) ^ 0xA001) : r >> 1;
    }
    return r ^ 0xFFFF;
}

TEST(TmCrc16, KnownValues) {
    const unsigned char digits[] = "123456789";
    const unsigned char zero = 0;
    unsigned char ramp[30];
    for (int i = 0; i < 30; ++i) ramp[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(0x6F0E, tm_crc16_calc(digits, 0));
    EXPECT_EQ(0x6F0E, tm_crc16_calc(nullptr, 0));
    EXPECT_EQ(0x6F0E, tm_crc16_calc(nullptr, 5));
    EXPECT_EQ(0xBCC2, tm_crc16_calc(digits, 9));
    EXPECT_EQ(0x7BAE, tm_crc16_calc(&zero, 1));
    EXPECT_EQ(0xC8CE, tm_crc16_calc(ramp, 30));
}

TEST(TmCrc16, TableMatchesBitwiseDefinition) {
    std::mt19937 rng(16);
    for (size_t n : {1u, 2u, 30u, 32u, 255u, 4096u, 65535u}) {
        std::vector<unsigned char> data(n);
        for (auto &b : data) b = static_cast<unsigned char>(rng());
        EXPECT_EQ(bitwise_crc(data), tm_crc16_calc(data.data(), static_cast<uint16_t>(n))) << n;
    }
}

}  // namespace
