// Configuration record and watchdog.
#include "support.h"

#include <cstring>

using namespace orva_test;

namespace {

using SimConfigTest = ModuleTest;

TEST_F(SimConfigTest, NewModuleDefaults)
{
    uint8_t v = 0;
    ASSERT_EQ(orva_db_conf_get_tm_timeout(h_, &v), ORVA_OK);
    EXPECT_EQ(v, 20);
    ASSERT_EQ(orva_db_conf_get_pw_timeout(h_, &v), ORVA_OK);
    EXPECT_EQ(v, 20);
    ASSERT_EQ(orva_db_conf_get_max_bad_count(h_, &v), ORVA_OK);
    EXPECT_EQ(v, 3);
    ASSERT_EQ(orva_db_conf_get_tm_page_no(h_, &v), ORVA_OK);
    EXPECT_EQ(v, 0xFE);
    uint32_t wd = 1;
    ASSERT_EQ(orva_get_watchdog_timeout(h_, &wd), ORVA_OK);
    EXPECT_EQ(wd, 0u);
    EXPECT_EQ(orva_db_conf_get_tm_timeout(h_, nullptr), ORVA_E_INVALID_ARG);
}

TEST_F(SimConfigTest, EachValueLandsInItsByteAndSurvivesReopen)
{
    ASSERT_EQ(orva_db_conf_write_tm_timeout(h_, 45), ORVA_OK);
    ASSERT_EQ(orva_db_conf_write_pw_timeout(h_, 0), ORVA_OK);
    ASSERT_EQ(orva_db_conf_write_max_bad_count(h_, 10), ORVA_OK);
    ASSERT_EQ(orva_db_conf_write_tm_page_no(h_, 0xFF), ORVA_OK);
    ASSERT_EQ(orva_write_watchdog_timeout(h_, 0x01020304), ORVA_OK);
    reopen();
    uint8_t conf[ORVA_CONF_SIZE];
    ASSERT_EQ(orva_db_conf_get(h_, conf), ORVA_OK);
    const uint8_t expected[ORVA_CONF_SIZE] = {45, 0, 10, 0xFF, 4, 3, 2, 1, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(conf, expected, sizeof conf), 0);
}

TEST_F(SimConfigTest, WholeRecordWriteChecksTheReservedBytes)
{
    uint8_t conf[ORVA_CONF_SIZE] = {5, 60, 1, 0x00, 99, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(orva_db_conf_write(h_, conf), ORVA_OK);
    uint8_t v = 0;
    ASSERT_EQ(orva_db_conf_get_pw_timeout(h_, &v), ORVA_OK);
    EXPECT_EQ(v, 60);
    uint32_t wd = 0;
    ASSERT_EQ(orva_get_watchdog_timeout(h_, &wd), ORVA_OK);
    EXPECT_EQ(wd, 99u);
    uint8_t bad[ORVA_CONF_SIZE] = {1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 7};
    EXPECT_EQ(orva_db_conf_write(h_, bad), ORVA_E_BAD_IMAGE);
    EXPECT_EQ(orva_db_conf_write(h_, nullptr), ORVA_E_INVALID_ARG);
    uint8_t now[ORVA_CONF_SIZE];
    ASSERT_EQ(orva_db_conf_get(h_, now), ORVA_OK);
    EXPECT_EQ(std::memcmp(now, conf, sizeof conf), 0) << "a refused record changes nothing";
}

} // namespace
