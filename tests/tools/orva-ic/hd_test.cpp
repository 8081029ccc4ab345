// orva-ic hd on simulated computers: every kind of disk the generator builds
// against sfdisk (partitions) and rhash (digests of the sectors cut with
// dd); byte images and differences; errors.
#include "peers.h"
#include "process.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

const std::string kOrvaIc = ORVA_IC_PATH;

using simtest::Result;

using simtest::lines;

// Partition number, start, size and type.
using Row = std::tuple<unsigned, unsigned long, unsigned long, unsigned>;

class OrvaIcHd : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *tool : {"sfdisk", "rhash", "jq", "dd"})
            if (!simtest::have(tool))
                GTEST_SKIP() << tool << " is not installed";
    }

    void computer(const std::string &text)
    {
        sysroot_.reset();
        root_ = simtest::build_root(dir_, text, "root" + std::to_string(++roots_));
        sysroot_ = std::make_unique<simtest::SysRoot>(root_);
    }

    // orva-ic hd with a time limit: a scan that spins is killed (status 124).
    Result run(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv{"timeout", "30", kOrvaIc, "hd"};
        argv.insert(argv.end(), args.begin(), args.end());
        return simtest::run_program(argv);
    }

    std::vector<std::string> jq(const std::string &json, const std::string &filter)
    {
        int status;
        std::string out;
        auto result = simtest::jq(json, filter, dir_ / "in.json", status, out);
        EXPECT_EQ(status, 0) << out;
        return result;
    }

    // What sfdisk reads from a disk node, a partition seen again (a chain
    // that loops) only once.
    std::vector<Row> sfdisk(const std::string &disk)
    {
        int status;
        const std::string node = root_ + "/dev/" + disk;
        // sfdisk's warnings about odd records come before the document.
        const std::string out = simtest::run("{ sfdisk --json " + node + " 2>/dev/null; } | sed -n '/^{/,$p'", status);
        std::vector<Row> rows;
        if (out.empty())
            return rows; // no partition table
        for (const std::string &line : jq(out, "(.partitiontable.partitions // [])[] | \"\\(.node) \\(.start) \\(.size) \\(.type)\"")) {
            std::istringstream in(line);
            std::string name, type;
            Row r;
            in >> name >> std::get<1>(r) >> std::get<2>(r) >> type;
            std::get<0>(r) = unsigned(std::stoul(name.substr(node.size())));
            std::get<3>(r) = unsigned(std::stoul(type, nullptr, 16));
            const bool seen = std::any_of(rows.begin(), rows.end(), [&r](const Row &o) {
                return std::get<1>(o) == std::get<1>(r) && std::get<2>(o) == std::get<2>(r) && std::get<3>(o) == std::get<3>(r);
            });
            if (!seen)
                rows.push_back(r);
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    // rhash of count sectors from skip of a disk node, cut with dd.
    std::string rhash(const std::string &disk, unsigned long skip, unsigned count)
    {
        int status;
        const std::string out = simtest::run("dd if=" + root_ + "/dev/" + disk + " bs=512 skip=" + std::to_string(skip) +
                                                 " count=" + std::to_string(count) +
                                                 " status=none | rhash --gost94-cryptopro --printf '%{gost94-cryptopro}' -",
                                             status);
        EXPECT_EQ(status, 0) << out;
        return out;
    }

    // The listing json of a disk agrees with sfdisk on its partitions (or
    // has the given number of them, all of which sfdisk lists too) and with
    // rhash on its digests.
    void agree(const std::string &json, const std::string &disk, const std::string &serial, int partitions)
    {
        const std::string select = ".disks[] | select(.name == \"" + serial + "\")";
        std::vector<Row> ours;
        for (const std::string &line : jq(json, select + " | .partitions[] | (., .logical[]) | \"\\(.number) \\(.start) \\(.size) \\(.type)\"")) {
            std::istringstream in(line);
            Row row;
            in >> std::get<0>(row) >> std::get<1>(row) >> std::get<2>(row) >> std::get<3>(row);
            ours.push_back(row);
        }
        std::sort(ours.begin(), ours.end());
        const std::vector<Row> theirs = sfdisk(disk);
        if (partitions < 0) {
            EXPECT_EQ(ours, theirs);
        } else {
            EXPECT_EQ(ours.size(), size_t(partitions));
            EXPECT_LT(ours.size(), theirs.size());
            EXPECT_TRUE(std::includes(theirs.begin(), theirs.end(), ours.begin(), ours.end()));
        }

        EXPECT_EQ(jq(json, select + " | .mbr_digest"), std::vector<std::string>{rhash(disk, 0, 1)});
        EXPECT_EQ(jq(json, select + " | .boot_area_digest"), std::vector<std::string>{rhash(disk, 1, 62)});
        for (const std::string &line : jq(json, select + " | .partitions[] | (., .logical[]) | \"\\(.start) \\(.pbr_digest) \\(.boot_area_digest)\"")) {
            std::istringstream in(line);
            unsigned long start;
            std::string pbr, boot;
            in >> start >> pbr >> boot;
            EXPECT_EQ(pbr, rhash(disk, start, 1)) << start;
            EXPECT_EQ(boot, rhash(disk, start + 1, 62)) << start;
        }
    }

    simtest::TempDir dir_;
    std::string root_;
    std::unique_ptr<simtest::SysRoot> sysroot_;
    int roots_ = 0;
};

struct DiskCase {
    const char *disk;
    const char *serial;
    const char *description; // the disk line's attributes and its part lines
    int partitions;          // -1: those sfdisk lists; else fewer, for tables read more strictly
    const char *diagnostic;  // expected on standard error, or null
};

const DiskCase kDisks[] = {
    {"sda", "PRIMARIES", "size=32M seed=mbr-a\n  part 1 start=1M size=8M type=7 boot=yes seed=a1\n"
                         "  part 2 start=9M size=8M type=c seed=a2\n  part 4 start=17M size=15M type=83\n",
     -1, nullptr},
    {"sdb", "LOGICALS", "size=48M seed=mbr-b\n  part 1 start=1M size=4M type=6 seed=b1\n"
                        "  part 2 start=5M size=43M type=5 seed=b2\n  part 5 start=6M size=8M type=7 seed=b5\n"
                        "  part 6 start=15M size=8M type=83 seed=b6\n  part 7 start=24M size=24M type=b seed=b7\n",
     -1, nullptr},
    {"sdc", "ZEROED", "size=8M table=none", -1, nullptr},
    {"sdd", "EMPTYTABLE", "size=8M table=mbr seed=mbr-d", -1, nullptr},
    {"sde", "UNSIGNED", "size=8M signature=no\n  part 1 start=1M size=4M\n", -1, nullptr},
    // A boot indicator other than 0x00 and 0x80 leaves the disk without
    // partitions, although sfdisk lists them.
    {"sdf", "BADBOOT", "size=8M\n  part 1 start=1M size=4M boot=0x81\n", 0, nullptr},
    {"sdg", "LOOPING", "size=32M\n  part 1 start=1M size=30M type=f\n  part 5 start=2M size=8M seed=g5\n"
                       "  part 6 start=11M size=8M next=5 seed=g6\n",
     -1, "LOOPING: extended boot record at sector 20480 links back to sector 2048"},
    {"sdh", "OUTSIDE", "size=32M\n  part 1 start=1M size=30M type=85\n  part 5 start=2M size=8M\n"
                       "  part 6 start=11M size=8M next_at=1G\n",
     -1, "OUTSIDE: extended boot record at sector 2099200 lies outside the disk"},
    // An extended partition whose first record is unsigned has no logical
    // partitions; sfdisk lists the one it describes.
    {"sdi", "NOEBRSIG", "size=32M\n  part 1 start=1M size=30M type=5\n  part 5 start=2M size=8M ebr_signature=no\n",
     1, nullptr},
};

TEST_F(OrvaIcHd, EveryDiskKindAgreesWithSfdiskAndRhash)
{
    std::string text = "pci 0000:00:1f.2 vendor=8086 device=8c02 class=010601\n";
    for (const DiskCase &c : kDisks)
        text += std::string("disk ") + c.disk + " controller=0000:00:1f.2 serial=" + c.serial + " " + c.description + "\n";
    computer(text);
    setenv("LOG_LEVEL", "warn", 1);
    const Result r = run({"--json"});
    unsetenv("LOG_LEVEL");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(jq(r.out, ".disks[].name"), [] {
        std::vector<std::string> names;
        for (const DiskCase &c : kDisks)
            names.push_back(c.serial);
        return names;
    }());

    for (const DiskCase &c : kDisks) {
        SCOPED_TRACE(c.serial);
        agree(r.out, c.disk, c.serial, c.partitions);
        if (c.diagnostic) {
            EXPECT_NE(r.err.find(c.diagnostic), std::string::npos) << r.err;
        }
    }
    // Seeds make the boot sectors differ from each other.
    EXPECT_EQ(jq(r.out, "[.disks[] | .mbr_digest] | unique | length"), std::vector<std::string>{"9"});
}

TEST_F(OrvaIcHd, ImageMadeBySfdisk)
{
    // A table written by a partitioning tool, with its own placement of the
    // extended boot records and their links, taken in through image=.
    const std::string image = dir_ / "tool.img";
    int status;
    std::string out = simtest::run("truncate -s 64M " + image + " && printf '%s\\n' 'label: dos' "
                                   "'start=2048, size=16384, type=7, bootable' 'size=32768, type=5' "
                                   "'size=4096, type=82' 'size=4096, type=83' "
                                   "'size=8192, type=83' 'size=8192, type=b' 'size=8192, type=7' "
                                   "| sfdisk -q " + image,
                                   status);
    ASSERT_EQ(status, 0) << out;
    out = simtest::run("printf 'boot code' | dd of=" + image + " conv=notrunc status=none", status);
    ASSERT_EQ(status, 0) << out;
    computer("disk sda image=" + image + " serial=TOOLMADE\n");
    const Result r = run({"--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(jq(r.out, ".disks[0].partitions[] | \"\\(.number) \\(.logical | length)\""),
              (std::vector<std::string>{"1 0", "2 3", "3 0", "4 0"}));
    agree(r.out, "sda", "TOOLMADE", -1);
}

TEST_F(OrvaIcHd, SavedImageAndDifferences)
{
    const std::string disks =
        "disk sda size=32M model=A serial=TWIN seed=one\n  part 1 start=1M size=8M type=7\n"
        "disk sdb size=32M model=B serial=TWIN seed=two\n  part 1 start=1M size=30M type=f\n  part 5 start=2M size=8M\n";
    computer(disks);
    const std::string saved = dir_ / "hd.bin";
    Result r = run({"--save", saved});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run({"--diff", saved});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "no differences\n");

    // The first disk's partition moved (its MBR changes with it); the second
    // disk got a new boot loader and one logical partition more (its first
    // extended record changes). Two disks with one serial pair in order.
    computer("disk sda size=32M model=A serial=TWIN seed=one\n  part 1 start=2M size=8M type=7\n"
             "disk sdb size=32M model=B serial=TWIN seed=three\n  part 1 start=1M size=30M type=f\n  part 5 start=2M size=8M\n"
             "  part 6 start=11M size=8M\n");
    r = run({"--diff", saved, "--json"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(jq(r.out, ".flags, .flag_names[]"), (std::vector<std::string>{"1", "changed"}));
    EXPECT_EQ(jq(r.out, ".disks[] | \"\\(.name) \\(.status_name) \\(.flag_names | join(\",\"))\""),
              (std::vector<std::string>{"TWIN modified mbr", "TWIN modified mbr,boot_area"}));
    EXPECT_EQ(jq(r.out, ".disks[0].partitions[] | \"\\(.start) \\(.status_name)\""),
              (std::vector<std::string>{"2048 removed", "4096 new"}));
    EXPECT_EQ(jq(r.out, ".disks[1].partitions[0] | (.status_name, (.logical[] | \"\\(.start) \\(.status_name)\"))"),
              (std::vector<std::string>{"modified", "4096 unchanged", "22528 new"}));
    r = run({"--diff", saved});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{
                                "disk TWIN: modified (mbr)", "  partition at 2048, size 16384, type 0x07: removed",
                                "  partition at 4096, size 16384, type 0x07: new", "disk TWIN: modified (mbr, boot_area)",
                                "  partition at 2048, size 61440, type 0x0f: modified (pbr)",
                                "    partition at 22528, size 16384, type 0x83: new"}));
}

TEST_F(OrvaIcHd, Failures)
{
    computer("disk sda size=4M serial=ONE\n");
    const std::string garbage = dir_ / "garbage.bin";
    std::ofstream(garbage) << "not an inventory";
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *message;
    } cases[] = {
        {{"--diff", garbage}, 1, "not a partition-table inventory image"},
        {{"--diff", dir_ / "missing.bin"}, 1, "No such file"},
        {{"--save", dir_ / "no/such/dir/hd.bin"}, 1, "No such file"},
        {{"--save"}, 2, "take a file name"},
        {{"--save", "a", "--json"}, 2, "--save goes alone"},
        {{"--frobnicate"}, 2, "unknown argument"},
    };
    for (const Case &c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    // A fixed disk without a serial number fails the whole scan.
    computer("disk sda size=4M serial=ONE\ndisk sdb size=4M\n");
    const Result r = run({"--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot read the disks"), std::string::npos) << r.err;
}

} // namespace
