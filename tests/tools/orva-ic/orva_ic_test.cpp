// orva-ic as a program: the gost subcommand against rhash, errors, usage.
#include "process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using simtest::Result;

void write_file(const std::string &path, const std::string &data) {
    std::ofstream out(path, std::ios::binary);
    out << data;
}

class OrvaIc : public ::testing::Test {
protected:
    // Runs a program (looked up in PATH) with stdout and stderr captured.
    Result run(const std::vector<std::string> &args, const std::string &stdin_path = "/dev/null",
               const std::string &cwd = "") {
        return simtest::run_program(args, stdin_path, cwd);
    }

    static bool have_rhash() { return std::system("command -v rhash >/dev/null 2>&1") == 0; }

    simtest::TempDir tmp_{"orva-ic-test"};
    const std::string dir_ = tmp_.path();
};

const std::string kOrvaIc = ORVA_IC_PATH;

TEST_F(OrvaIc, AgreesWithRhashOnRandomFiles) {
    if (!have_rhash()) GTEST_SKIP() << "rhash is not installed (Debian package rhash), no peer to compare with";
    std::mt19937 rng(3411);
    std::vector<size_t> lengths = {0, 1, 31, 32, 33, 64, 16383, 16384, 16385, 32768, 102400};
    std::uniform_int_distribution<size_t> length(0, 102400);
    while (lengths.size() < 300) lengths.push_back(length(rng));

    std::vector<std::string> files;
    for (size_t i = 0; i < lengths.size(); ++i) {
        std::string data(lengths[i], '\0');
        for (char &c : data) c = static_cast<char>(rng());
        files.push_back(dir_ + "/f" + std::to_string(i) + "_" + std::to_string(lengths[i]));
        write_file(files.back(), data);
    }

    struct Mode {
        std::vector<std::string> ours, peer;
    } modes[] = {
        {{kOrvaIc, "gost"}, {"rhash", "--gost94-cryptopro"}},
        {{kOrvaIc, "gost", "--test-params"}, {"rhash", "--gost94"}},
    };
    for (Mode &m : modes) {
        m.ours.insert(m.ours.end(), files.begin(), files.end());
        m.peer.insert(m.peer.end(), files.begin(), files.end());
        const Result ours = run(m.ours), peer = run(m.peer);
        ASSERT_EQ(0, peer.status) << peer.err;
        EXPECT_EQ(0, ours.status) << ours.err;
        EXPECT_EQ("", ours.err);
        EXPECT_EQ(std::count(peer.out.begin(), peer.out.end(), '\n'), 300);
        EXPECT_TRUE(ours.out == peer.out) << "orva-ic and " << m.peer[1] << " differ";
    }
}

TEST_F(OrvaIc, UnreadableFilesAreReportedAndSkipped) {
    const std::string good = dir_ + "/abc", missing = dir_ + "/missing", subdir = dir_ + "/sub";
    write_file(good, "abc");
    ASSERT_EQ(0, mkdir(subdir.c_str(), 0700));
    const Result r = run({kOrvaIc, "gost", missing, good, subdir});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c  " + good + "\n", r.out);
    EXPECT_NE(std::string::npos, r.err.find(missing + ": No such file or directory")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(subdir + ": Is a directory")) << r.err;
}

TEST_F(OrvaIc, StandardInputAndOptionEnd) {
    const std::string abc = dir_ + "/abc", dash = dir_ + "/-x";
    write_file(abc, "abc");
    write_file(dash, "");
    Result r = run({kOrvaIc, "gost", "--test-params", "-"}, abc);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d  (stdin)\n", r.out);

    // After "--" a name starting with '-' is a file.
    r = run({kOrvaIc, "gost", "--", "-x"}, "/dev/null", dir_);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0  -x\n", r.out);
}

TEST_F(OrvaIc, BadArgumentsExitWithUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {kOrvaIc},
        {kOrvaIc, "nosuchcommand"},
        {kOrvaIc, "gost"},
        {kOrvaIc, "gost", "--test-params"},
        {kOrvaIc, "gost", "--bogus", "file"},
    };
    for (const auto &args : cases) {
        const Result r = run(args);
        EXPECT_EQ(2, r.status) << args.back();
        EXPECT_NE(std::string::npos, r.err.find("usage: orva-ic")) << args.back();
        EXPECT_EQ("", r.out);
    }
    const Result help = run({kOrvaIc, "help"});
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.out.find("gost [--test-params] FILE..."));
}

}  // namespace
