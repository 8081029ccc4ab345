// orva-ic check as a program: the boot-time check of a simulated computer
// against a simulated module, its sections in text and JSON, exit statuses.
#include "process.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

const std::string kOrvaIc = ORVA_IC_PATH;
const std::string kOrvaSim = ORVA_SIM_PATH;

const char kComputer[] = R"(bios vendor="AMI" version=1.2 date=05/16/2014 segment=0xE000 seed=cli release=4.6
smbios entry=sm version=2.7
cpu socket=CPU0 manufacturer=Intel version="Core i5" speed=3200
pci 0000:00:00.0 vendor=8086 device=0c00 class=060000
)";

class OrvaIcCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = dir_ / "module";
        setenv("ORVA_SIM_DIR", module_.c_str(), 1);
        ASSERT_EQ(simtest::run_program({kOrvaSim, "init", "--class", "1"}).status, 0);
    }
    void TearDown() override { unsetenv("ORVA_SIM_DIR"); }

    // Builds the computer with this kernel command line and checks it.
    simtest::Result check(const std::string &cmdline, bool json)
    {
        const std::string root =
            simtest::build_root(dir_, kComputer + ("cmdline \"" + cmdline + "\"\n"), "root" + std::to_string(++roots_));
        simtest::SysRoot sysroot(root);
        std::vector<std::string> args{kOrvaIc, "check"};
        if (json)
            args.push_back("--json");
        return simtest::run_program(args);
    }

    simtest::TempDir dir_{"orva-ic-check"};
    std::string module_;
    int roots_ = 0;
};

TEST_F(OrvaIcCheck, SectionsAndVerdict)
{
    // Nothing stored: the hardware is compared with itself.
    simtest::Result r = check("ro orva", false);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Контроль оборудования: passed\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Результат проверки оборудования: контроль пройден"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Контроль загрузочного носителя: passed\n    - ОК\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 14), "check: passed\n");

    // A removable boot device fails the boot-medium section only.
    r = check("ro orva hd0_removable", true);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_NE(r.out.find("\"passed\": false"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"title\": \"Контроль оборудования\", \"passed\": true"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"title\": \"Контроль загрузочного носителя\", \"passed\": false, \"lines\": "
                         "[\"Не удалось определить тип устройства загрузки ОС: загрузка ОС со съемного носителя "
                         "запрещена\", \"Результат проверки: контроль не пройден\"], \"seconds\": "),
              std::string::npos)
        << r.out;
}

TEST_F(OrvaIcCheck, FailuresToRun)
{
    // A module that cannot be opened, and a bad argument.
    setenv("ORVA_SIM_DIR", "/dev/null/module", 1);
    simtest::Result r = check("ro orva", false);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err.find("the module cannot be opened"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    setenv("ORVA_SIM_DIR", module_.c_str(), 1);
    EXPECT_EQ(simtest::run_program({kOrvaIc, "check", "--text"}).status, 2);
}

} // namespace
