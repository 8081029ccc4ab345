// The "windows" keyword: files where Windows has them, and strict lines.
#include "sim_root.h"
#include "simcomputer/regf.h"

#include <gtest/gtest.h>

#include <filesystem>

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
