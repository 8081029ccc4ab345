// Half-written hives and their transaction logs: both log formats, the
// choice and order of the logs, entries checked before use, hostile logs.
#include "log_build.h"
#include "reg_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace regtest;
using simcomputer::RegHive;

// The state a log leads to (final) from the state in the hive file (older);
// other is a third state that must never be read.
struct States {
    std::vector<uint8_t> older, final, other;
};

States states()
{
    RegHive h;
    h.root.child(u"Software\\Run").value(u"Agent") = {u"Agent", {}, 1, {'a', 0, 0, 0}, {}};
    h.root.child(u"Big").value(u"Blob").data = std::vector<uint8_t>(20000, 5);
    States s;
    s.older = simcomputer::write_regf(h);
    // A value added early in the hive moves everything after it, and the hive grows.
    h.root.child(u"Software\\Run").value(u"Evil") = {u"Evil", {}, 1, {'e', 0, 'v', 0, 0, 0}, {}};
    h.root.child(u"More").value(u"Data").data = std::vector<uint8_t>(9000, 7);
    s.final = simcomputer::write_regf(h);
    h.root.child(u"Other");
    s.other = simcomputer::write_regf(h);
    return s;
}

uint32_t bins_of(const std::vector<uint8_t> &hive)
{
    return get32(hive, 40);
}

class HiveLogs : public ::testing::Test {
protected:
    void SetUp() override { s_ = states(); }

    std::string put(const std::string &name, const std::vector<uint8_t> &bytes)
    {
        return write_file(dir_, name, bytes);
    }
    // Walks the hive file at path with flags; the keys, or the code.
    int read(const std::string &path, std::vector<Key> &keys, unsigned flags = 0, reg_recovery *rec = nullptr)
    {
        reg_hive *hive;
        int rc = reg_create_file_hive_ex(path.c_str(), flags, &hive, rec);
        if (rc)
            return rc;
        reg_key *root;
        rc = reg_get_root_key(hive, &root);
        if (!rc) {
            rc = walk(root, keys);
            reg_close_key(root);
        }
        reg_close_hive(hive);
        return rc;
    }
    std::vector<Key> keys_of(const std::vector<uint8_t> &clean)
    {
        std::vector<Key> keys;
        simtest::TempDir other("reg-log-clean");
        EXPECT_EQ(walk_file(write_file(other, "HIVE", clean), &keys), REG_OK);
        return keys;
    }
    LogEntry entry(uint32_t sequence, const std::vector<uint8_t> &state)
    {
        return {sequence, bins_of(state), changed_pages(state, s_.older)};
    }

    simtest::TempDir dir_{"reg-log"};
    States s_;
};

TEST(Marvin32, PublishedVectors)
{
    // Marvin32 vectors published with its reference implementation.
    const uint8_t af[] = {0xaf}, four[] = {0x86, 0x42, 0xdc, 0x59}, seven[] = {0xab, 0x42, 0x7e, 0xa8, 0xd1, 0x0f, 0xc7};
    EXPECT_EQ(marvin32(0x004FB61A001BDBCCull, nullptr, 0), 0x30ED35C100CD3C7Dull);
    EXPECT_EQ(marvin32(0x004FB61A001BDBCCull, af, 1), 0x48E73FC77D75DDC1ull);
    EXPECT_EQ(marvin32(0x004FB61A001BDBCCull, four, 4), 0x7008F2E87E9CF556ull);
    EXPECT_EQ(marvin32(0x004FB61A001BDBCCull, seven, 7), 0xE11847E4F0678C41ull);
    EXPECT_EQ(marvin32(0x804FB61A001BDBCCull, seven, 7), 0xE203987DBA252FB3ull);
}

// Newer-format logs: which entries of which logs are applied, in what order.
TEST_F(HiveLogs, EntriesAreReplayedInSequenceAcrossBothLogs)
{
    const std::vector<uint8_t> dirty = with_sequence(s_.older, 11, 10);
    const std::vector<LogPage> pages = changed_pages(s_.final, s_.older);
    ASSERT_GT(pages.size(), 2u);
    const std::vector<LogPage> first(pages.begin(), pages.begin() + long(pages.size() / 2)),
        second(pages.begin() + long(pages.size() / 2), pages.end());
    const uint32_t bins = bins_of(s_.final);
    LogEntry broken = entry(11, s_.other);
    struct Case {
        const char *name;
        std::vector<std::pair<std::string, std::vector<uint8_t>>> logs;
        int code;
        uint32_t sequence;
        std::function<void(std::vector<uint8_t> &)> damage; // of the first log
    };
    const Case cases[] = {
        {"one entry", {{"HIVE.LOG1", new_log(s_.final, 10, {entry(10, s_.final)})}}, REG_OK, 10, nullptr},
        {"two entries, the second log earlier",
         {{"HIVE.LOG1", new_log(s_.final, 11, {{11, bins, second}})},
          {"HIVE.LOG2", new_log(s_.final, 10, {{10, bins, first}})}},
         REG_OK, 11, nullptr},
        {"two entries, the first log earlier",
         {{"HIVE.LOG1", new_log(s_.final, 10, {{10, bins, first}})},
          {"HIVE.LOG2", new_log(s_.final, 11, {{11, bins, second}})}},
         REG_OK, 11, nullptr},
        {"names in another case, an empty log",
         {{"hive.log2", new_log(s_.final, 10, {entry(10, s_.final)})}, {"Hive.Log1", {}}}, REG_OK, 10, nullptr},
        {"the single older log", {{"HIVE.LOG", new_log(s_.final, 10, {entry(10, s_.final)})}}, REG_OK, 10, nullptr},
        {"a broken entry in the middle stops the replay",
         {{"HIVE.LOG1", new_log(s_.final, 10, {entry(10, s_.final), broken, entry(12, s_.other)})}}, REG_OK, 10,
         [](std::vector<uint8_t> &log) {
             const size_t second_entry = 512 + get32(log, 512 + 4);
             log[second_entry + 40 + 8 * 1 + 100] ^= 1; // a page byte: its checksum no longer matches
         }},
        {"a gap in the sequence stops the replay",
         {{"HIVE.LOG1", new_log(s_.final, 10, {entry(10, s_.final), entry(12, s_.other)})}}, REG_OK, 10, nullptr},
        {"the second log must continue the first",
         {{"HIVE.LOG1", new_log(s_.final, 10, {entry(10, s_.final)})},
          {"HIVE.LOG2", new_log(s_.final, 12, {entry(12, s_.other)})}},
         REG_OK, 10, nullptr},
        {"a log older than the hive", {{"HIVE.LOG1", new_log(s_.final, 9, {entry(9, s_.final)})}}, REG_ERR_DIRTY, 0,
         nullptr},
        {"a first entry that is not the log's", {{"HIVE.LOG1", new_log(s_.final, 10, {entry(11, s_.final)})}},
         REG_ERR_DIRTY, 0, nullptr},
        {"no log", {}, REG_ERR_DIRTY, 0, nullptr},
    };
    const std::vector<Key> want = keys_of(s_.final);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        simtest::TempDir dir("reg-log-case");
        const std::string hive = write_file(dir, "HIVE", dirty);
        for (size_t i = 0; i < c.logs.size(); ++i) {
            std::vector<uint8_t> bytes = c.logs[i].second;
            if (i == 0 && c.damage)
                c.damage(bytes);
            write_file(dir, c.logs[i].first, bytes);
        }
        std::vector<Key> keys;
        reg_recovery rec;
        ASSERT_EQ(read(hive, keys, 0, &rec), c.code);
        EXPECT_EQ(rec.dirty, 1);
        if (c.code)
            continue;
        EXPECT_TRUE(keys == want);
        EXPECT_EQ(rec.format, REG_LOG_NEW);
        EXPECT_EQ(rec.sequence, c.sequence);
        uint32_t entries = 0;
        for (unsigned i = 0; i < rec.log_count; ++i)
            entries += rec.logs[i].status == REG_OK ? rec.logs[i].entries : 0;
        EXPECT_EQ(entries, c.sequence - 9);
    }
}

TEST_F(HiveLogs, CleanHivesIgnoreTheirLogsAndNoLogsReadsTheBase)
{
    // A clean hive with a log that would change it.
    const std::string clean = put("HIVE", s_.final);
    put("HIVE.LOG1", new_log(s_.final, 1, {{1, bins_of(s_.other), changed_pages(s_.other, s_.final)}}));
    std::vector<Key> keys;
    reg_recovery rec;
    ASSERT_EQ(read(clean, keys, 0, &rec), REG_OK);
    EXPECT_TRUE(keys == keys_of(s_.final));
    EXPECT_EQ(rec.dirty, 0);
    EXPECT_EQ(rec.log_count, 0u);
    // A dirty one read alone is its base file.
    const std::string dirty = put("DIRTY", with_sequence(s_.older, 11, 10));
    put("DIRTY.LOG1", new_log(s_.final, 10, {entry(10, s_.final)}));
    keys.clear();
    ASSERT_EQ(read(dirty, keys, REG_HIVE_NO_LOGS, &rec), REG_OK);
    EXPECT_TRUE(keys == keys_of(s_.older));
    EXPECT_EQ(rec.dirty, 0);
}

TEST_F(HiveLogs, BaseBlockChecksumAsWindowsStoresIt)
{
    // The XOR of the first 127 dwords made 0: Windows stores it as 1.
    std::vector<uint8_t> h = s_.final;
    uint32_t x = 0;
    for (size_t i = 0; i < 127; ++i)
        x ^= get32(h, 4 * i);
    put32(h, 200, get32(h, 200) ^ x);
    for (const auto &c : {std::pair<uint32_t, int>{1, REG_OK}, {0, REG_OK}, {2, REG_ERR_FORMAT}}) {
        put32(h, 508, c.first);
        std::vector<Key> keys;
        EXPECT_EQ(read(put("HIVE", h), keys), c.second) << c.first;
    }
}

// Older-format logs: a base block copy, the bitmap and the dirty pages.
TEST_F(HiveLogs, DirtyPagesRecoverTheHiveAndItsBrokenBaseBlock)
{
    const std::vector<LogPage> pages = changed_pages(s_.final, s_.older);
    std::vector<uint8_t> broken_base = with_sequence(s_.older, 11, 10);
    broken_base[200] ^= 0xFF; // checksum no longer matches
    put32(broken_base, 4096 + 20, uint32_t(get32(s_.final, 12))); // the first bin's copy of the time
    put32(broken_base, 4096 + 24, uint32_t(get32(s_.final, 16)));
    std::vector<uint8_t> other_time = old_log(s_.final, 11, pages);
    put64(other_time, 12, 1);
    fix_checksum(other_time);
    std::vector<uint8_t> bad_bin = old_log(s_.final, 11, pages);
    const uint32_t bins = bins_of(s_.final);
    const size_t first_page = (512 + 4 + bins / 4096 + 511) / 512 * 512;
    put32(bad_bin, first_page + 4, 4096); // the first bin's header names another offset
    struct Case {
        const char *name;
        std::vector<uint8_t> hive, log;
        int code;
        int repaired;
    };
    const std::vector<uint8_t> log = old_log(s_.final, 11, pages);
    const Case cases[] = {
        {"sound base block", with_sequence(s_.older, 11, 10), log, REG_OK, 0},
        {"broken base block", broken_base, log, REG_OK, 1},
        {"a log of another write", with_sequence(s_.older, 11, 10), other_time, REG_ERR_DIRTY, 0},
        {"a log older than the hive", with_sequence(s_.older, 11, 10), old_log(s_.final, 9, pages), REG_ERR_DIRTY, 0},
        {"a log cut short", with_sequence(s_.older, 11, 10),
         std::vector<uint8_t>(log.begin(), log.end() - 512), REG_ERR_DIRTY, 0},
        {"a broken log and no sound base block", broken_base, other_time, REG_ERR_FORMAT, 0},
    };
    const std::vector<Key> want = keys_of(s_.final);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        simtest::TempDir dir("reg-log-case");
        const std::string hive = write_file(dir, "SAM", c.hive);
        write_file(dir, "SAM.LOG1", c.log);
        std::vector<Key> keys;
        reg_recovery rec;
        ASSERT_EQ(read(hive, keys, 0, &rec), c.code);
        if (c.code)
            continue;
        EXPECT_TRUE(keys == want);
        EXPECT_EQ(rec.format, REG_LOG_OLD);
        EXPECT_EQ(rec.base_repaired, c.repaired);
        EXPECT_EQ(rec.sequence, 11u);
        ASSERT_GE(rec.log_count, 1u);
        EXPECT_EQ(rec.logs[0].pages, pages.size() * 8);
    }
    // A dirty page that begins a bin with an unsound header stops the recovery before it.
    const std::string hive = put("SAM", with_sequence(s_.older, 11, 10));
    put("SAM.LOG1", bad_bin);
    std::vector<Key> keys;
    reg_recovery rec;
    read(hive, keys, 0, &rec);
    ASSERT_EQ(rec.log_count, 1u);
    EXPECT_EQ(rec.logs[0].pages, 0u);
}

// Entries whose fields are out of bounds (their checksums made to match)
// are refused before anything of them is used.
TEST_F(HiveLogs, HostileEntriesAreRefused)
{
    const std::vector<uint8_t> dirty = with_sequence(s_.older, 11, 10);
    const std::vector<uint8_t> good = log_entry(entry(10, s_.final));
    auto rehash = [](std::vector<uint8_t> &e) {
        put64(e, 24, marvin32(kLogSeed, e.data() + 40, e.size() - 40));
        put64(e, 32, marvin32(kLogSeed, e.data(), 32));
    };
    struct Case {
        const char *name;
        std::function<void(std::vector<uint8_t> &)> damage;
    };
    const Case cases[] = {
        {"size past the log", [](std::vector<uint8_t> &e) { put32(e, 4, 0x7FFFFE00); }},
        {"size not whole sectors", [](std::vector<uint8_t> &e) { put32(e, 4, get32(e, 4) - 4); }},
        {"size below the header", [](std::vector<uint8_t> &e) { put32(e, 4, 0); }},
        {"bins size not whole pages", [](std::vector<uint8_t> &e) { put32(e, 16, get32(e, 16) + 512); }},
        {"bins size above any hive", [](std::vector<uint8_t> &e) { put32(e, 16, 0x80000000u); }},
        {"no bins", [](std::vector<uint8_t> &e) { put32(e, 16, 0); }},
        {"more references than the entry holds", [](std::vector<uint8_t> &e) { put32(e, 20, 0xFFFFFFFFu); }},
        {"a page past the bins", [](std::vector<uint8_t> &e) { put32(e, 40, get32(e, 16)); }},
        {"a page across the end of the bins", [](std::vector<uint8_t> &e) { put32(e, 40, get32(e, 16) - 512); }},
        {"an empty page", [](std::vector<uint8_t> &e) { put32(e, 44, 0); }},
        {"a page not whole sectors", [](std::vector<uint8_t> &e) { put32(e, 44, 100); }},
        {"pages larger than the entry",
         [](std::vector<uint8_t> &e) {
             put32(e, 40, 0);
             put32(e, 44, get32(e, 16));
         }},
        {"a page offset off the sectors", [](std::vector<uint8_t> &e) { put32(e, 40, 8); }},
        {"another signature", [](std::vector<uint8_t> &e) { e[0] = 'h'; }},
    };
    // The code of the dirty hive with a log of the one entry e.
    auto code_with = [&](const std::vector<uint8_t> &e) {
        simtest::TempDir dir("reg-log-case");
        const std::string hive = write_file(dir, "HIVE", dirty);
        std::vector<uint8_t> log = log_base(s_.final, 6, 10);
        log.insert(log.end(), e.begin(), e.end());
        write_file(dir, "HIVE.LOG1", log);
        std::vector<Key> keys;
        return read(hive, keys);
    };
    ASSERT_EQ(code_with(good), REG_OK);
    for (const Case &c : cases) {
        std::vector<uint8_t> e = good;
        c.damage(e);
        rehash(e);
        EXPECT_EQ(code_with(e), REG_ERR_DIRTY) << c.name;
    }
    // Unhashed damage anywhere in the entry is caught by the checksums.
    for (size_t at : {size_t(8), size_t(12), size_t(40), good.size() - 1}) {
        std::vector<uint8_t> e = good;
        e[at] ^= 0x10;
        EXPECT_EQ(code_with(e), REG_ERR_DIRTY) << at;
    }
}

// A sparse log whose next entry claims 2 GiB: the log is refused
// before anything of it is hashed; an entry out of sequence there is only
// the end of the chain.
TEST_F(HiveLogs, EntriesPastTheReplayLimitRefuseTheLog)
{
    const std::vector<uint8_t> dirty = with_sequence(s_.older, 11, 10);
    for (const uint32_t sequence : {11u, 12u}) {
        SCOPED_TRACE(sequence);
        simtest::TempDir dir("reg-log-huge");
        const std::string hive = write_file(dir, "HIVE", dirty);
        std::vector<uint8_t> log = new_log(s_.final, 10, {entry(10, s_.final)});
        std::vector<uint8_t> h(512, 0);
        std::memcpy(h.data(), "HvLE", 4);
        const uint32_t size = 0x80000000u - 4096;
        put32(h, 4, size);
        put32(h, 12, sequence);
        put32(h, 16, bins_of(s_.final));
        put64(h, 32, marvin32(kLogSeed, h.data(), 32));
        const uint64_t end = log.size() + uint64_t(size);
        log.insert(log.end(), h.begin(), h.end());
        const std::string path = write_file(dir, "HIVE.LOG1", log);
        ASSERT_EQ(truncate(path.c_str(), off_t(end)), 0);
        std::vector<Key> keys;
        EXPECT_EQ(read(hive, keys), sequence == 11 ? REG_ERR_DIRTY : REG_OK);
    }
}

TEST_F(HiveLogs, LogsMustBeRegularFilesBesideTheHive)
{
    const std::string hive = put("HIVE", with_sequence(s_.older, 11, 10));
    ASSERT_EQ(mkfifo((dir_ / "HIVE.LOG1").c_str(), 0600), 0);
    // A link out of the hive's directory is not followed.
    simtest::TempDir elsewhere("reg-log-elsewhere");
    const std::string outside = write_file(elsewhere, "L", new_log(s_.final, 10, {entry(10, s_.final)}));
    ASSERT_EQ(symlink(outside.c_str(), (dir_ / "HIVE.LOG2").c_str()), 0);
    std::vector<Key> keys;
    reg_recovery rec;
    ASSERT_EQ(read(hive, keys, 0, &rec), REG_ERR_DIRTY);
    ASSERT_EQ(rec.log_count, 2u);
    EXPECT_STREQ(rec.logs[0].name, "HIVE.LOG1");
    EXPECT_EQ(rec.logs[0].status, REG_ERR_NOT_REGULAR);
    EXPECT_STREQ(rec.logs[1].name, "HIVE.LOG2");
    EXPECT_EQ(rec.logs[1].status, REG_ERR_OUTSIDE);
    // A hive file that is a FIFO is refused, never waited on.
    ASSERT_EQ(mkfifo((dir_ / "FIFO").c_str(), 0600), 0);
    EXPECT_EQ(read(dir_ / "FIFO", keys), REG_ERR_NOT_REGULAR);
}

} // namespace
