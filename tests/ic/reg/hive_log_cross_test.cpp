// Hives with transaction logs, written by the generator from the public
// description of both log formats: our reader gives the same keys, values
// and timestamps for a base with its logs as for the clean hive of the same
// final state, and refuses a dirty hive that no log recovers.  hivexml,
// which applies no logs, reads the clean hive as we do and the dirty base
// alone as the older state: the logs are what holds the difference.
#include "hive_log_cases.h"
#include "hivexml.h"
#include "reg_support.h"

#include "peers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

namespace {

using regtest::Key;
using simtest::HiveLogCase;

struct Files {
    std::string clean; // the final state, clean
    std::string dirty; // the base, with its logs beside it
    std::string older; // the base's own state, clean
};

Files write_case(const simtest::TempDir &dir, const HiveLogCase &c)
{
    Files f;
    for (const char *sub : {"clean", "dirty", "older"})
        std::filesystem::create_directories(dir / (c.name + "/" + sub));
    const std::string name = c.name + "/dirty/SOFTWARE";
    f.dirty = regtest::write_file(dir, name, simcomputer::write_regf(c.hive));
    for (const auto &log : simcomputer::write_regf_logs(c.hive))
        regtest::write_file(dir, name + log.first, log.second);
    simcomputer::RegHive older = c.hive;
    older.logs = {};
    f.older = regtest::write_file(dir, c.name + "/older/SOFTWARE", simcomputer::write_regf(older));
    if (const std::optional<simcomputer::RegHive> last = simcomputer::final_state(c.hive))
        f.clean = regtest::write_file(dir, c.name + "/clean/SOFTWARE", simcomputer::write_regf(*last));
    return f;
}

void expect_same_keys(const std::vector<Key> &ours, const std::vector<Key> &expected)
{
    ASSERT_EQ(ours.size(), expected.size());
    for (size_t k = 0; k < ours.size(); ++k) {
        ASSERT_EQ(ours[k].path, expected[k].path);
        EXPECT_EQ(ours[k].timestamp, expected[k].timestamp) << ours[k].path;
        EXPECT_TRUE(ours[k].values == expected[k].values) << ours[k].path;
    }
}

// A FILETIME as hivexml prints it (whole seconds, UTC).
std::string iso_time(uint64_t filetime)
{
    const time_t t = time_t(filetime / 10000000 - 11644473600ull);
    struct tm tm;
    gmtime_r(&t, &tm);
    char out[32];
    std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return out;
}

void expect_hivexml_reads(const std::string &path, const std::vector<Key> &ours)
{
    int status;
    const std::string xml = simtest::run("hivexml '" + path + "'", status);
    ASSERT_EQ(status, 0) << xml;
    const std::vector<regtest::PeerKey> peer = regtest::parse_hivexml(xml);
    ASSERT_EQ(ours.size(), peer.size());
    for (size_t k = 0; k < ours.size(); ++k) {
        ASSERT_EQ(ours[k].path, peer[k].path);
        EXPECT_EQ(iso_time(ours[k].timestamp), peer[k].mtime) << ours[k].path;
        ASSERT_EQ(ours[k].values.size(), peer[k].values.size()) << ours[k].path;
        for (size_t v = 0; v < ours[k].values.size(); ++v) {
            EXPECT_EQ(ours[k].values[v].name, peer[k].values[v].first) << ours[k].path;
            regtest::expect_same(ours[k].values[v], peer[k].values[v].second, ours[k].path);
        }
    }
}

// Our reader over the base with its logs and over the clean final hive.
void check_replay(const simtest::TempDir &dir, const HiveLogCase &c)
{
    const Files f = write_case(dir, c);
    std::vector<Key> dirty;
    const int rc = regtest::walk_file(f.dirty, &dirty);
    if (!c.recovers) {
        EXPECT_EQ(rc, REG_ERR_DIRTY) << "a dirty hive that no log recovers";
        return;
    }
    std::vector<Key> clean;
    ASSERT_EQ(regtest::walk_file(f.clean, &clean), REG_OK);
    ASSERT_EQ(rc, REG_OK);
    expect_same_keys(dirty, clean);
}

// hivexml over the clean final hive and over the base alone.
void check_peer(const simtest::TempDir &dir, const HiveLogCase &c)
{
    const Files f = write_case(dir, c);
    std::vector<Key> clean, older;
    ASSERT_EQ(regtest::walk_file(f.clean, &clean), REG_OK);
    ASSERT_EQ(regtest::walk_file(f.older, &older), REG_OK);
    expect_hivexml_reads(f.clean, clean);
    expect_hivexml_reads(f.dirty, older);
    // A dirty base alone is another state than the final one.
    const std::string head = simtest::read_file(f.dirty).substr(0, 12);
    const bool dirty = head.compare(4, 4, head, 8, 4) != 0;
    const bool same = older.size() == clean.size()
                      && std::equal(older.begin(), older.end(), clean.begin(), [](const Key &a, const Key &b) {
                             return a.path == b.path && a.timestamp == b.timestamp && a.values == b.values;
                         });
    EXPECT_NE(dirty, same);
}

TEST(RegLogCross, BaseWithLogsReadsAsTheCleanFinalHive)
{
    simtest::TempDir dir("orva-reg-logs");
    for (const HiveLogCase &c : simtest::hive_log_cases()) {
        SCOPED_TRACE(c.name);
        check_replay(dir, c);
    }
}

TEST(RegLogCross, HivexmlReadsTheCleanHiveAsWeDoAndTheBaseAsTheOlderState)
{
    if (!simtest::have("hivexml"))
        GTEST_SKIP() << "hivexml (libhivex-bin) is not installed";
    simtest::TempDir dir("orva-reg-logs");
    for (const HiveLogCase &c : simtest::hive_log_cases()) {
        // hivex refuses a base block whose checksum is bad.
        if (c.recovers && !c.hive.logs.torn) {
            SCOPED_TRACE(c.name);
            check_peer(dir, c);
        }
    }
}

} // namespace
