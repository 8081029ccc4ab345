// Event log: records, iteration, capacity, formatting.
#include "support.h"

#include <cstring>
#include <string>

using namespace orva_test;

namespace {

class SimLogTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(orva_log_open(h_, 100), ORVA_OK);
    }
    void append(uint32_t type, uint32_t result, uint32_t param, const std::string &text)
    {
        orva_log_record *r = nullptr;
        ASSERT_EQ(orva_log_create_record(h_, type, result, &param, sizeof param, text.c_str(), &r), ORVA_OK);
        ASSERT_EQ(orva_log_append(h_, r), ORVA_OK);
        ASSERT_EQ(orva_log_destroy_record(h_, r), ORVA_OK);
    }
    // Parameters of every record, oldest first.
    std::vector<uint32_t> params()
    {
        std::vector<uint32_t> out;
        orva_log_record *r = nullptr;
        int rc = orva_log_get_first_record(h_, &r);
        while (rc == ORVA_OK) {
            uint32_t p = 0;
            std::memcpy(&p, r->param, sizeof p);
            out.push_back(p);
            rc = orva_log_get_next_record(h_, &r);
        }
        EXPECT_EQ(rc, ORVA_E_END);
        return out;
    }
};

TEST_F(SimLogTest, RecordIsStampedAndStoredAsMade)
{
    const uint8_t id[8] = {0x0c, 1, 2, 3, 4, 5, 6, 0x99};
    orva_log_record *made = nullptr;
    ASSERT_EQ(orva_log_create_record(h_, 4, 8, id, 8, "login text", &made), ORVA_OK);
    EXPECT_EQ(made->date, 2024u | (3u << 16) | (5u << 24));
    EXPECT_EQ(made->time, 9u | (7u << 8) | (3u << 16));
    ASSERT_EQ(orva_log_append(h_, made), ORVA_OK);
    ASSERT_EQ(orva_log_destroy_record(h_, made), ORVA_OK);
    orva_log_record *empty = nullptr;
    ASSERT_EQ(orva_log_create_record(h_, 2, 0, nullptr, 0, nullptr, &empty), ORVA_OK);
    ASSERT_STREQ(empty->text, "") << "a null text is the empty text";
    ASSERT_EQ(orva_log_append(h_, empty), ORVA_OK);
    ASSERT_EQ(orva_log_destroy_record(h_, empty), ORVA_OK);

    reopen();
    orva_log_record *r = nullptr;
    ASSERT_EQ(orva_log_get_first_record(h_, &r), ORVA_OK);
    EXPECT_EQ(r->type, 4u);
    EXPECT_EQ(r->result, 8u);
    EXPECT_EQ(r->param_size, 8u);
    EXPECT_EQ(std::memcmp(r->param, id, 8), 0);
    EXPECT_STREQ(r->text, "login text");
    ASSERT_EQ(orva_log_get_next_record(h_, &r), ORVA_OK);
    EXPECT_EQ(r->type, 2u);
    EXPECT_EQ(r->param_size, 0u);
    EXPECT_STREQ(r->text, "");
    EXPECT_EQ(orva_log_get_next_record(h_, &r), ORVA_E_END);
    orva_device_state s;
    ASSERT_EQ(orva_get_device_state(h_, &s), ORVA_OK);
    EXPECT_EQ(s.log_record_count, 2u);
}

TEST_F(SimLogTest, ArgumentChecks)
{
    orva_log_record *r = nullptr;
    uint8_t p[9] = {};
    EXPECT_EQ(orva_log_create_record(h_, 1, 0, p, 9, "", &r), ORVA_E_INVALID_ARG);
    EXPECT_EQ(orva_log_create_record(h_, 1, 0, nullptr, 2, "", &r), ORVA_E_INVALID_ARG);
    EXPECT_EQ(orva_log_create_record(h_, 1, 0, p, 2, "", nullptr), ORVA_E_INVALID_ARG);
    std::string too_long(ORVA_LOG_TEXT_MAX + 1, 'x');
    EXPECT_EQ(orva_log_create_record(h_, 1, 0, nullptr, 0, too_long.c_str(), &r), ORVA_E_INVALID_ARG);
    EXPECT_EQ(orva_log_append(h_, nullptr), ORVA_E_INVALID_ARG);
    orva_log_record foreign = {};
    foreign.text = const_cast<char *>("");
    EXPECT_EQ(orva_log_destroy_record(h_, &foreign), ORVA_E_INVALID_ARG) << "not made here";
    ASSERT_EQ(orva_log_create_record(h_, 1, 0, nullptr, 0, "", &r), ORVA_OK);
    ASSERT_EQ(orva_log_destroy_record(h_, r), ORVA_OK);
    EXPECT_EQ(orva_log_destroy_record(h_, r), ORVA_E_INVALID_ARG) << "destroyed twice";
}

TEST_F(SimLogTest, AppendNeedsTheOpenLog)
{
    orva_log_record *r = nullptr;
    ASSERT_EQ(orva_log_create_record(h_, 2, 0, nullptr, 0, "", &r), ORVA_OK);
    ASSERT_EQ(orva_log_close(h_), ORVA_OK);
    EXPECT_EQ(orva_log_close(h_), ORVA_E_LOG_CLOSED);
    EXPECT_EQ(orva_log_append(h_, r), ORVA_E_LOG_CLOSED);
    ASSERT_EQ(orva_log_open(h_, 0), ORVA_OK);
    EXPECT_EQ(orva_log_append(h_, r), ORVA_OK);
    orva_log_destroy_record(h_, r);
}

TEST_F(SimLogTest, EmptyLogAndReadingOnAfterAppends)
{
    orva_log_record *r = nullptr;
    EXPECT_EQ(orva_log_get_first_record(h_, &r), ORVA_E_END);
    append(1, 0, 1, "");
    append(1, 0, 2, "");
    EXPECT_EQ(params(), (std::vector<uint32_t>{1, 2}));
    // After the end, a record appended later is the next one.
    append(1, 0, 3, "");
    ASSERT_EQ(orva_log_get_next_record(h_, &r), ORVA_OK);
    uint32_t p = 0;
    std::memcpy(&p, r->param, 4);
    EXPECT_EQ(p, 3u);
    EXPECT_EQ(orva_log_get_next_record(h_, &r), ORVA_E_END);
}

TEST_F(SimLogTest, FullLogDropsTheOldest)
{
    // Each record stores 16 + 1 + 4 + 2 + 100 bytes.
    const std::string text(100, 't');
    const size_t per_record = 123;
    const uint32_t fits = ORVA_LOG_CAPACITY / per_record;
    for (uint32_t i = 1; i <= fits + 10; ++i)
        append(16384, 0, i, text);
    std::vector<uint32_t> p = params();
    ASSERT_EQ(p.size(), fits);
    EXPECT_EQ(p.front(), 11u);
    EXPECT_EQ(p.back(), fits + 10);

    // The longest text still fits: older records make room for it.
    std::string longest(ORVA_LOG_TEXT_MAX, 'L');
    append(32, 0, 0, longest);
    EXPECT_EQ(params().back(), 0u);
}

TEST_F(SimLogTest, FormatEmptiesTheLog)
{
    append(1, 0, 1, "a");
    append(1, 0, 2, "b");
    orva_log_record *r = nullptr;
    ASSERT_EQ(orva_log_get_first_record(h_, &r), ORVA_OK);
    ASSERT_EQ(orva_log_close(h_), ORVA_OK);
    ASSERT_EQ(orva_format_log(h_), ORVA_OK);
    ASSERT_EQ(orva_log_open(h_, 0), ORVA_OK);
    EXPECT_EQ(orva_log_get_first_record(h_, &r), ORVA_E_END);
    append(1, 0, 260, "");
    EXPECT_EQ(params(), (std::vector<uint32_t>{260}));
}

} // namespace
