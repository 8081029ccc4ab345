// orva-ic check over a simulated computer whose reference was approved and
// which was then changed: special files in place of controlled files,
// partitions left out of control, renames that fed a
// directory hash the same bytes, sizes that changed. Each scenario is a
// computer, what is approved on it, what is done to it, the verdict and a
// line of the report; the check ends in seconds and leaves the disk images
// as they were (root only: loop devices and mounts).
#include "process.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kOrvaIc = ORVA_IC_PATH;
const std::string kOrvaSim = ORVA_SIM_PATH;

struct Scenario {
    std::string before;                          // the computer when its reference is approved
    std::string stored_list;                     // hex of a list image written to LIST first, or none
    std::vector<std::vector<std::string>> approve; // orva-ic commands; "LIST" is the list file
    std::string after;                           // the computer checked (empty: before again)
    std::function<void(const std::string &root)> change; // done to it before its volumes are attached
    int status;                                  // of orva-ic check
    std::string line;                            // a line of its report
};

// The computer: one disk, an ext4 volume with a few files and two
// partitions without a file system. `volume` adds lines to the volume; the
// seeds fill the MBR's boot code and sectors 1-62 of the disk and the first
// 63 sectors of partitions 2 and 3.
std::string computer(const std::string &volume = "", const std::string &disk_seed = "none",
                     const std::string &part2_seed = "two", const std::string &part3_seed = "three")
{
    return "cmdline \"ro orva\"\n"
           "disk sda size=96M serial=FC0001" + (disk_seed == "none" ? std::string() : " seed=" + disk_seed) + "\n"
           "  part 1 start=1M size=40M\n"
           "    fs ext4 uuid=6b0c5a1e-0d1f-4c3b-9a8e-1f2e3d4c5b6a\n"
           "      file /d/ab content=\"X\"\n"
           "      file /d/c content=\"Y\"\n"
           "      file /etc/hosts content=\"127.0.0.1 localhost\"\n" +
           volume + "  part 2 start=48M size=8M seed=" + part2_seed + "\n  part 3 start=64M size=8M seed=" +
           part3_seed + "\n";
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    return text.replace(text.find(from), from.size(), to);
}

const char kVolume[] = "disk:FC0001:1";
// Sets the size of a file of the ext4 volume (its blocks stay as they are:
// anything beyond them reads as zeros).
std::function<void(const std::string &)> set_size(const std::string &path, unsigned long long size)
{
    return [path, size](const std::string &root) {
        const simtest::Result r = simtest::run_program(
            {"debugfs", "-w", "-R", "sif " + path + " size " + std::to_string(size), root + "/dev/sda1"});
        ASSERT_EQ(r.status, 0) << r.err;
    };
}

Scenario a_pipe_in_place_of_controlled_files()
{
    return {computer(), "",
            {{"fs", "add", "--list", "LIST", kVolume, "/etc/hosts"},
             {"fs", "add", "--list", "LIST", kVolume, "/d"},
             {"module", "approve", "fs", "LIST"}},
            replaced(replaced(computer(), "file /etc/hosts content=\"127.0.0.1 localhost\"", "fifo /etc/hosts"),
                     "file /d/c content=\"Y\"", "fifo /d/c"),
            nullptr, 3, "/etc/hosts - Файл отсутствует;"};
}

Scenario a_partition_out_of_control_changes_its_boot_sectors()
{
    return {computer(), "", {{"module", "approve", "hd", "--except", "FC0001:2"}},
            computer("", "none", "changed"), nullptr, 0, "Контроль дисков: passed"};
}

Scenario the_mbr_counts_beside_a_partition_out_of_control()
{
    return {computer(), "", {{"module", "approve", "hd", "--except", "FC0001:2"}},
            computer("", "changed"), nullptr, 3,
            "Диск был модифицирован: MBR модифицирована; сектора изменены;"};
}

Scenario a_partition_under_control_beside_one_out_of_control()
{
    return {computer(), "", {{"module", "approve", "hd", "--except", "FC0001:2"}},
            computer("", "none", "two", "changed"), nullptr, 3,
            "Диск был модифицирован: структура изменена;"};
}

Scenario names_renamed_so_that_they_feed_the_same_bytes()
{
    // ab, c → a, bc: the directory's hash took "abc" both times before.
    return {computer(), "",
            {{"fs", "add", "--list", "LIST", kVolume, "/d", "--flags", "0"}, {"module", "approve", "fs", "LIST"}},
            replaced(replaced(computer(), "/d/ab", "/d/a"), "/d/c", "/d/bc"), nullptr, 3,
            "./d - Целостность каталога нарушена;"};
}

// /d (names only) and /d/ab (contents and attributes) on this computer,
// recorded by the program before directory hashes took name lengths.
const char kListRecordedBefore[] =
    "010000000600464330303031010002000000010002002f6400000000a9044cb7ce0525853200a960e9af5a52d9938ad8887aaa1a61c4"
    "dd35b6662c14000005002f642f61620c00fe1a466c224c06e7d0796ca2e0a6d5613bdaa2f0fea52d967b90fb1a38797ddfa481000000"
    "0000000100000000e10b5e";

Scenario a_list_recorded_before_still_verifies()
{
    return {computer(), kListRecordedBefore, {{"module", "approve", "fs", "LIST"}}, "", nullptr, 0, "/d/ab - ОК"};
}

Scenario a_huge_sparse_file_in_place_of_a_controlled_one()
{
    // Hashing a terabyte of zeros would hold the boot for hours.
    return {computer(), "",
            {{"fs", "add", "--list", "LIST", kVolume, "/etc/hosts"}, {"module", "approve", "fs", "LIST"}}, "",
            set_size("/etc/hosts", 1ull << 40), 3, "/etc/hosts - Нарушена целостность; Изменен размер;"};
}

Scenario a_file_grown_by_4_gib_in_a_directory_under_attribute_control()
{
    return {computer(), "",
            {{"fs", "add", "--list", "LIST", kVolume, "/etc", "--flags", "8"}, {"module", "approve", "fs", "LIST"}},
            "", set_size("/etc/hosts", (1ull << 32) + 19), 3, "./etc - Целостность каталога нарушена;"};
}

std::string unhex(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out += char(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

// Whether text holds line as one of its lines, indentation aside.
bool has_line(const std::string &text, const std::string &line)
{
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (l.substr(std::min(l.find_first_not_of(' '), l.size())) == line)
            return true;
    return false;
}

// SHA-256 of every regular file behind the computer's disks.
std::map<std::string, std::string> disk_digests(const std::string &root)
{
    std::map<std::string, std::string> out;
    for (const char *dir : {"/dev", "/.loops"}) {
        std::error_code ec;
        for (const auto &e : std::filesystem::directory_iterator(root + dir, ec)) {
            if (!e.is_regular_file())
                continue;
            const simtest::Result r = simtest::run_program({"sha256sum", e.path().string()});
            out[e.path().string()] = r.out.substr(0, 64);
        }
    }
    return out;
}

// A computer built into dir/name as the system root, its volumes on loop
// devices while it lives.
class Computer {
public:
    Computer(const simtest::TempDir &dir, const std::string &name, const std::string &text,
             const std::function<void(const std::string &)> &change)
        : root_(simtest::build_root(dir, text, name))
    {
        if (change)
            change(root_);
        simcomputer::Error err;
        looped_ = simcomputer::attach_loops(root_, err);
        EXPECT_TRUE(looped_) << err.text();
        sysroot_.emplace(root_);
    }
    ~Computer()
    {
        simcomputer::Error err;
        if (looped_) {
            EXPECT_TRUE(simcomputer::detach_loops(root_, err)) << err.text();
        }
    }
    const std::string &root() const { return root_; }
    bool ok() const { return looped_; }

private:
    std::string root_;
    bool looped_ = false;
    std::optional<simtest::SysRoot> sysroot_;
};

void run(const Scenario &s)
{
    simtest::TempDir dir("orva-ic-scenario");
    const std::string module = dir / "module", list = dir / "list";
    setenv("ORVA_SIM_DIR", module.c_str(), 1);
    ASSERT_EQ(simtest::run_program({kOrvaSim, "init", "--class", "1"}).status, 0);
    if (!s.stored_list.empty())
        std::ofstream(list, std::ios::binary) << unhex(s.stored_list);
    {
        Computer before(dir, "before", s.before, nullptr);
        ASSERT_TRUE(before.ok());
        for (std::vector<std::string> args : s.approve) {
            for (std::string &a : args)
                if (a == "LIST")
                    a = list;
            args.insert(args.begin(), kOrvaIc);
            const simtest::Result r = simtest::run_program(args);
            ASSERT_EQ(r.status, 0) << args[1] << " " << args[2] << ": " << r.out << r.err;
        }
    }
    Computer after(dir, "after", s.after.empty() ? s.before : s.after, s.change);
    ASSERT_TRUE(after.ok());
    const auto digests = disk_digests(after.root());
    ASSERT_FALSE(digests.empty());
    // A check that waits on something is ended and fails the scenario.
    const simtest::Result r = simtest::run_program({"timeout", "-k", "5", "120", kOrvaIc, "check"});
    EXPECT_EQ(r.status, s.status) << r.out << r.err;
    EXPECT_TRUE(has_line(r.out, s.line)) << s.line << "\n" << r.out;
    EXPECT_EQ(disk_digests(after.root()), digests);
    unsetenv("ORVA_SIM_DIR");
}

class CheckFilesDisks : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: loop devices and mount(2) are privileged";
    }
};

TEST_F(CheckFilesDisks, APipeInPlaceOfControlledFiles) { run(a_pipe_in_place_of_controlled_files()); }
TEST_F(CheckFilesDisks, APartitionOutOfControlChangesItsBootSectors)
{
    run(a_partition_out_of_control_changes_its_boot_sectors());
}
TEST_F(CheckFilesDisks, TheMbrCountsBesideAPartitionOutOfControl)
{
    run(the_mbr_counts_beside_a_partition_out_of_control());
}
TEST_F(CheckFilesDisks, APartitionUnderControlBesideOneOutOfControl)
{
    run(a_partition_under_control_beside_one_out_of_control());
}
TEST_F(CheckFilesDisks, NamesRenamedSoThatTheyFeedTheSameBytes) { run(names_renamed_so_that_they_feed_the_same_bytes()); }
TEST_F(CheckFilesDisks, AListRecordedBeforeStillVerifies) { run(a_list_recorded_before_still_verifies()); }
TEST_F(CheckFilesDisks, AHugeSparseFileInPlaceOfAControlledOne)
{
    run(a_huge_sparse_file_in_place_of_a_controlled_one());
}
TEST_F(CheckFilesDisks, AFileGrownBy4GibInADirectoryUnderAttributeControl)
{
    run(a_file_grown_by_4_gib_in_a_directory_under_attribute_control());
}

} // namespace
