// Stored data: integrity-data and auxiliary areas with bounds, the hand-over
// block, the workstation key, random bytes.
#include "support.h"

#include <cstring>
#include <numeric>

using namespace orva_test;

namespace {

using SimDataTest = ModuleTest;

TEST_F(SimDataTest, AreaBounds)
{
    struct Area {
        const char *name;
        int (*save)(orva_handle_t, const void *, uint32_t, uint32_t);
        int (*load)(orva_handle_t, void *, uint32_t, uint32_t);
        uint32_t size;
    };
    const Area areas[] = {
        {"ic", orva_save_ic_data, orva_load_ic_data, ORVA_IC_DATA_DEFAULT_SIZE},
        {"aux", orva_save_aux_data, orva_load_aux_data, ORVA_AUX_DATA_SIZE},
    };
    std::vector<uint8_t> data(5000);
    std::iota(data.begin(), data.end(), 1);
    for (const Area &a : areas) {
        struct Case {
            uint32_t offset, length;
            int code;
        };
        const Case cases[] = {
            {0, 16, ORVA_OK},
            {a.size - 16, 16, ORVA_OK},
            {a.size - 15, 16, ORVA_E_RANGE},
            {a.size, 0, ORVA_OK},
            {a.size + 1, 0, ORVA_E_RANGE},
            {0xFFFFFFF0u, 0x20, ORVA_E_RANGE}, // wraps in 32 bits
        };
        for (const Case &c : cases) {
            EXPECT_EQ(a.save(h_, data.data(), c.offset, c.length), c.code) << a.name << " save " << c.offset;
            std::vector<uint8_t> back(c.length + 1, 0xEE);
            EXPECT_EQ(a.load(h_, back.data(), c.offset, c.length), c.code) << a.name << " load " << c.offset;
            if (c.code == ORVA_OK && c.length) {
                EXPECT_EQ(std::memcmp(back.data(), data.data(), c.length), 0) << a.name;
            }
            EXPECT_EQ(back[c.length], 0xEE) << "no byte past the length";
        }
        // A refused save wrote nothing.
        std::vector<uint8_t> tail(15);
        ASSERT_EQ(a.load(h_, tail.data(), a.size - 15, 15), ORVA_OK);
        EXPECT_EQ(std::memcmp(tail.data(), data.data() + 1, 15), 0) << a.name;
        EXPECT_EQ(a.save(h_, nullptr, 0, 4), ORVA_E_INVALID_ARG);
    }
}

TEST_F(SimDataTest, IcAreaSizeIsTheModulesAndSurvivesReopen)
{
    orva_exit(0);
    init_module(dir_.path(), 1, ORVA_STATE_NEW, 100000);
    ASSERT_EQ(orva_init(0), ORVA_OK);
    ASSERT_EQ(orva_open_device(0, &h_, 0), ORVA_OK);
    const char block[] = "block at the end";
    EXPECT_EQ(orva_save_ic_data(h_, block, 100000 - sizeof block, sizeof block), ORVA_OK);
    EXPECT_EQ(orva_save_ic_data(h_, block, 100000, 1), ORVA_E_RANGE);
    reopen();
    char back[sizeof block] = {};
    ASSERT_EQ(orva_load_ic_data(h_, back, 100000 - sizeof block, sizeof block), ORVA_OK);
    EXPECT_STREQ(back, block);
}

TEST_F(SimDataTest, HandOverBlockBelongsToTheFormattedDatabase)
{
    format_defaults();
    uint8_t block[ORVA_IA_DATA_SIZE];
    EXPECT_EQ(orva_load_ia_data(h_, block), ORVA_E_NOT_SET);
    uint8_t saved[ORVA_IA_DATA_SIZE];
    std::iota(saved, saved + sizeof saved, 7);
    ASSERT_EQ(orva_save_ia_data(h_, saved), ORVA_OK);
    reopen();
    ASSERT_EQ(orva_load_ia_data(h_, block), ORVA_OK);
    EXPECT_EQ(std::memcmp(block, saved, sizeof block), 0);
    // Records change, the block stays; a format drops it.
    ASSERT_EQ(orva_db_open(h_, 0), ORVA_OK);
    add_user("ALPHA", 2, make_tmid(5), "x");
    ASSERT_EQ(orva_load_ia_data(h_, block), ORVA_OK);
    static const uint8_t version[4] = {0, 3, 0, 29};
    ASSERT_EQ(orva_format_database(h_, version), ORVA_OK);
    EXPECT_EQ(orva_load_ia_data(h_, block), ORVA_E_NOT_SET);
    EXPECT_EQ(orva_save_ia_data(h_, nullptr), ORVA_E_INVALID_ARG);
}

TEST_F(SimDataTest, WorkstationKey)
{
    uint8_t key[ORVA_PRIVATE_KEY_SIZE];
    std::memset(key, 0x5A, sizeof key);
    EXPECT_EQ(orva_iares_get_ws_private_key(h_, key), ORVA_E_NOT_SET);
    for (uint8_t b : key)
        ASSERT_EQ(b, 0) << "zero-filled when never written";
    uint8_t written[ORVA_PRIVATE_KEY_SIZE];
    std::iota(written, written + sizeof written, 100);
    ASSERT_EQ(orva_iares_write_ws_private_key(h_, written), ORVA_OK);
    static const uint8_t version[4] = {0, 3, 0, 29};
    ASSERT_EQ(orva_format_database(h_, version), ORVA_OK); // the key is not part of the database
    reopen();
    ASSERT_EQ(orva_iares_get_ws_private_key(h_, key), ORVA_OK);
    EXPECT_EQ(std::memcmp(key, written, sizeof key), 0);
}

TEST_F(SimDataTest, RandomBytes)
{
    std::vector<uint8_t> a(64, 0), b(64, 0);
    ASSERT_EQ(orva_get_random_bytes(h_, a.data(), 64), ORVA_OK);
    ASSERT_EQ(orva_get_random_bytes(h_, b.data(), 64), ORVA_OK);
    EXPECT_NE(a, b);
    EXPECT_EQ(orva_get_random_bytes(h_, nullptr, 0), ORVA_OK);
    EXPECT_EQ(orva_get_random_bytes(h_, nullptr, 4), ORVA_E_INVALID_ARG);
}

} // namespace
