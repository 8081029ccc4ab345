// The "windows" keyword: files where Windows has them, and strict lines.
#include "sim_root.h"
#include "simcomputer/regf.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

TEST(SimWindows, FilesOfTheHivesAndProfiles)
{
    simtest::TempDir dir("orva-sim");
    const std::string root = simtest::build_root(dir, R"(
windows /Win/dows
  profile S-1 path="%systemdrive%\\Users\\a"
  profile S-2 path="%SystemRoot%\\Profiles\\b"
  profile S-3 path="E:\\c"
)");
    for (const char *f : {"SYSTEM", "SOFTWARE", "SECURITY", "SAM", "DEFAULT"})
        EXPECT_TRUE(std::filesystem::is_regular_file(root + "/Win/dows/System32/config/" + f)) << f;
    EXPECT_TRUE(std::filesystem::is_regular_file(root + "/Users/a/NTUSER.DAT"));
    EXPECT_TRUE(std::filesystem::is_regular_file(root + "/Win/dows/Profiles/b/NTUSER.DAT"));
    // The same model writes the same files into any directory.
    simcomputer::Windows w = simcomputer::Windows::with_defaults("/Windows");
    std::string message;
    ASSERT_TRUE(simcomputer::write_windows(w, dir / "volume", message)) << message;
    EXPECT_EQ(simtest::read_file(dir / "volume/Windows/System32/config/SAM"),
              simtest::read_file(root + "/Win/dows/System32/config/SAM"));
}

// Hives with logs: the files Windows has, and folded=yes writing the state
// the logs lead to.
TEST(SimWindows, LogsBesideTheHives)
{
    const std::string text = R"(
windows /Windows
  hive SOFTWARE log=new%s
    key Run
      value A sz a
    entry
      key Run
        value Evil sz x
        delete value A
    entry file=LOG2 damage=hash1
      delete key Run
  hive SYSTEM log=old_single%s
    entry time=133000100000000000
      key Select
        value Extra dword 1
  profile S-1 path="%%systemdrive%%\\Users\\a" log=old empty_logs=yes
    entry file=LOG2
      key "Software\\X"
)";
    char with_logs[1024], folded[1024];
    std::snprintf(with_logs, sizeof with_logs, text.c_str(), "", "");
    std::snprintf(folded, sizeof folded, text.c_str(), " folded=yes", " folded=yes");
    simtest::TempDir dir("orva-sim");
    simcomputer::Computer c;
    const std::string root = simtest::build_root(dir, with_logs, "root", &c);
    const std::string config = root + "/Windows/System32/config/";
    for (const char *f : {"SOFTWARE.LOG1", "SOFTWARE.LOG2", "SYSTEM.LOG"})
        EXPECT_GT(std::filesystem::file_size(config + f), 512u) << f;
    for (const char *f : {"SYSTEM.LOG1", "SECURITY.LOG1", "SECURITY.LOG"})
        EXPECT_FALSE(std::filesystem::exists(config + f)) << f;
    EXPECT_EQ(std::filesystem::file_size(root + "/Users/a/ntuser.dat.LOG1"), 0u);
    EXPECT_GT(std::filesystem::file_size(root + "/Users/a/ntuser.dat.LOG2"), 512u);

    // The damaged entry does not apply: Run keeps Evil, stamped an hour on.
    std::optional<simcomputer::RegHive> last = simcomputer::final_state(c.windows.at(0).hive("SOFTWARE"));
    ASSERT_TRUE(last);
    const simcomputer::RegKey *run = last->root.find(u"Run");
    ASSERT_TRUE(run);
    ASSERT_EQ(run->values.size(), 1u);
    EXPECT_EQ(run->values[0].name, u"Evil");
    EXPECT_EQ(run->timestamp, simcomputer::RegKey::kDefaultTimestamp + 36000000000ull);
    EXPECT_EQ(simcomputer::final_state(c.windows.at(0).hive("SYSTEM"))->root.find(u"Select")->timestamp,
              133000100000000000ull);

    const std::string folded_root = simtest::build_root(dir, folded, "folded");
    const std::vector<uint8_t> clean = simcomputer::write_regf(*simcomputer::final_state(c.windows.at(0).hive("SYSTEM")));
    EXPECT_TRUE(simtest::read_file(folded_root + "/Windows/System32/config/SYSTEM") == std::string(clean.begin(), clean.end()));
    EXPECT_FALSE(std::filesystem::exists(folded_root + "/Windows/System32/config/SOFTWARE.LOG1"));
    EXPECT_FALSE(std::filesystem::exists(folded_root + "/Windows/System32/config/SYSTEM.LOG"));
}

TEST(SimWindows, BadLinesNameTheirLine)
{
    const struct {
        const char *text;
        const char *message;
    } cases[] = {
        {"windows Windows\n", "absolute path"},
        {"windows /W\n  hive BOOT\n", "one of SYSTEM"},
        {"windows /W\n  hive SAM version=2.0\n", "version 1.3 or 1.5"},
        {"windows /W\n  hive SAM\n    key A list=lz\n", "bad list kind"},
        {"windows /W\n  hive SAM\n    key A colour=red\n", "unknown attribute colour"},
        {"windows /W\n  hive SAM\n    key A\n      value V dword x\n", "bad number x"},
        {"windows /W\n  hive SAM\n    key A\n      value V binary 0g\n", "bad hex digits"},
        {"windows /W\n  hive SAM\n    key A\n      value V binary 00 fill=3\n", "exclude each other"},
        {"windows /W\n  profile S-1\n", "path= is required"},
        {"windows /W\n  hive SAM\n    entry\n", "log= of the hive"},
        {"windows /W\n  hive SAM dirty=yes\n", "log= names the log format"},
        {"windows /W\n  hive SAM log=xp\n", "log=new, old or old_single"},
        {"windows /W\n  hive SAM log=old_single\n    entry file=LOG2\n", "file=LOG expected"},
        {"windows /W\n  hive SAM log=new\n    entry damage=crc\n", "bad damage"},
        {"windows /W\n  hive SAM log=old\n    entry damage=hash1\n", "only the new format"},
        {"windows /W\n  hive SAM log=new\n    entry\n      delete key Nope\n", "no key Nope"},
        {"windows /W\n  hive SAM log=new\n    entry\n    key A\n", "come before the log entries"},
        {"windows /W\n  hive SAM log=new\n    key A\n      delete value V\n", "unknown keyword"},
        {"windows /W\n  hive SAM log=new torn=yes dirty=no\n", "torn base block"},
        {"windows /W\n  hive SAM log=old\n    entry\n    entry stale=yes\n", "either current writes"},
        {"windows /W\n  hive SAM log=new\n    entry\n    entry file=LOG2\n    entry\n", "once"},
        {"windows /W\n  hive SAM log=new dirty=yes folded=yes\n", "cannot be folded"},
    };
    for (const auto &c : cases) {
        simcomputer::Computer computer;
        simcomputer::Error err;
        EXPECT_FALSE(simcomputer::parse(c.text, computer, err)) << c.text;
        EXPECT_NE(err.text().find(c.message), std::string::npos) << c.text << ": " << err.text();
        EXPECT_GT(err.line, 0) << c.text;
    }
}

} // namespace
