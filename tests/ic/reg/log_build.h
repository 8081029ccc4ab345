// Transaction logs laid out byte by byte, for the tests, the fuzz seeds and
// the benchmark: a hive's base block copy, then either log entries ("HvLE",
// with their Marvin32 checksums) or a dirty-page bitmap ("DIRT") and pages.
#ifndef TESTS_IC_REG_LOG_BUILD_H
#define TESTS_IC_REG_LOG_BUILD_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace regtest {

inline uint32_t get32(const std::vector<uint8_t> &b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

inline void put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

inline void put64(std::vector<uint8_t> &b, size_t at, uint64_t v)
{
    put32(b, at, uint32_t(v));
    put32(b, at + 4, uint32_t(v >> 32));
}

inline uint64_t marvin32(uint64_t seed, const uint8_t *p, size_t n)
{
    uint32_t lo = uint32_t(seed), hi = uint32_t(seed >> 32);
    auto rotl = [](uint32_t x, int k) { return (x << k) | (x >> (32 - k)); };
    auto block = [&](uint32_t v) {
        lo += v;
        hi ^= lo, lo = rotl(lo, 20), lo += hi, hi = rotl(hi, 9);
        hi ^= lo, lo = rotl(lo, 27), lo += hi, hi = rotl(hi, 19);
    };
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        block(uint32_t(p[i]) | uint32_t(p[i + 1]) << 8 | uint32_t(p[i + 2]) << 16 | uint32_t(p[i + 3]) << 24);
    uint32_t last = 0x80;
    for (size_t k = n; k-- > i;)
        last = last << 8 | p[k];
    block(last);
    block(0);
    return uint64_t(hi) << 32 | lo;
}

constexpr uint64_t kLogSeed = 0xC5554E7A884DEF82ull; // 82 EF 4D 88 7A 4E 55 C5

// The XOR checksum at 508 of a base block.
inline void fix_checksum(std::vector<uint8_t> &b, size_t at = 0)
{
    uint32_t x = 0;
    for (size_t i = 0; i < 127; ++i)
        x ^= get32(b, at + 4 * i);
    put32(b, at + 508, x);
}

// hive with both sequence numbers and its checksum set.
inline std::vector<uint8_t> with_sequence(std::vector<uint8_t> hive, uint32_t primary, uint32_t secondary)
{
    put32(hive, 4, primary);
    put32(hive, 8, secondary);
    fix_checksum(hive);
    return hive;
}

// A log's first sector: the hive's base block with file type and sequence numbers.
inline std::vector<uint8_t> log_base(const std::vector<uint8_t> &hive, uint32_t type, uint32_t sequence)
{
    std::vector<uint8_t> b(hive.begin(), hive.begin() + 512);
    put32(b, 28, type);
    put32(b, 4, sequence);
    put32(b, 8, sequence);
    fix_checksum(b);
    return b;
}

struct LogPage {
    uint32_t offset; // in the bins
    std::vector<uint8_t> bytes;
};

struct LogEntry {
    uint32_t sequence;
    uint32_t bins_size;
    std::vector<LogPage> pages;
};

// One "HvLE" entry, padded to 512 bytes, with both checksums.
inline std::vector<uint8_t> log_entry(const LogEntry &e)
{
    std::vector<uint8_t> b(40 + 8 * e.pages.size());
    std::memcpy(b.data(), "HvLE", 4);
    put32(b, 12, e.sequence);
    put32(b, 16, e.bins_size);
    put32(b, 20, uint32_t(e.pages.size()));
    for (size_t i = 0; i < e.pages.size(); ++i) {
        put32(b, 40 + 8 * i, e.pages[i].offset);
        put32(b, 44 + 8 * i, uint32_t(e.pages[i].bytes.size()));
    }
    for (const LogPage &p : e.pages)
        b.insert(b.end(), p.bytes.begin(), p.bytes.end());
    b.resize((b.size() + 511) / 512 * 512, 0);
    put32(b, 4, uint32_t(b.size()));
    put64(b, 24, marvin32(kLogSeed, b.data() + 40, b.size() - 40));
    put64(b, 32, marvin32(kLogSeed, b.data(), 32));
    return b;
}

// A log of the newer format whose base block copy carries sequence.
inline std::vector<uint8_t> new_log(const std::vector<uint8_t> &hive, uint32_t sequence,
                                    const std::vector<LogEntry> &entries)
{
    std::vector<uint8_t> log = log_base(hive, 6, sequence);
    for (const LogEntry &e : entries) {
        const std::vector<uint8_t> b = log_entry(e);
        log.insert(log.end(), b.begin(), b.end());
    }
    return log;
}

// A log of the older format: base block copy, bitmap of the 512-byte pages
// of the bins of hive, the pages in bitmap order.
inline std::vector<uint8_t> old_log(const std::vector<uint8_t> &hive, uint32_t sequence,
                                    const std::vector<LogPage> &pages)
{
    std::vector<uint8_t> log = log_base(hive, 1, sequence);
    const uint32_t bins = get32(hive, 40);
    std::vector<uint8_t> bitmap(bins / 4096, 0);
    std::vector<std::pair<uint32_t, const uint8_t *>> units;
    for (const LogPage &p : pages)
        for (size_t at = 0; at < p.bytes.size(); at += 512) {
            const uint32_t bit = (p.offset + uint32_t(at)) / 512;
            bitmap[bit / 8] |= uint8_t(1u << (bit % 8));
            units.push_back({bit, p.bytes.data() + at});
        }
    log.insert(log.end(), {'D', 'I', 'R', 'T'});
    log.insert(log.end(), bitmap.begin(), bitmap.end());
    log.resize((log.size() + 511) / 512 * 512, 0);
    std::sort(units.begin(), units.end());
    for (const auto &u : units)
        log.insert(log.end(), u.second, u.second + 512);
    return log;
}

// The 4096-byte pages of the bins of final that differ from older (or lie past its end).
inline std::vector<LogPage> changed_pages(const std::vector<uint8_t> &final, const std::vector<uint8_t> &older)
{
    std::vector<LogPage> pages;
    for (size_t at = 4096; at < final.size(); at += 4096) {
        const bool same = at + 4096 <= older.size() && std::memcmp(&final[at], &older[at], 4096) == 0;
        if (!same)
            pages.push_back({uint32_t(at - 4096), std::vector<uint8_t>(final.begin() + long(at),
                                                                       final.begin() + long(at) + 4096)});
    }
    return pages;
}

// A hive left half-written on its way from older to final: final's base
// block with the sequence numbers primary and secondary over older's bins.
inline std::vector<uint8_t> dirty_hive(const std::vector<uint8_t> &final, const std::vector<uint8_t> &older,
                                       uint32_t primary, uint32_t secondary)
{
    std::vector<uint8_t> d(final.begin(), final.begin() + 4096);
    d.insert(d.end(), older.begin() + 4096, older.end());
    return with_sequence(d, primary, secondary);
}

} // namespace regtest

#endif
