// Formatting, device states, records and the database image.
#include "support.h"

#include "db_image.h"

#include <cstdlib>
#include <cstring>
#include <functional>

using namespace orva_test;

namespace {

using SimDatabaseTest = ModuleTest;

uint32_t state_of(orva_handle_t h)
{
    orva_device_state s;
    EXPECT_EQ(orva_get_device_state(h, &s), ORVA_OK);
    return s.state;
}

TEST_F(SimDatabaseTest, StatesFollowFormattingAndTheChiefAdministrator)
{
    EXPECT_EQ(state_of(h_), static_cast<uint32_t>(ORVA_STATE_NEW));
    orva_db_record r;
    EXPECT_EQ(orva_read_db_record(h_, 1, &r), ORVA_E_STATE) << "unformatted database";
    EXPECT_EQ(orva_db_open(h_, 0), ORVA_E_STATE);

    format_defaults();
    EXPECT_EQ(state_of(h_), static_cast<uint32_t>(ORVA_STATE_FORMATTED));
    orva_db_record supervisor = record(3);
    supervisor.tmid = make_tmid(0x0102030405A6);
    ASSERT_EQ(orva_db_modify_user(h_, 3, &supervisor), ORVA_OK);
    EXPECT_EQ(state_of(h_), static_cast<uint32_t>(ORVA_STATE_FORMATTED)) << "identifier but no password";
    supervisor.xid = xid(supervisor.tmid, "secret");
    ASSERT_EQ(orva_db_modify_user(h_, 3, &supervisor), ORVA_OK);
    EXPECT_EQ(state_of(h_), static_cast<uint32_t>(ORVA_STATE_READY));
    // The "no identifier" placeholder is not an identifier.
    static const uint8_t placeholder[8] = {0xff, 'U', 'S', 'E', 'R', ' ', ' ', 0xff};
    std::memcpy(&supervisor.tmid, placeholder, 8);
    ASSERT_EQ(orva_db_modify_user(h_, 3, &supervisor), ORVA_OK);
    EXPECT_EQ(state_of(h_), static_cast<uint32_t>(ORVA_STATE_FORMATTED));

    ASSERT_EQ(orva_erase_database(h_), ORVA_OK);
    orva_device_state s;
    ASSERT_EQ(orva_get_device_state(h_, &s), ORVA_OK);
    EXPECT_EQ(s.state, static_cast<uint32_t>(ORVA_STATE_ERASED));
    EXPECT_EQ(s.record_count, 0u);
}

TEST_F(SimDatabaseTest, DefaultRecordsAndUserTemplate)
{
    format_defaults();
    orva_device_state s;
    ASSERT_EQ(orva_get_device_state(h_, &s), ORVA_OK);
    EXPECT_EQ(s.record_count, 3u);
    orva_db_record admins = record(1);
    EXPECT_STREQ(admins.name, "ADMINS");
    EXPECT_EQ(admins.is_group, 1);
    EXPECT_EQ(orva_xid_is_set(h_, &admins.xid), 0) << "a group's hash field carries only the class";

    // The template copies the group's settings, not its identity.
    admins.hours[5] = 0;
    admins.alphabet = 9;
    ASSERT_EQ(orva_db_modify_group(h_, 1, &admins), ORVA_OK);
    orva_db_record t;
    std::memset(&t, 0x55, sizeof t);
    ASSERT_EQ(orva_db_get_user_template(h_, 1, &t), ORVA_OK);
    EXPECT_EQ(t.name[0], 0);
    EXPECT_STREQ(t.group, "ADMINS");
    EXPECT_EQ(t.is_group, 0);
    EXPECT_EQ(t.admin, 1);
    EXPECT_EQ(t.alphabet, 9);
    EXPECT_EQ(t.hours[5], 0);
    EXPECT_EQ(t.min_length, 8);
    EXPECT_EQ(t.validity, 30);
    EXPECT_EQ(t.xid.dev_class, 1u);
    orva_db_record zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&t.tmid, &zero.tmid, sizeof t.tmid), 0);
    EXPECT_EQ(std::memcmp(t.xid.hash, zero.xid.hash, sizeof t.xid.hash), 0);
    EXPECT_EQ(std::memcmp(t.public_key, zero.public_key, sizeof t.public_key), 0);
    EXPECT_EQ(t.exp_day, -1);
    EXPECT_EQ(t.exp_month, -1);
    EXPECT_EQ(t.exp_year, -1);
    EXPECT_EQ(orva_db_get_user_template(h_, 3, &t), ORVA_E_NOT_FOUND) << "a user is no group";
    EXPECT_EQ(orva_db_get_user_template(h_, 0, &t), ORVA_E_NOT_FOUND);
}

TEST_F(SimDatabaseTest, NumbersStartAtOneAndTheLowestFreeIsReused)
{
    format_defaults();
    uint16_t a = add_user("ALPHA", 2, make_tmid(1), "x");
    uint16_t b = add_user("BRAVO", 2, make_tmid(2), "x");
    uint16_t c = add_user("CHARLIE", 2, make_tmid(3), "x");
    EXPECT_EQ(a, 4);
    EXPECT_EQ(b, 5);
    EXPECT_EQ(c, 6);
    ASSERT_EQ(orva_db_delete_user(h_, a), ORVA_OK);
    ASSERT_EQ(orva_db_delete_user(h_, b), ORVA_OK);
    EXPECT_EQ(add_user("DELTA", 2, make_tmid(4), "x"), 4);
    EXPECT_EQ(orva_db_delete_user(h_, b), ORVA_E_NOT_FOUND);

    // The record list runs to the highest number in use, free numbers zero.
    orva_db_record *list = nullptr;
    uint16_t count = 0;
    ASSERT_EQ(orva_db_get_record_list(h_, &list, &count), ORVA_OK);
    ASSERT_EQ(count, 6);
    EXPECT_STREQ(list[3].name, "DELTA");
    EXPECT_EQ(list[4].name[0], 0);
    EXPECT_STREQ(list[5].name, "CHARLIE");
    std::free(list);
}

TEST_F(SimDatabaseTest, RecordChecksOnTheWayIn)
{
    format_defaults();
    orva_db_record user;
    ASSERT_EQ(orva_db_get_user_template(h_, 2, &user), ORVA_OK);
    uint16_t n = 0;
    struct Case {
        const char *what;
        std::function<void(orva_db_record &)> change;
        int code;
    };
    const Case cases[] = {
        {"empty name", [](orva_db_record &r) { r.name[0] = 0; }, ORVA_E_INVALID_ARG},
        {"13 characters", [](orva_db_record &r) { std::memset(r.name, 'A', 13); }, ORVA_E_INVALID_ARG},
        {"control character", [](orva_db_record &r) { set_name(r.name, "BAD\tNAME"); }, ORVA_E_INVALID_ARG},
        {"group flag 2", [](orva_db_record &r) { set_name(r.name, "NEW"); r.is_group = 2; }, ORVA_E_INVALID_ARG},
        {"group as user", [](orva_db_record &r) { set_name(r.name, "NEW"); r.is_group = 1; r.group[0] = 0; }, ORVA_E_INVALID_ARG},
        {"no group", [](orva_db_record &r) { set_name(r.name, "NEW"); r.group[0] = 0; }, ORVA_E_INVALID_ARG},
        {"missing group", [](orva_db_record &r) { set_name(r.name, "NEW"); set_name(r.group, "NOBODY"); }, ORVA_E_NOT_FOUND},
        {"user names a user", [](orva_db_record &r) { set_name(r.name, "NEW"); set_name(r.group, "SUPERVISOR"); }, ORVA_E_NOT_FOUND},
        {"name of a user", [](orva_db_record &r) { set_name(r.name, "SUPERVISOR"); }, ORVA_E_EXISTS},
        {"name of a group", [](orva_db_record &r) { set_name(r.name, "ADMINS"); }, ORVA_E_EXISTS},
    };
    for (const Case &c : cases) {
        orva_db_record r = user;
        set_name(r.name, "NEW");
        c.change(r);
        EXPECT_EQ(orva_db_add_user(h_, &r, &n), c.code) << c.what;
    }
    EXPECT_EQ(orva_db_add_user(h_, nullptr, &n), ORVA_E_INVALID_ARG);
    orva_db_record group = default_group(1, "EVERYONE", 0);
    EXPECT_EQ(orva_db_add_group(h_, &group, &n), ORVA_E_EXISTS);
    set_name(group.group, "ADMINS");
    set_name(group.name, "STAFF");
    EXPECT_EQ(orva_db_add_group(h_, &group, &n), ORVA_E_INVALID_ARG) << "group with a group name";
    orva_device_state s;
    ASSERT_EQ(orva_get_device_state(h_, &s), ORVA_OK);
    EXPECT_EQ(s.record_count, 3u) << "nothing refused was stored";
}

TEST_F(SimDatabaseTest, ChangesNeedTheOpenDatabase)
{
    format_defaults();
    ASSERT_EQ(orva_db_close(h_), ORVA_OK);
    EXPECT_EQ(orva_db_close(h_), ORVA_E_DB_CLOSED);
    orva_db_record r = record(3);
    uint16_t n = 0;
    EXPECT_EQ(orva_db_add_user(h_, &r, &n), ORVA_E_DB_CLOSED);
    EXPECT_EQ(orva_db_modify_user(h_, 3, &r), ORVA_E_DB_CLOSED);
    EXPECT_EQ(orva_db_delete_user(h_, 3), ORVA_E_DB_CLOSED);
    EXPECT_EQ(orva_db_delete_group(h_, 2), ORVA_E_DB_CLOSED);
    EXPECT_EQ(orva_db_find_user_by_name(h_, "SUPERVISOR", 10, &n), ORVA_OK) << "reading works closed";
    EXPECT_EQ(n, 3);
}

TEST_F(SimDatabaseTest, FindByNameAndIdentifier)
{
    format_defaults();
    orva_tmid id = make_tmid(0xABCDEF);
    uint16_t user = add_user("ALPHA", 2, id, "pw");
    uint16_t n = 0;
    EXPECT_EQ(orva_db_find_user_by_name(h_, "ALPHA", 5, &n), ORVA_OK);
    EXPECT_EQ(n, user);
    EXPECT_EQ(orva_db_find_user_by_name(h_, "ALPHABET", 5, &n), ORVA_OK) << "length bytes only";
    EXPECT_EQ(orva_db_find_user_by_name(h_, "ALPH", 4, &n), ORVA_E_NOT_FOUND);
    EXPECT_EQ(orva_db_find_user_by_name(h_, "EVERYONE", 8, &n), ORVA_E_NOT_FOUND) << "a group is no user";
    EXPECT_EQ(orva_db_find_group_by_name(h_, "EVERYONE", 8, &n), ORVA_OK);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(orva_db_find_group_by_name(h_, "ALPHA", 5, &n), ORVA_E_NOT_FOUND);
    EXPECT_EQ(orva_db_find_user_by_name(h_, "", 0, &n), ORVA_E_NOT_FOUND);
    EXPECT_EQ(orva_db_find_user_by_name(h_, nullptr, 3, &n), ORVA_E_INVALID_ARG);

    EXPECT_EQ(orva_db_find_user_by_id(h_, &id, &n), ORVA_OK);
    EXPECT_EQ(n, user);
    orva_tmid other = make_tmid(0xABCDEE);
    EXPECT_EQ(orva_db_find_user_by_id(h_, &other, &n), ORVA_E_NOT_FOUND);
    orva_tmid group_id;
    std::memset(&group_id, 0xff, sizeof group_id); // what the default groups hold
    EXPECT_EQ(orva_db_find_user_by_id(h_, &group_id, &n), ORVA_E_NOT_FOUND);
    orva_tmid none;
    std::memset(&none, 0, sizeof none);
    EXPECT_EQ(orva_db_find_user_by_id(h_, &none, &n), ORVA_E_NOT_FOUND) << "SUPERVISOR has none";
}

TEST_F(SimDatabaseTest, GroupListsUsersAndDeletion)
{
    format_defaults();
    add_user("ALPHA", 2, make_tmid(1), "x");
    add_user("BRAVO", 1, make_tmid(2), "x");
    add_user("CHARLIE", 2, make_tmid(3), "x");
    orva_db_record *list = nullptr;
    uint16_t count = 0;
    ASSERT_EQ(orva_db_get_group_list(h_, &list, &count), ORVA_OK);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(list[0].name, "ADMINS");
    EXPECT_STREQ(list[1].name, "EVERYONE");
    std::free(list);
    ASSERT_EQ(orva_db_get_user_list_by_group(h_, 2, &list, &count), ORVA_OK);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(list[0].name, "ALPHA");
    EXPECT_STREQ(list[1].name, "CHARLIE");
    std::free(list);
    EXPECT_EQ(orva_db_get_user_list_by_group(h_, 4, &list, &count), ORVA_E_NOT_FOUND);

    orva_db_record staff = default_group(1, "STAFF", 0);
    uint16_t staff_no = 0;
    ASSERT_EQ(orva_db_add_group(h_, &staff, &staff_no), ORVA_OK);
    ASSERT_EQ(orva_db_get_user_list_by_group(h_, staff_no, &list, &count), ORVA_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(orva_db_delete_group(h_, 2), ORVA_E_IN_USE);
    EXPECT_EQ(orva_db_delete_group(h_, 3), ORVA_E_NOT_FOUND) << "a user is no group";
    EXPECT_EQ(orva_db_delete_user(h_, 2), ORVA_E_NOT_FOUND) << "a group is no user";
    EXPECT_EQ(orva_db_delete_group(h_, staff_no), ORVA_OK);
}

TEST_F(SimDatabaseTest, RenamingAGroupTakesItsUsersAlong)
{
    format_defaults();
    uint16_t user = add_user("ALPHA", 2, make_tmid(1), "x");
    orva_db_record group = record(2);
    set_name(group.name, "STAFF");
    ASSERT_EQ(orva_db_modify_group(h_, 2, &group), ORVA_OK);
    EXPECT_STREQ(record(user).group, "STAFF");
    set_name(group.name, "ADMINS");
    EXPECT_EQ(orva_db_modify_group(h_, 2, &group), ORVA_E_EXISTS);
    EXPECT_EQ(orva_db_modify_group(h_, user, &group), ORVA_E_NOT_FOUND);
    // Moving a user to another group, and to a missing one.
    orva_db_record r = record(user);
    set_name(r.group, "ADMINS");
    ASSERT_EQ(orva_db_modify_user(h_, user, &r), ORVA_OK);
    set_name(r.group, "GONE");
    EXPECT_EQ(orva_db_modify_user(h_, user, &r), ORVA_E_NOT_FOUND);
    EXPECT_STREQ(record(user).group, "ADMINS");
}

TEST_F(SimDatabaseTest, FullDatabase)
{
    format_defaults();
    orva_db_record r;
    ASSERT_EQ(orva_db_get_user_template(h_, 2, &r), ORVA_OK);
    for (int i = 4; i <= ORVA_DB_MAX_RECORDS; ++i) {
        char name[13];
        std::snprintf(name, sizeof name, "U%d", i);
        set_name(r.name, name);
        uint16_t n = 0;
        ASSERT_EQ(orva_db_add_user(h_, &r, &n), ORVA_OK);
        ASSERT_EQ(n, i);
    }
    set_name(r.name, "ONE-TOO-MANY");
    EXPECT_EQ(orva_db_add_user(h_, &r, nullptr), ORVA_E_FULL);
}

TEST_F(SimDatabaseTest, ImageRoundTripAndWriteFormats)
{
    format_defaults();
    add_user("ALPHA", 2, make_tmid(1), "x");
    std::vector<uint8_t> image(ORVA_DB_IMAGE_SIZE);
    ASSERT_EQ(orva_read_db(h_, image.data(), image.size()), ORVA_OK);
    EXPECT_EQ(orva_read_db(h_, image.data(), image.size() - 1), ORVA_E_INVALID_ARG);
    EXPECT_EQ(image[8], 0);
    EXPECT_EQ(image[9], 3);
    EXPECT_EQ(image[11], 29);

    // Into an erased module: the image brings the records back, formatted.
    ASSERT_EQ(orva_erase_database(h_), ORVA_OK);
    ASSERT_EQ(orva_write_db(h_, image.data(), image.size()), ORVA_OK);
    EXPECT_EQ(state_of(h_), static_cast<uint32_t>(ORVA_STATE_FORMATTED));
    EXPECT_STREQ(record(4).name, "ALPHA");
    std::vector<uint8_t> again(ORVA_DB_IMAGE_SIZE);
    ASSERT_EQ(orva_read_db(h_, again.data(), again.size()), ORVA_OK);
    EXPECT_EQ(again, image);
}

// Malformed images: each is refused and the database stays as it was.
TEST_F(SimDatabaseTest, MalformedImagesAreRefusedAndTheOldDatabaseKept)
{
    format_defaults();
    add_user("ALPHA", 2, make_tmid(1), "x");
    std::vector<uint8_t> good(ORVA_DB_IMAGE_SIZE);
    ASSERT_EQ(orva_read_db(h_, good.data(), good.size()), ORVA_OK);
    auto slot = [](std::vector<uint8_t> &img, int number) {
        return img.data() + orva_sim::kDbHeaderSize + (number - 1) * ORVA_DB_RECORD_SIZE;
    };
    struct Case {
        const char *what;
        std::function<void(std::vector<uint8_t> &)> damage;
        bool reseal;
    };
    const Case cases[] = {
        {"magic", [](std::vector<uint8_t> &i) { i[0] = 'X'; }, true},
        {"layout version", [](std::vector<uint8_t> &i) { i[4] = 9; }, true},
        {"CRC", [&](std::vector<uint8_t> &i) { slot(i, 4)[200] ^= 1; }, false},
        {"all zero", [](std::vector<uint8_t> &i) { std::fill(i.begin(), i.end(), 0); }, false},
        {"unterminated name", [&](std::vector<uint8_t> &i) { std::memset(slot(i, 4), 'A', 13); }, true},
        {"free slot with bytes", [&](std::vector<uint8_t> &i) { slot(i, 9)[300] = 1; }, true},
        {"empty name, rest kept", [&](std::vector<uint8_t> &i) { slot(i, 4)[0] = 0; }, true},
        {"group flag 7", [&](std::vector<uint8_t> &i) { slot(i, 4)[offsetof(orva_db_record, is_group)] = 7; }, true},
        {"duplicate name", [&](std::vector<uint8_t> &i) { std::memcpy(slot(i, 10), slot(i, 4), ORVA_DB_RECORD_SIZE); }, true},
        {"user of missing group", [&](std::vector<uint8_t> &i) { std::memcpy(slot(i, 4) + 13, "NONE\0", 5); }, true},
        {"group with group name", [&](std::vector<uint8_t> &i) { std::memcpy(slot(i, 2) + 13, "ADMINS\0", 7); }, true},
        {"group of users deleted", [&](std::vector<uint8_t> &i) { std::memset(slot(i, 2), 0, ORVA_DB_RECORD_SIZE); }, true},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bad = good;
        c.damage(bad);
        if (c.reseal)
            orva_sim::seal_image(bad);
        EXPECT_EQ(orva_write_db(h_, bad.data(), bad.size()), ORVA_E_BAD_IMAGE) << c.what;
        std::vector<uint8_t> now(ORVA_DB_IMAGE_SIZE);
        ASSERT_EQ(orva_read_db(h_, now.data(), now.size()), ORVA_OK);
        EXPECT_EQ(now, good) << c.what;
    }
    EXPECT_EQ(orva_write_db(h_, nullptr, ORVA_DB_IMAGE_SIZE), ORVA_E_INVALID_ARG);
    EXPECT_EQ(orva_write_db(h_, good.data(), 1000), ORVA_E_INVALID_ARG);
}

} // namespace
