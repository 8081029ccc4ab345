// The Windows name space over a volume that an attacker wrote: files out of
// the volume, special files, half-written hives, names already taken and a
// control set other than the one Windows boots are refused and listed as
// problems of the name space.
#include "log_build.h"
#include "reg_support.h"

#include "sim_root.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace regtest;

const char kWindows[] = R"(
windows /Windows
  profile S-1-5-21-7 path="%systemdrive%\\Users\\ivan"
    key "Software\\Ivan"
)";

struct Problem {
    int kind;
    std::string subject, detail;
    bool operator==(const Problem &o) const { return kind == o.kind && subject == o.subject && detail == o.detail; }
};

std::ostream &operator<<(std::ostream &os, const Problem &p)
{
    return os << "{" << p.kind << ", " << p.subject << ", " << p.detail << "}";
}

std::vector<Problem> problems_of(const reg *space)
{
    std::vector<Problem> out;
    for (size_t i = 0; i < reg_get_problem_count(space); ++i) {
        reg_problem p;
        EXPECT_EQ(reg_get_problem(space, i, &p), REG_OK);
        out.push_back({p.kind, p.subject, p.detail ? p.detail : ""});
    }
    return out;
}

bool opens(reg *space, const char *path)
{
    reg_key *key;
    if (reg_open_key_by_abs_path_u8(space, path, 0, &key) != REG_OK)
        return false;
    reg_close_key(key);
    return true;
}

const char kConfig[] = "/Windows/System32/config/";
const char kIvan[] = "\\REGISTRY\\USER\\S-1-5-21-7\\Software\\Ivan";

struct Case {
    const char *name;
    const char *description; // null: kWindows
    std::function<void(const std::string &root, const std::string &outside)> change;
    std::vector<Problem> problems;
    const char *opens;      // a key that is there
    const char *not_opens;  // one that is not
};

std::string file(const std::string &root, const char *name)
{
    return root + kConfig + name;
}

std::vector<uint8_t> read_bytes(const std::string &path)
{
    std::vector<uint8_t> bytes;
    FILE *f = std::fopen(path.c_str(), "rb");
    for (int c; f && (c = std::fgetc(f)) != EOF;)
        bytes.push_back(uint8_t(c));
    if (f)
        std::fclose(f);
    return bytes;
}

void replace(const std::string &path, const std::function<void(const std::string &)> &make)
{
    ASSERT_EQ(unlink(path.c_str()), 0) << path;
    make(path);
}

TEST(WindowsNameSpace, RefusedFilesAndNamesAreProblems)
{
    const std::string ivan_file = "/Users/ivan/NTUSER.DAT";
    const Case cases[] = {
        {"nothing wrong", nullptr, nullptr, {}, kIvan, nullptr},
        {"a profile path that climbs out", R"(
windows /Windows
  profile S-1-5-21-7 path="%systemdrive%\\..\\x"
)",
         nullptr, {{REG_PROBLEM_OUTSIDE, "%systemdrive%\\..\\x", "S-1-5-21-7"}}, nullptr, "\\REGISTRY\\USER\\S-1-5-21-7"},
        {"a profile hive linked to a device",
         nullptr,
         [&](const std::string &root, const std::string &) {
             replace(root + ivan_file, [](const std::string &p) { ASSERT_EQ(symlink("/dev/zero", p.c_str()), 0); });
         },
         {{REG_PROBLEM_OUTSIDE, ivan_file, ""}}, "\\REGISTRY\\MACHINE\\SOFTWARE", kIvan},
        {"a profile directory linked out of the volume",
         nullptr,
         [&](const std::string &root, const std::string &outside) {
             ASSERT_EQ(rename((root + "/Users").c_str(), (outside + "/Users").c_str()), 0);
             ASSERT_EQ(symlink((outside + "/Users").c_str(), (root + "/Users").c_str()), 0);
         },
         {{REG_PROBLEM_OUTSIDE, "%systemdrive%\\Users\\ivan", "S-1-5-21-7"}}, nullptr, kIvan},
        {"a profile directory linked inside the volume",
         nullptr,
         [&](const std::string &root, const std::string &) {
             ASSERT_EQ(rename((root + "/Users").c_str(), (root + "/Home").c_str()), 0);
             ASSERT_EQ(symlink("Home", (root + "/Users").c_str()), 0);
         },
         {}, kIvan, nullptr},
        {"a FIFO in place of a hive",
         nullptr,
         [&](const std::string &root, const std::string &) {
             replace(file(root, "SOFTWARE"), [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); });
         },
         {{REG_PROBLEM_NOT_REGULAR, std::string(kConfig) + "SOFTWARE", ""}}, "\\REGISTRY\\MACHINE\\SYSTEM\\Select",
         kIvan},
        {"a half-written hive without a log",
         nullptr,
         [&](const std::string &root, const std::string &) {
             write_bytes(file(root, "SYSTEM"), with_sequence(read_bytes(file(root, "SYSTEM")), 3, 2));
         },
         {{REG_PROBLEM_DIRTY, std::string(kConfig) + "SYSTEM", ""}}, kIvan, "\\REGISTRY\\MACHINE\\SYSTEM"},
        {"a half-written hive with a FIFO for a log and a sound log",
         nullptr,
         [&](const std::string &root, const std::string &) {
             const std::vector<uint8_t> hive = read_bytes(file(root, "SYSTEM"));
             write_bytes(file(root, "SYSTEM"), with_sequence(hive, 3, 2));
             ASSERT_EQ(mkfifo(file(root, "system.log1").c_str(), 0600), 0);
             write_bytes(file(root, "SYSTEM.LOG2"), new_log(hive, 2, {{2, get32(hive, 40), {}}}));
         },
         {{REG_PROBLEM_NOT_REGULAR, std::string(kConfig) + "system.log1", ""}},
         "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet", nullptr},
        {"a profile named as the default user", R"(
windows /Windows
  profile .default path="%systemdrive%\\Users\\ivan"
    key Mine
)",
         nullptr, {{REG_PROBLEM_NAME_TAKEN, "\\REGISTRY\\USER\\.default", ""}}, "\\REGISTRY\\USER\\.DEFAULT\\Control Panel",
         "\\REGISTRY\\USER\\.DEFAULT\\Mine"},
        {"Current names another control set than Default", R"(
windows /Windows
  hive SYSTEM
    key Select
      value Current dword 2
    key "ControlSet002\\Control\\IDConfigDB"
      value CurrentConfig dword 1
    key "ControlSet002\\Marker"
)",
         nullptr, {{REG_PROBLEM_CONTROL_SET, "ControlSet002", "ControlSet001"}},
         "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
         "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Marker"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        simtest::TempDir dir("reg-winreg");
        const std::string root = simtest::build_root(dir, c.description ? c.description : kWindows);
        const std::string outside = dir / "outside";
        ASSERT_EQ(mkdir(outside.c_str(), 0700), 0);
        if (c.change)
            c.change(root, outside);
        reg *space = nullptr;
        ASSERT_EQ(create_winreg_in(root.c_str(), "/Windows", &space), REG_OK);
        EXPECT_EQ(problems_of(space), c.problems);
        if (c.opens) {
            EXPECT_TRUE(opens(space, c.opens)) << c.opens;
        }
        if (c.not_opens) {
            EXPECT_FALSE(opens(space, c.not_opens)) << c.not_opens;
        }
        reg_destroy(space);
    }
}

} // namespace
