// orva-sim: the tool over the same state the libraries use.
#include "support.h"

#include <cstring>

using namespace orva_test;

namespace {

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

TEST(OrvaSim, InitThenStatusShowsAFreshModule)
{
    StateDir dir;
    RunResult init = run_sim({"init", "--class", "2", "--area-size", "200000"});
    ASSERT_EQ(init.code, 0) << init.err;
    RunResult status = run_sim({"status"});
    ASSERT_EQ(status.code, 0) << status.err;
    EXPECT_TRUE(contains(status.out, "Device class:        2")) << status.out;
    EXPECT_TRUE(contains(status.out, "State:               1 (new")) << status.out;
    EXPECT_TRUE(contains(status.out, "200000 bytes")) << status.out;
    EXPECT_TRUE(contains(status.out, "identifier time-out 20 s, password time-out 20 s, bad-logon count 3, "
                                     "identifier page 1")) << status.out;
    EXPECT_TRUE(contains(status.out, "Records:             0")) << status.out;
    EXPECT_TRUE(contains(status.out, "Event log:           0 records")) << status.out;
    EXPECT_TRUE(contains(status.out, "Logged on:           nobody")) << status.out;
    EXPECT_TRUE(contains(status.out, "Reader:              empty")) << status.out;

    RunResult again = run_sim({"init"});
    EXPECT_EQ(again.code, 1) << "an existing module is kept without --force";
    EXPECT_TRUE(contains(again.err, "--force"));
    EXPECT_EQ(run_sim({"init", "--state", "2", "--force"}).code, 0);
    EXPECT_TRUE(contains(run_sim({"status"}).out, "State:               2 (database erased)"));
}

TEST(OrvaSim, FormatAndEnrollGiveAModuleTheLibraryLogsOnTo)
{
    StateDir dir;
    ::setenv("ORVA_SIM_CLOCK", "2024-03-05 09:07:03", 1);
    ASSERT_EQ(run_sim({"init"}).code, 0);
    RunResult format = run_sim({"format"});
    ASSERT_EQ(format.code, 0) << format.err;
    EXPECT_TRUE(contains(run_sim({"status"}).out, "State:               0 (formatted")) << "SUPERVISOR not set up";
    RunResult enroll = run_sim({"enroll", "supervisor", "--group", "ADMINS", "--id", "0102030405A6",
                                "--password", "secret"});
    ASSERT_EQ(enroll.code, 0) << enroll.err;
    RunResult user = run_sim({"enroll", "ivanov", "--group", "everyone", "--id", "00000000BEEF", "--family",
                              "01", "--password", "pw", "--blocked"});
    ASSERT_EQ(user.code, 0) << user.err;
    EXPECT_EQ(run_sim({"enroll", "petrov", "--group", "EVERYONE", "--id", "00000000BEEF", "--password", "x",
                       "--family", "01"}).code,
              1)
        << "identifier already assigned";

    RunResult users = run_sim({"users"});
    EXPECT_TRUE(contains(users.out, "SUPERVISOR")) << users.out;
    EXPECT_TRUE(contains(users.out, "IVANOV")) << users.out;
    RunResult log = run_sim({"log"});
    EXPECT_TRUE(contains(log.out, "05-03-2024 09:07:03  type 1 ")) << log.out;
    EXPECT_TRUE(contains(log.out, "param 0401")) << "log version 260";

    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    ASSERT_EQ(orva_open_device(0, &h, 0), ORVA_OK);
    orva_device_state s;
    ASSERT_EQ(orva_get_device_state(h, &s), ORVA_OK);
    EXPECT_EQ(s.state, static_cast<uint32_t>(ORVA_STATE_READY));
    orva_db_record groups[2];
    ASSERT_EQ(orva_read_db_record(h, 1, &groups[0]), ORVA_OK);
    ASSERT_EQ(orva_read_db_record(h, 2, &groups[1]), ORVA_OK);
    orva_db_record expected_admins = default_group(1, "ADMINS", 1);
    EXPECT_EQ(std::memcmp(&groups[0], &expected_admins, sizeof expected_admins), 0) << "the program's ADMINS record";
    orva_db_record sup;
    ASSERT_EQ(orva_read_db_record(h, 3, &sup), ORVA_OK);
    EXPECT_STREQ(sup.name, "SUPERVISOR");
    EXPECT_EQ(sup.access, 15u);
    EXPECT_EQ(sup.admin, 1);
    EXPECT_EQ(sup.exp_year, 2024);
    EXPECT_EQ(sup.exp_month, 4);
    orva_tmid id = make_tmid(0x0102030405A6);
    EXPECT_EQ(std::memcmp(&sup.tmid, &id, 8), 0);
    orva_xid_t x;
    ASSERT_EQ(orva_make_xid(h, 1, &id, "secret", &x), ORVA_OK);
    EXPECT_EQ(orva_login(h, &id, &x), ORVA_OK);
    uint16_t number = 0;
    ASSERT_EQ(orva_db_find_user_by_name(h, "IVANOV", 6, &number), ORVA_OK);
    orva_db_record ivanov;
    ASSERT_EQ(orva_read_db_record(h, number, &ivanov), ORVA_OK);
    EXPECT_EQ(ivanov.blocked, 1);
    EXPECT_EQ(ivanov.admin, 0);
    EXPECT_EQ(ivanov.tmid.family, 0x01);

    // While the library holds the module, reading tools still work and
    // changing ones are refused.
    RunResult status = run_sim({"status"});
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(contains(status.out, "open in another process")) << status.out;
    EXPECT_TRUE(contains(status.out, "Logged on:           SUPERVISOR (record 3, administrator)")) << status.out;
    EXPECT_EQ(run_sim({"touch", "--user", "SUPERVISOR"}).code, 0);
    RunResult busy = run_sim({"config", "--bad-count", "5"});
    EXPECT_EQ(busy.code, 1);
    EXPECT_TRUE(contains(busy.err, "7503")) << busy.err;
    orva_exit(0);
    ::unsetenv("ORVA_SIM_CLOCK");
}

TEST(OrvaSim, EnrollWritesTheUserKeyIntoTheConfiguredPage)
{
    StateDir dir;
    ASSERT_EQ(run_sim({"init"}).code, 0);
    ASSERT_EQ(run_sim({"format"}).code, 0);
    ASSERT_EQ(run_sim({"config", "--page", "7"}).code, 0);
    const std::string key(64, 'A'), public_key = std::string(126, '0') + "42";
    RunResult r = run_sim({"enroll", "KEYED", "--group", "EVERYONE", "--id", "0000000000C1", "--password", "pw",
                           "--key", key, "--public-key", public_key});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(run_sim({"enroll", "NOID", "--group", "EVERYONE", "--key", key}).code, 2) << "a key needs an identifier";
    ASSERT_EQ(run_sim({"touch", "--user", "KEYED"}).code, 0);
    ASSERT_EQ(tmid_init(), TMID_OK);
    orva_tmid id = make_tmid(0xC1);
    uint8_t page[TMID_PAGE_SIZE];
    ASSERT_EQ(tmid_read_page(reinterpret_cast<const uint8_t *>(&id), 7, 1, page), TMID_OK);
    for (uint8_t b : page)
        ASSERT_EQ(b, 0xAA);
    ASSERT_EQ(tmid_read_page(reinterpret_cast<const uint8_t *>(&id), 1, 1, page), TMID_OK);
    EXPECT_EQ(page[0], 0xFF) << "other pages untouched";
    tmid_exit();
    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    ASSERT_EQ(orva_open_device(0, &h, 0), ORVA_OK);
    uint16_t n = 0;
    ASSERT_EQ(orva_db_find_user_by_id(h, &id, &n), ORVA_OK);
    orva_db_record rec;
    ASSERT_EQ(orva_read_db_record(h, n, &rec), ORVA_OK);
    EXPECT_EQ(rec.public_key[63], 0x42);
    EXPECT_EQ(rec.public_key[0], 0x00);
    orva_exit(0);
}

TEST(OrvaSim, ConfigShowsAndChanges)
{
    StateDir dir;
    ASSERT_EQ(run_sim({"init"}).code, 0);
    RunResult set = run_sim({"config", "--tm-timeout", "30", "--page", "0", "--watchdog", "99"});
    ASSERT_EQ(set.code, 0) << set.err;
    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    ASSERT_EQ(orva_open_device(0, &h, 0), ORVA_OK);
    uint8_t conf[ORVA_CONF_SIZE];
    ASSERT_EQ(orva_db_conf_get(h, conf), ORVA_OK);
    EXPECT_EQ(conf[0], 30);
    EXPECT_EQ(conf[1], 20);
    EXPECT_EQ(conf[3], 0xFF) << "page 0 is stored complemented";
    EXPECT_EQ(conf[4], 99);
    orva_exit(0);
}

TEST(OrvaSim, BadArgumentsExitTwo)
{
    StateDir dir;
    ASSERT_EQ(run_sim({"init"}).code, 0);
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"bogus"},
        {"init", "--class", "3"},
        {"init", "--area-size", "lots"},
        {"init", "--bogus"},
        {"status", "extra"},
        {"touch"},
        {"touch", "12345"},
        {"touch", "0102030405ZZ"},
        {"touch", "0102030405A6", "--user", "X"},
        {"touch", "--user", "X", "--family", "01"},
        {"untouch", "--all", "--user", "X"},
        {"enroll", "X"},
        {"enroll", "X", "--group"},
        {"enroll", "ABCDEFGHIJKLM", "--group", "ADMINS"},
        {"enroll", "X", "--group", "EVERYONE", "--rights", "3"},
        {"enroll", "X", "--group", "ADMINS", "--id", "0102030405A6"},
        {"enroll", "X", "--group", "ADMINS", "--rights", "16"},
        {"config", "--tm-timeout", "300"},
        {"config", "--watchdog", "-1"},
        {"log", "--clear=yes"},
    };
    for (const auto &args : cases) {
        RunResult r = run_sim(args);
        std::string joined;
        for (const std::string &a : args)
            joined += a + " ";
        EXPECT_EQ(r.code, 2) << joined;
        EXPECT_FALSE(r.err.empty()) << joined;
    }
    RunResult help = run_sim({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char *command : {"init", "status", "touch", "untouch", "format", "enroll", "users", "log", "config", "ia"})
        EXPECT_TRUE(contains(help.out, std::string("  ") + command)) << command;
}

TEST(OrvaSim, LibraryFailuresExitOneWithTheCode)
{
    StateDir dir;
    RunResult none = run_sim({"status"});
    EXPECT_EQ(none.code, 1);
    EXPECT_TRUE(contains(none.err, "no module")) << none.err;
    ASSERT_EQ(run_sim({"init"}).code, 0);
    RunResult unformatted = run_sim({"enroll", "X", "--group", "ADMINS"});
    EXPECT_EQ(unformatted.code, 1);
    EXPECT_TRUE(contains(unformatted.err, "7523")) << unformatted.err;
}

} // namespace
