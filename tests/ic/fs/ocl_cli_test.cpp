// orva-ic ocl add/check as a program: list files, text and JSON output,
// exit statuses.
#include "ocl_support.h"
#include "peers.h"
#include "process.h"

namespace {

using namespace ocltest;
using simtest::Result;

const std::string kOrvaIc = ORVA_IC_PATH;

class OclCli : public ::testing::Test {
protected:
    simtest::TempDir tmp_{"ocl-cli"};
    const std::string root_ = tmp_ / "volume";
    const std::string list_ = tmp_ / "list.bin";

    Result ocl(std::vector<std::string> args)
    {
        args.insert(args.begin(), {kOrvaIc, "ocl"});
        return simtest::run_program(args);
    }
};

TEST_F(OclCli, AddThenCheck)
{
    // A fixed time, so that rewriting the file within another second does not
    // add an mtime change.
    write(root_ + "/etc/hosts", "127.0.0.1\n");
    set_mtime(root_ + "/etc/hosts", 1600000000);
    write(root_ + "/bin/a.exe", "A");
    write(root_ + "/bin/b.txt", "B");

    Result r = ocl({"add", root_, "/etc/hosts", "--list", list_});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "file /etc/hosts added (flags 12), 1 objects in " + list_ + "\n");
    r = ocl({"add", root_, "/bin", "--mask", "*.exe", "--mask", "*.dll", "--list", list_});
    ASSERT_EQ(r.status, 0) << r.err;
    r = ocl({"add", root_, "/", "--flags", "0x6", "--list", list_});
    ASSERT_EQ(r.status, 0) << r.err;

    r = ocl({"check", root_, "--list", list_});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "no differences\n");

    write(root_ + "/etc/hosts", "10.0.0.1\n");
    set_mtime(root_ + "/etc/hosts", 1600000000);
    write(root_ + "/bin/new.exe", "N");
    write(root_ + "/bin/new.txt", "N");
    r = ocl({"check", root_, "--list", list_});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.out, "/: dir_hash\n/bin/new.exe: new_file\n/etc/hosts: data size\n");

    if (!simtest::have("jq"))
        GTEST_SKIP() << "jq is not installed (scripts/setup.sh installs it)";
    r = ocl({"check", root_, "--list", list_, "--json"});
    EXPECT_EQ(r.status, 3);
    const std::string json = tmp_ / "check.json";
    write(json, r.out);
    int status;
    const std::string lines = simtest::run(
        "jq -r '.objects[] | .path + \" \" + .type + \" \" + ((.flags // 0) | tostring) + \" \" + "
        "((.flag_names // []) | join(\",\")) + \" \" + ((.items // []) | map(.path + \"=\" + (.flags | tostring)) "
        "| join(\",\"))' " + json,
        status);
    EXPECT_EQ(status, 0) << lines;
    EXPECT_EQ(lines, "/ dir 256 dir_hash /=256\n/bin dir 1 new_file /new.exe=1\n/etc/hosts file 68 data,size \n");
}

TEST_F(OclCli, Failures)
{
    write(root_ + "/f", "f");
    write(tmp_ / "garbage.bin", "not a list");
    const struct {
        std::vector<std::string> args;
        int status;
        const char *message;
    } cases[] = {
        {{"add", root_, "/missing", "--list", list_}, 1, "object missing or of the wrong type (code 7)"},
        {{"add", root_, "f", "--list", list_}, 1, "invalid argument"},
        {{"add", root_, "/f", "--mask", "*", "--list", list_}, 2, "--mask is for directories"},
        {{"add", root_, "/f", "--flags", "65536", "--list", list_}, 2, "--flags"},
        {{"add", root_, "/f", "--flags", "28", "--list", list_}, 2, "the mark of the record form"},
        {{"add", root_, "/f"}, 2, "--list FILE"},
        {{"add", root_, "/f", "--list", tmp_ / "garbage.bin"}, 1, "malformed data (code 1)"},
        {{"check", root_, "--list", tmp_ / "absent.bin"}, 1, "No such file"},
        {{"check", root_, "--list", tmp_ / "garbage.bin"}, 1, "malformed data (code 1)"},
        {{"check", root_, "--list"}, 2, "missing value"},
        {{"remove"}, 2, "unknown subcommand"},
    };
    for (const auto &c : cases) {
        const Result r = ocl(c.args);
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(list_));
}

} // namespace
