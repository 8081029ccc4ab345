// orva-ic volumes on the demo computer: the listing in JSON and text, the
// file systems as blkid reads them from the same nodes, errors.
#include "peers.h"
#include "process.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kOrvaIc = ORVA_IC_PATH;

class OrvaIcVolumes : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new simtest::TempDir;
        root_ = simtest::build_root(*dir_, simtest::read_file(DEMO_DESCRIPTION) + "disk sdz size=16M dev=65:160\n"
                                                                                    "  part 1 start=1M size=1M\n");
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    simtest::Result run(const std::vector<std::string> &args)
    {
        simtest::SysRoot sysroot(root_);
        std::vector<std::string> argv{kOrvaIc, "volumes"};
        argv.insert(argv.end(), args.begin(), args.end());
        return simtest::run_program(argv);
    }
    std::vector<std::string> jq(const std::string &json, const std::string &filter)
    {
        const std::string in = *dir_ / "in.json";
        std::ofstream(in) << json;
        int status;
        std::istringstream out(simtest::run("jq -r '" + filter + "' " + in, status));
        EXPECT_EQ(status, 0);
        std::vector<std::string> lines;
        for (std::string line; std::getline(out, line);)
            lines.push_back(line);
        return lines;
    }

    static simtest::TempDir *dir_;
    static std::string root_;
};
simtest::TempDir *OrvaIcVolumes::dir_;
std::string OrvaIcVolumes::root_;

TEST_F(OrvaIcVolumes, JsonListingAgreesWithBlkid)
{
    if (!simtest::have("jq") || !simtest::have("blkid"))
        GTEST_SKIP() << "jq or blkid is not installed";
    simtest::Result r = run({"--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The disk without a serial is reported on standard error, apart from
    // the document.
    EXPECT_NE(r.err.find("/block/sdz"), std::string::npos) << r.err;
    EXPECT_EQ(jq(r.out, ".disks[] | .identity + \" \" + .node"),
              (std::vector<std::string>{"Z3T0ABCD /dev/sda", "WD-WCC3F1234567 /dev/sdb"}));
    const auto parts = jq(r.out, ".disks[1].partitions[] | \"\\(.number) \\(.node) \\(.fs_type) \\(.uuid) \\(.title) \\(.volume_id)\"");
    EXPECT_EQ(parts, (std::vector<std::string>{
                         "1 /dev/sdb1 vfat 4A1F-0C2B Раздел 1 (vfat) 00000f0057442d5743433346313233343536370100",
                         "2 /dev/sdb2 ext4 3f5d6a2e-8c41-4b7e-9a0d-2c6e1b9f7a10 Раздел 2 (ext4) "
                         "00000f0057442d5743433346313233343536370200"}));
    EXPECT_EQ(jq(r.out, ".lvm_groups[] | .name + \" \" + (.volumes[] | .name + \" \" + .node + \" \" + .fs_type + \" \" + .title)"),
              (std::vector<std::string>{"vg-data lv-1 /dev/dm-0 ext4 Том lv-1"}));
    EXPECT_EQ(jq(r.out, ".image_disks | length"), (std::vector<std::string>{"0"}));

    // Every listed file system is the one blkid finds in the node's bytes.
    for (const std::string &line : jq(r.out, "[.disks[].partitions[], .lvm_groups[].volumes[]][] | select(.fs_type) | .node + \" \" + .fs_type")) {
        const std::string node = line.substr(0, line.find(' ')), type = line.substr(line.find(' ') + 1);
        // udev reports the empty swap partition's MBR type (0x82) and no file
        // system: the type comes from the foreign file-system table (Solaris
        // x86 shares 0x82), with nothing for blkid to find.
        if (node == "/dev/sda3") {
            EXPECT_EQ(type, "ufs");
            continue;
        }
        int status;
        const std::string out = simtest::run("blkid -o value -s TYPE " + root_ + node, status);
        EXPECT_EQ(out, type + "\n") << node;
    }
}

TEST_F(OrvaIcVolumes, TextListingAndErrors)
{
    simtest::Result r = run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("disk WD-WCC3F1234567  /dev/sdb\n"
                         "  partition 1  /dev/sdb1  vfat  4A1F-0C2B  \"Раздел 1 (vfat)\"\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("lvm group vg-data\n  volume lv-1  /dev/dm-0  ext4  -  \"Том lv-1\"\n"), std::string::npos);
    EXPECT_EQ(run({"--bogus"}).status, 2);
    EXPECT_EQ(run({"--image", "nocolon"}).status, 2);
    r = run({"--image", "no-such-uuid:/images/station.img:station"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no volume no-such-uuid"), std::string::npos) << r.err;
}

} // namespace
