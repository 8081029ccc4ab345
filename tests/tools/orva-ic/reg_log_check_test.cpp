// The boot-time check over a Windows registry whose SOFTWARE hive is dirty:
// a Run value that only a transaction log holds fails the check, named,
// exactly as it does once the log is folded into the hive; a clean hive
// with a stale log beside it passes.  orva-ic over simulated computers with
// loop devices (root).
#include "process.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

const std::string kOrvaIc = ORVA_IC_PATH;
const std::string kOrvaSim = ORVA_SIM_PATH;
const char kUuid[] = "6d2f8a14-0b3e-4c5d-9e7f-1a2b3c4d5e6f";
const char kRun[] = "\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// The computer with the Windows volume; hive and entry are the attributes
// of the SOFTWARE hive's line and of its log entry.
std::string computer(const std::string &hive, const std::string &entry)
{
    char text[2048];
    std::snprintf(text, sizeof text, R"(cmdline "ro orva"
pci 0000:00:1f.2 vendor=8086 device=8c02 class=010601
disk sdb size=64M controller=0000:00:1f.2 vendor=ATA model=WINDISK revision=1 serial=W0001
  part 1 start=1M size=48M
    fs ext4 uuid=%s
      windows /Windows
        hive SOFTWARE%s
          key "Microsoft\\Windows\\CurrentVersion\\Run"
            value Updater sz "C:\\updater.exe"
          entry%s
            key "Microsoft\\Windows\\CurrentVersion\\Run"
              value Evil sz "C:\\Users\\Public\\evil.exe"
)",
                  kUuid, hive.c_str(), entry.c_str());
    return text;
}

class OrvaIcRegLogCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "loop devices need root";
        setenv("ORVA_SIM_DIR", (dir_ / "module").c_str(), 1);
        ASSERT_EQ(simtest::run_program({kOrvaSim, "init", "--class", "1"}).status, 0);
        // The reference: the Run key as the approved installation has it.
        const std::string approved = simtest::build_root(dir_, R"(windows /Windows
  hive SOFTWARE
    key "Microsoft\\Windows\\CurrentVersion\\Run"
      value Updater sz "C:\\updater.exe"
)",
                                                         "approved");
        list_ = dir_ / "reg.rcl";
        ASSERT_EQ(simtest::run_program({kOrvaIc, "rcl", "add", list_, approved + "/Windows", "key", kRun}).status, 0);
    }
    void TearDown() override
    {
        unsetenv("ORVA_SIM_DIR");
        detach();
    }

    // Builds the computer, stores the reference for its volume (once) and
    // returns the registry section of the check's report.
    std::string check(const std::string &hive, const std::string &entry, int &status)
    {
        detach();
        root_ = simtest::build_root(dir_, computer(hive, entry), "root" + std::to_string(++roots_));
        simcomputer::Error err;
        EXPECT_TRUE(simcomputer::attach_loops(root_, err)) << err.text();
        simtest::SysRoot sysroot(root_);
        if (!approved_) {
            const simtest::Result r =
                simtest::run_program({kOrvaIc, "module", "approve", "reg", kUuid, "/Windows", list_});
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            approved_ = true;
        }
        const simtest::Result r = simtest::run_program({kOrvaIc, "check"});
        status = r.status;
        const std::string title = "Контроль целостности реестра: ";
        const size_t from = r.out.find(title);
        if (from == std::string::npos)
            return r.out + r.err;
        size_t to = r.out.find('\n', from);
        while (to != std::string::npos && r.out.compare(to + 1, 4, "    ") == 0)
            to = r.out.find('\n', to + 1);
        return r.out.substr(from, to - from);
    }
    void detach()
    {
        simcomputer::Error err;
        if (!root_.empty()) {
            EXPECT_TRUE(simcomputer::detach_loops(root_, err)) << err.text();
        }
        root_.clear();
    }

    simtest::TempDir dir_{"orva-ic-reg-log"};
    std::string list_, root_;
    int roots_ = 0;
    bool approved_ = false;
};

TEST_F(OrvaIcRegLogCheck, ARunValueOnlyInTheLogFailsTheCheck)
{
    int status;
    const std::string dirty = check(" log=new", "", status);
    EXPECT_EQ(status, 3) << dirty;
    EXPECT_EQ(dirty.rfind("Контроль целостности реестра: FAILED\n", 0), 0u) << dirty;
    EXPECT_NE(dirty.find("\\Evil (VALUE_NEW)"), std::string::npos) << dirty;

    // The same write in the older format, and folded into the hive.
    EXPECT_EQ(check(" log=old_single", "", status), dirty);
    EXPECT_EQ(check(" log=new folded=yes", "", status), dirty);

    // A stale log beside a clean hive is not Windows' registry.
    const std::string clean = check(" log=new", " stale=yes", status);
    EXPECT_EQ(clean.rfind("Контроль целостности реестра: passed\n", 0), 0u) << clean;
}

} // namespace
