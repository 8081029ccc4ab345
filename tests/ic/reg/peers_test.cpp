// Every hive the generator writes reads the same through our reader and
// through hivex (hivexml): keys, value names, types and data.
#include "hivexml.h"
#include "reg_support.h"
#include "sample.h"

#include "peers.h"
#include "sim_root.h"

#include <gtest/gtest.h>

namespace {

using regtest::Key;
using regtest::PeerKey;

TEST(RegPeers, EveryGeneratedHiveReadsAsHivexReadsIt)
{
    if (!simtest::have("hivexml"))
        GTEST_SKIP() << "hivexml (libhivex-bin) is not installed";
    simtest::TempDir dir("orva-reg");
    simcomputer::Computer c;
    const std::string root = simtest::build_root(dir, kSampleWindows, "root", &c);
    const auto files = simcomputer::windows_files(c.windows.at(0));
    ASSERT_EQ(files.size(), 7u); // five hives and two profiles that resolve
    for (const auto &f : files) {
        SCOPED_TRACE(f.first);
        const std::string path = root + "/" + f.first;
        std::vector<Key> ours;
        ASSERT_EQ(regtest::walk_file(path, &ours), REG_OK);
        int status;
        const std::string xml = simtest::run("hivexml '" + path + "'", status);
        ASSERT_EQ(status, 0) << xml;
        const std::vector<PeerKey> peer = regtest::parse_hivexml(xml);
        ASSERT_EQ(ours.size(), peer.size());
        for (size_t k = 0; k < ours.size(); ++k) {
            ASSERT_EQ(ours[k].path, peer[k].path);
            ASSERT_EQ(ours[k].values.size(), peer[k].values.size()) << ours[k].path;
            for (size_t v = 0; v < ours[k].values.size(); ++v) {
                const std::string where = ours[k].path + " : " + ours[k].values[v].name;
                EXPECT_EQ(ours[k].values[v].name, peer[k].values[v].first) << where;
                regtest::expect_same(ours[k].values[v], peer[k].values[v].second, where);
            }
        }
    }
}

} // namespace
