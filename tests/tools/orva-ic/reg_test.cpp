// orva-ic reg and rcl as programs over generated Windows directories.
#include "log_build.h"
#include "peers.h"
#include "process.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kOrvaIc = ORVA_IC_PATH;

const char kWindows[] = R"(
windows /Windows
  hive SYSTEM
    key "ControlSet001\\Services\\Beep" class=Drv
      value Start dword 3
      value Big binary fill=20000
)";

class OrvaIcReg : public ::testing::Test {
protected:
    void SetUp() override { root_ = simtest::build_root(dir_, kWindows); }
    simtest::Result run(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv{kOrvaIc};
        argv.insert(argv.end(), args.begin(), args.end());
        return simtest::run_program(argv);
    }
    std::string jq(const std::string &json, const std::string &filter)
    {
        std::ofstream(dir_ / "in.json") << json;
        int status;
        std::string out = simtest::run("jq -c '" + filter + "' " + (dir_ / "in.json"), status);
        EXPECT_EQ(status, 0) << out;
        return out;
    }
    std::string windows() const { return root_ + "/Windows"; }
    std::string system() const { return root_ + "/Windows/System32/config/SYSTEM"; }

    simtest::TempDir dir_{"orva-ic-reg"};
    std::string root_;
};

TEST_F(OrvaIcReg, DumpListsEveryKeyAndValueWithDigests)
{
    if (!simtest::have("jq") || !simtest::have("rhash"))
        GTEST_SKIP() << "jq and rhash are needed";
    const simtest::Result r = run({"reg", "dump", system(), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(jq(r.out, "[.keys[] | select(.path == \"\\\\ControlSet001\\\\Services\\\\Beep\") | .class, (.values[] | [.name, .type, .size])]"),
              "[\"Drv\",[\"Start\",4,4],[\"Big\",3,20000]]\n");
    // The digest is GOST R 34.11-94 of the data, as rhash computes it.
    std::vector<uint8_t> big(20000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7 + 1);
    std::ofstream(dir_ / "big.bin", std::ios::binary).write(reinterpret_cast<const char *>(big.data()), long(big.size()));
    int status;
    const std::string peer = simtest::run("rhash --gost94-cryptopro --simple " + (dir_ / "big.bin"), status);
    EXPECT_EQ(jq(r.out, ".keys[].values[] | select(.name == \"Big\") | .digest"), "\"" + peer.substr(0, 64) + "\"\n");
    EXPECT_EQ(run({"reg", "dump", system()}).status, 0);
}

TEST_F(OrvaIcReg, DumpOfABrokenHiveFailsWithItsCode)
{
    std::string bytes = simtest::read_file(system());
    bytes[508] ^= 1;
    std::ofstream(dir_ / "broken", std::ios::binary) << bytes;
    const simtest::Result r = run({"reg", "dump", dir_ / "broken"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(code 5)"), std::string::npos) << r.err;
    EXPECT_EQ(run({"reg", "dump"}).status, 2);
}

TEST_F(OrvaIcReg, DumpAppliesTheLogsBesideTheHiveUnlessTold)
{
    // The hive half-written on its way to a state where Start is 4, and the log with that state.
    auto bytes_of = [](const std::string &path) {
        const std::string s = simtest::read_file(path);
        return std::vector<uint8_t>(s.begin(), s.end());
    };
    const std::vector<uint8_t> older = bytes_of(system());
    simtest::TempDir other("orva-ic-reg");
    std::string text = kWindows;
    text.replace(text.find("Start dword 3"), 13, "Start dword 4");
    const std::string final_path = simtest::build_root(other, text) + "/Windows/System32/config/SYSTEM";
    const std::vector<uint8_t> final = bytes_of(final_path);
    const std::string dirty = dir_ / "SYSTEM";
    const std::vector<uint8_t> half_written = regtest::with_sequence(older, 3, 2);
    std::ofstream(dirty, std::ios::binary) << std::string(half_written.begin(), half_written.end());
    const regtest::LogEntry entry{2, regtest::get32(final, 40), regtest::changed_pages(final, older)};
    const std::vector<uint8_t> log = regtest::new_log(final, 2, {entry});
    std::ofstream(dir_ / "system.log2", std::ios::binary) << std::string(log.begin(), log.end());

    const simtest::Result r = run({"reg", "dump", dirty});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string note = "# dirty hive recovered; system.log2: applied, 1 entries, " +
                             std::to_string(entry.pages.size()) + " pages; sequence number 2\n";
    ASSERT_EQ(r.out.substr(0, note.size()), note);
    EXPECT_EQ(r.out.substr(note.size()), run({"reg", "dump", final_path}).out);
    EXPECT_EQ(run({"reg", "dump", dirty, "--no-logs"}).out, run({"reg", "dump", system()}).out);
    if (simtest::have("jq")) {
        const simtest::Result j = run({"reg", "dump", dirty, "--json"});
        EXPECT_EQ(jq(j.out, "[.logs_used, .dirty, .sequence, .log_format, .logs]"),
                  "[true,true,2,\"new\",[{\"name\":\"system.log2\",\"status\":\"applied\",\"entries\":1,\"pages\":" +
                      std::to_string(entry.pages.size()) + "}]]\n");
    }
    // Without its log the half-written hive is refused.
    std::remove((dir_ / "system.log2").c_str());
    const simtest::Result refused = run({"reg", "dump", dirty});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("(code 14)"), std::string::npos) << refused.err;
}

TEST_F(OrvaIcReg, LsThroughTheWindowsNameSpace)
{
    const simtest::Result r = run({"reg", "ls", windows(), "\\HKEY_LOCAL_MACHINE\\SYSTEM"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("CurrentControlSet\\  (link)"), std::string::npos) << r.out;
    const simtest::Result beep = run({"reg", "ls", windows(), "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Beep"});
    EXPECT_NE(beep.out.find("\"Start\" type=4 size=4"), std::string::npos) << beep.out;
    EXPECT_EQ(run({"reg", "ls", windows(), "\\REGISTRY\\Nothing"}).status, 1);
}

TEST_F(OrvaIcReg, RclAddThenCheckUnchangedAndChanged)
{
    const std::string list = dir_ / "list.rcl";
    ASSERT_EQ(run({"rcl", "add", list, windows(), "key", "\\HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services"}).status, 0);
    ASSERT_EQ(run({"rcl", "add", list, windows(), "value", "\\REGISTRY\\MACHINE\\SYSTEM\\Select", "Current", "0x20"}).status, 0);
    EXPECT_EQ(run({"rcl", "add", list, windows(), "value", "\\REGISTRY\\MACHINE\\SYSTEM\\Select", "Missing"}).status, 1);
    simtest::Result r = run({"rcl", "check", list, windows()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // The same system with one value changed.
    simtest::TempDir other("orva-ic-reg");
    std::string text = kWindows;
    text.replace(text.find("Start dword 3"), 13, "Start dword 4");
    const std::string changed = simtest::build_root(other, text) + "/Windows";
    r = run({"rcl", "check", list, changed, "--json"});
    EXPECT_EQ(r.status, 3) << r.err;
    if (simtest::have("jq")) {
        EXPECT_EQ(jq(r.out, ".keys[] | [.path, .items]"),
                  "[\"\\\\HKEY_LOCAL_MACHINE\\\\SYSTEM\\\\CurrentControlSet\\\\Services\",[{\"path\":\"\\\\Beep\",\"value\":\"Start\",\"flags\":8,\"flag_names\":[\"VALUE_DATA_MODIFIED\"]}]]\n");
    }
}

} // namespace
