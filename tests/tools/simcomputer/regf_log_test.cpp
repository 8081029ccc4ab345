// Transaction logs of the REGF writer: the Marvin32 hash, the logs of every
// case replayed as the public description of both formats says Windows
// replays them, and the description lines that write them.
#include "hive_log_cases.h"
#include "sim_root.h"
#include "simcomputer/regf.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t u32(const Bytes &b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

uint64_t u64(const Bytes &b, size_t at)
{
    return u32(b, at) | uint64_t(u32(b, at + 4)) << 32;
}

TEST(RegfLog, Marvin32MatchesPublishedVectors)
{
    const struct {
        uint64_t seed;
        Bytes data;
        uint64_t hash;
    } vectors[] = {
        {0x004FB61A001BDBCCull, {}, 0x30ED35C100CD3C7Dull},
        {0x004FB61A001BDBCCull, {0xaf}, 0x48E73FC77D75DDC1ull},
        {0x004FB61A001BDBCCull, {0xab, 0x42, 0x7e, 0xa8, 0xd1, 0x0f, 0xc7}, 0xE11847E4F0678C41ull},
        {0x804FB61A001BDBCCull, {0x15, 0x3f, 0xb7, 0x98, 0x26}, 0x0A06114B13464DBDull},
        {0x804FB61A801BDBCCull, {0xFF, 0x00, 0xFF, 0x00}, 0xD3BEC7726B057943ull},
    };
    for (const auto &v : vectors)
        EXPECT_EQ(simcomputer::marvin32(v.seed, v.data.data(), v.data.size()), v.hash) << v.data.size();
}

// A replay written from the public description of the formats, apart from
// the writer: the base block and hive bins Windows would load, or false for
// a dirty hive that no log recovers.
class Replay {
public:
    bool run(const Bytes &hive, const std::map<std::string, Bytes> &logs, Bytes &out)
    {
        Bytes block(hive.begin(), hive.begin() + 4096);
        const bool valid = checksum_ok(block);
        out = hive;
        if (valid && u32(block, 4) == u32(block, 8))
            return true;
        std::vector<const Bytes *> files;
        for (const char *suffix : {".LOG1", ".LOG2", ".LOG"})
            if (logs.count(suffix) && logs.at(suffix).size() >= 512 && checksum_ok(logs.at(suffix)))
                files.push_back(&logs.at(suffix));
        if (files.empty())
            return false;
        return u32(*files[0], 28) == 6 ? replay_new(block, valid, files, out) : replay_old(block, valid, files, out);
    }

private:
    static constexpr uint64_t kSeed = 0xC5554E7A884DEF82ull;

    static bool checksum_ok(const Bytes &b)
    {
        uint32_t sum = 0;
        for (size_t i = 0; i < 127; ++i)
            sum ^= u32(b, 4 * i);
        sum = sum == 0 ? 1 : sum == 0xFFFFFFFFu ? 0xFFFFFFFEu : sum;
        return sum == u32(b, 508);
    }

    static void put32(Bytes &b, size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b[at + i] = uint8_t(v >> (8 * i));
    }

    static void finish(const Bytes &block, const Bytes &bins, Bytes &out)
    {
        out.assign(block.begin(), block.begin() + 512);
        out.resize(4096, 0);
        put32(out, 28, 0);
        out.insert(out.end(), bins.begin(), bins.end());
    }

    struct Entry {
        uint32_t sequence, bins_size;
        size_t at; // in the log
        std::vector<std::pair<uint32_t, uint32_t>> refs;
    };

    // The leading entries of a log that pass their checks.
    static std::vector<Entry> entries(const Bytes &log)
    {
        std::vector<Entry> out;
        for (size_t at = 512; at + 40 <= log.size();) {
            const uint32_t size = u32(log, at + 4), count = u32(log, at + 20);
            if (std::string(log.begin() + long(at), log.begin() + long(at) + 4) != "HvLE" || size % 512 || size < 40
                || size > log.size() - at || u32(log, at + 16) % 4096 || count > (size - 40) / 8)
                break;
            if (simcomputer::marvin32(kSeed, &log[at], 32) != u64(log, at + 32)
                || simcomputer::marvin32(kSeed, &log[at + 40], size - 40) != u64(log, at + 24))
                break;
            Entry e{u32(log, at + 12), u32(log, at + 16), at + 40 + 8 * size_t(count), {}};
            for (uint32_t i = 0; i < count; ++i)
                e.refs.emplace_back(u32(log, at + 40 + 8 * i), u32(log, at + 44 + 8 * i));
            out.push_back(e);
            at += size;
        }
        return out;
    }

    // Entries from the log with the earlier ones, then the other, numbered
    // on from the hive's secondary sequence number.
    static bool replay_new(Bytes block, bool valid, std::vector<const Bytes *> files, Bytes &out)
    {
        std::vector<std::vector<Entry>> lists;
        for (const Bytes *f : files)
            lists.push_back(entries(*f));
        std::vector<size_t> order;
        for (size_t i = 0; i < files.size(); ++i)
            if (!lists[i].empty())
                order.push_back(i);
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return u32(*files[a], 4) < u32(*files[b], 4); });
        if (order.empty())
            return false;
        if (!valid) { // the base block of the log with the latest entries, and that log alone
            order = {order.back()};
            block = Bytes(files[order[0]]->begin(), files[order[0]]->begin() + 512);
        }
        Bytes bins(out.begin() + 4096, out.begin() + 4096 + u32(block, 40));
        uint32_t next = 0, applied = 0;
        for (size_t f : order) {
            for (const Entry &e : lists[f]) {
                const bool first = applied == 0;
                if (first ? e.sequence != u32(*files[f], 4) || e.sequence < u32(block, 8) : e.sequence != next)
                    break;
                bins.resize(e.bins_size, 0);
                size_t from = e.at;
                for (const auto &r : e.refs) {
                    std::copy(files[f]->begin() + long(from), files[f]->begin() + long(from + r.second),
                              bins.begin() + r.first);
                    from += r.second;
                }
                put32(block, 40, e.bins_size);
                next = e.sequence + 1;
                ++applied;
            }
        }
        finish(block, bins, out);
        return applied > 0;
    }

    // The first valid log whose time is the hive's (the first bin's when
    // the base block is broken): its bitmap's pages over the hive bins.
    static bool replay_old(const Bytes &block, bool valid, std::vector<const Bytes *> files, Bytes &out)
    {
        const uint64_t time = valid ? u64(block, 12) : u64(out, 4096 + 20);
        for (const Bytes *f : files) {
            const Bytes &log = *f;
            if (u32(log, 28) != 1 || u32(log, 4) != u32(log, 8) || u64(log, 12) != time)
                continue;
            const size_t bits = u32(log, 40) / 512;
            if (std::string(log.begin() + 512, log.begin() + 516) != "DIRT")
                return false;
            Bytes bins(out.begin() + 4096, out.end());
            bins.resize(u32(log, 40), 0);
            size_t page = (512 + 4 + bits / 8 + 511) / 512 * 512;
            for (size_t bit = 0; bit < bits; ++bit)
                if (log[516 + bit / 8] >> (bit % 8) & 1) {
                    std::copy(log.begin() + long(page), log.begin() + long(page + 512), bins.begin() + long(512 * bit));
                    page += 512;
                }
            finish(valid ? block : log, bins, out);
            return true;
        }
        return false;
    }
};

TEST(RegfLog, EveryCaseReplaysToItsFinalState)
{
    for (const simtest::HiveLogCase &c : simtest::hive_log_cases()) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(simcomputer::regf_log_error(c.hive), "");
        const Bytes base = simcomputer::write_regf(c.hive);
        std::map<std::string, Bytes> logs;
        for (auto &log : simcomputer::write_regf_logs(c.hive))
            logs[log.first] = log.second;
        Bytes replayed;
        const bool recovered = Replay().run(base, logs, replayed);
        const std::optional<simcomputer::RegHive> last = simcomputer::final_state(c.hive);
        ASSERT_EQ(recovered, c.recovers);
        ASSERT_EQ(last.has_value(), c.recovers);
        if (!recovered)
            continue;
        const Bytes clean = simcomputer::write_regf(*last);
        EXPECT_EQ(u32(replayed, 36), u32(clean, 36)) << "root cell";
        ASSERT_EQ(u32(replayed, 40), u32(clean, 40)) << "hive bins size";
        EXPECT_TRUE(std::equal(clean.begin() + 4096, clean.end(), replayed.begin() + 4096)) << "hive bins";
        // A dirty file alone holds an older state, a clean one the final state.
        const bool dirty = u32(base, 4) != u32(base, 8);
        EXPECT_EQ(dirty, base.size() != clean.size() || !std::equal(clean.begin() + 4096, clean.end(), base.begin() + 4096));
    }
}

} // namespace
