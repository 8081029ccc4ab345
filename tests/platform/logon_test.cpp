// Logon: password hashes, sessions, expiration dates, password change.
#include "support.h"

#include <cstdlib>
#include <cstring>

using namespace orva_test;

namespace {

class SimLogonTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        format_defaults();
        user_ = add_user("ALPHA", 2, id_, "pass");
    }
    orva_tmid id_ = make_tmid(0x112233445566);
    uint16_t user_ = 0;
};

TEST_F(SimLogonTest, HashDependsOnClassIdentifierAndPassword)
{
    orva_xid_t a = xid(id_, "pass");
    EXPECT_EQ(a.dev_class, 1u);
    EXPECT_EQ(orva_xid_is_set(h_, &a), 1);
    orva_xid_t same = xid(id_, "pass");
    EXPECT_EQ(orva_xid_compare(h_, &a, &same), ORVA_OK);
    orva_xid_t other_pw = xid(id_, "Pass");
    orva_xid_t other_id = xid(make_tmid(0x112233445567), "pass");
    orva_xid_t other_class;
    ASSERT_EQ(orva_make_xid(h_, 2, &id_, "pass", &other_class), ORVA_OK);
    EXPECT_EQ(other_class.dev_class, 2u);
    for (const orva_xid_t *x : {&other_pw, &other_id, &other_class})
        EXPECT_EQ(orva_xid_compare(h_, &a, x), ORVA_E_BAD_PASSWORD);
    EXPECT_NE(std::memcmp(a.hash, other_class.hash, sizeof a.hash), 0) << "the class salts the hash";
    orva_xid_t empty = xid(id_, "");
    EXPECT_EQ(orva_xid_is_set(h_, &empty), 1) << "an empty password still hashes";

    orva_xid_t out;
    EXPECT_EQ(orva_make_xid(h_, 3, &id_, "pass", &out), ORVA_E_INVALID_ARG);
    EXPECT_EQ(orva_make_xid(h_, 1, nullptr, "pass", &out), ORVA_E_INVALID_ARG);
    EXPECT_EQ(orva_make_xid(h_, 1, &id_, nullptr, &out), ORVA_E_INVALID_ARG);
    EXPECT_EQ(orva_make_xid(nullptr, 1, &id_, "pass", &out), ORVA_E_BAD_HANDLE);
}

TEST_F(SimLogonTest, ResetKeepsTheClass)
{
    orva_xid_t x = xid(id_, "pass");
    ASSERT_EQ(orva_xid_reset(h_, &x), ORVA_OK);
    EXPECT_EQ(x.dev_class, 1u);
    EXPECT_EQ(orva_xid_is_set(h_, &x), 0);
    std::memset(x.hash, 0xff, sizeof x.hash);
    EXPECT_EQ(orva_xid_is_set(h_, &x), 0) << "all 0xFF is not set either";
    EXPECT_EQ(orva_xid_is_set(h_, nullptr), 0);
}

TEST_F(SimLogonTest, LoginCodesAndSession)
{
    uint16_t number = 99;
    uint8_t admin = 99;
    EXPECT_EQ(orva_get_current_user(h_, &number, &admin), ORVA_E_NO_SESSION);
    EXPECT_EQ(orva_logout(h_), ORVA_E_NO_SESSION);

    orva_tmid stranger = make_tmid(0x999999);
    orva_xid_t x = xid(stranger, "pass");
    EXPECT_EQ(orva_login(h_, &stranger, &x), ORVA_E_UNKNOWN_ID);
    x = xid(id_, "wrong");
    EXPECT_EQ(orva_login(h_, &id_, &x), ORVA_E_BAD_PASSWORD);
    orva_xid_t unset = x;
    orva_xid_reset(h_, &unset);
    EXPECT_EQ(orva_login(h_, &id_, &unset), ORVA_E_BAD_PASSWORD);
    EXPECT_EQ(orva_get_current_user(h_, &number, &admin), ORVA_E_NO_SESSION);

    x = xid(id_, "pass");
    ASSERT_EQ(orva_login(h_, &id_, &x), ORVA_OK);
    ASSERT_EQ(orva_get_current_user(h_, &number, &admin), ORVA_OK);
    EXPECT_EQ(number, user_);
    EXPECT_EQ(admin, 0);
    EXPECT_EQ(orva_get_current_user(h_, nullptr, nullptr), ORVA_OK);

    // A second logon replaces the first; the session outlives the handle.
    orva_tmid boss = make_tmid(0xB055);
    uint16_t boss_no = add_user("BOSS", 1, boss, "chief");
    orva_xid_t bx = xid(boss, "chief");
    ASSERT_EQ(orva_login(h_, &boss, &bx), ORVA_OK);
    reopen();
    ASSERT_EQ(orva_get_current_user(h_, &number, &admin), ORVA_OK);
    EXPECT_EQ(number, boss_no);
    EXPECT_EQ(admin, 1);
    ASSERT_EQ(orva_logout(h_), ORVA_OK);
    EXPECT_EQ(orva_get_current_user(h_, &number, &admin), ORVA_E_NO_SESSION);
}

TEST_F(SimLogonTest, AccountRulesAreTheCallers)
{
    orva_db_record r = record(user_);
    r.blocked = 1;
    std::memset(r.hours, 0, sizeof r.hours);
    ASSERT_EQ(orva_db_modify_user(h_, user_, &r), ORVA_OK);
    orva_xid_t x = xid(id_, "pass");
    EXPECT_EQ(orva_login(h_, &id_, &x), ORVA_OK);
}

TEST_F(SimLogonTest, DeletingTheLoggedOnUserEndsTheSession)
{
    orva_xid_t x = xid(id_, "pass");
    ASSERT_EQ(orva_login(h_, &id_, &x), ORVA_OK);
    ASSERT_EQ(orva_db_delete_user(h_, user_), ORVA_OK);
    uint16_t number = 0;
    EXPECT_EQ(orva_get_current_user(h_, &number, nullptr), ORVA_E_NO_SESSION);
    // A new user taking the number is not logged on.
    EXPECT_EQ(add_user("BRAVO", 2, make_tmid(77), "b"), user_);
    EXPECT_EQ(orva_get_current_user(h_, &number, nullptr), ORVA_E_NO_SESSION);
}

TEST_F(SimLogonTest, FormattingEndsTheSession)
{
    orva_xid_t x = xid(id_, "pass");
    ASSERT_EQ(orva_login(h_, &id_, &x), ORVA_OK);
    static const uint8_t version[4] = {0, 3, 0, 29};
    ASSERT_EQ(orva_format_database(h_, version), ORVA_OK);
    EXPECT_EQ(orva_get_current_user(h_, nullptr, nullptr), ORVA_E_NO_SESSION);
}

TEST_F(SimLogonTest, ExpirationDateFromValidity)
{
    // The clock reads 2024-03-05 09:07:03.
    struct Case {
        uint8_t validity;
        uint32_t validity_long;
        const char *clock;
        int day, month, year;
    };
    const Case cases[] = {
        {30, 0, "2024-03-05 09:07:03", 4, 4, 2024},
        {1, 0, "2024-02-28 23:59:59", 29, 2, 2024},   // leap day
        {1, 0, "2023-02-28 00:00:00", 1, 3, 2023},
        {254, 0, "2024-12-31 12:00:00", 11, 9, 2025},
        {255, 300, "2024-03-05 09:07:03", 30, 12, 2024}, // the 32-bit field
        {255, 0, "2024-03-05 09:07:03", 5, 3, 2024},
        {0, 500, "2024-03-05 09:07:03", -1, -1, -1},    // no expiry
    };
    for (const Case &c : cases) {
        ::setenv("ORVA_SIM_CLOCK", c.clock, 1);
        orva_db_record r = record(user_);
        r.validity = c.validity;
        r.validity_long = c.validity_long;
        ASSERT_EQ(orva_update_password_expiration_date(h_, &r), ORVA_OK);
        EXPECT_EQ(r.exp_day, c.day) << int(c.validity) << " " << c.clock;
        EXPECT_EQ(r.exp_month, c.month) << int(c.validity) << " " << c.clock;
        EXPECT_EQ(r.exp_year, c.year) << int(c.validity) << " " << c.clock;
    }
    orva_db_record r = record(user_);
    r.validity = 255;
    r.validity_long = 0xFFFFFFFF;
    EXPECT_EQ(orva_update_password_expiration_date(h_, &r), ORVA_E_INVALID_ARG) << "past year 9999";
    ::setenv("ORVA_SIM_CLOCK", "2024-02-30 10:00:00", 1);
    r.validity = 5;
    EXPECT_EQ(orva_update_password_expiration_date(h_, &r), ORVA_E_INVALID_ARG) << "malformed clock";
}

TEST_F(SimLogonTest, UpdatePasswordIsInMemoryOnly)
{
    orva_db_record r = record(user_);
    orva_xid_t x = xid(id_, "newpass");
    ASSERT_EQ(orva_update_password(h_, &x, &r), ORVA_OK);
    EXPECT_EQ(orva_xid_compare(h_, &r.xid, &x), ORVA_OK);
    EXPECT_EQ(r.exp_year, 2024);
    EXPECT_EQ(r.exp_month, 4);
    EXPECT_EQ(r.exp_day, 4);
    orva_db_record stored = record(user_);
    EXPECT_EQ(orva_xid_compare(h_, &stored.xid, &x), ORVA_E_BAD_PASSWORD);
}

TEST_F(SimLogonTest, ChangeCurrentUserPasswordStoresHashAndExpiry)
{
    orva_xid_t fresh = xid(id_, "fresh");
    EXPECT_EQ(orva_change_current_user_password(h_, &fresh), ORVA_E_NO_SESSION);
    ASSERT_EQ(orva_db_close(h_), ORVA_OK); // the logon runs without the open database
    orva_xid_t x = xid(id_, "pass");
    ASSERT_EQ(orva_login(h_, &id_, &x), ORVA_OK);
    ASSERT_EQ(orva_change_current_user_password(h_, &fresh), ORVA_OK);
    orva_db_record r = record(user_);
    EXPECT_EQ(orva_xid_compare(h_, &r.xid, &fresh), ORVA_OK);
    EXPECT_EQ(r.exp_year, 2024);
    EXPECT_EQ(r.exp_month, 4);
    EXPECT_EQ(orva_login(h_, &id_, &x), ORVA_E_BAD_PASSWORD) << "old password";
    EXPECT_EQ(orva_login(h_, &id_, &fresh), ORVA_OK);
}

} // namespace
