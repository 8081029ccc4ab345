// Identifiers: the reader, identifier memory and the check byte.
#include "support.h"

#include "module_files.h"

#include <cstdlib>
#include <cstring>

using namespace orva_test;

namespace {

class SimTmidTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        init_module(dir_.path());
        ASSERT_EQ(tmid_init(), TMID_OK);
    }
    void TearDown() override { tmid_exit(); }
    void present(const orva_tmid &id, uint32_t state = TMID_STATE_INITIALISED)
    {
        orva_sim::ReaderEntry e;
        e.state = state;
        std::memcpy(e.id, &id, 8);
        ASSERT_EQ(orva_sim::reader_present(dir_.path(), e), orva_sim::Status::Ok);
    }
    std::vector<tmid_descriptor> list()
    {
        tmid_descriptor *l = nullptr;
        int count = -1;
        EXPECT_EQ(tmid_get_id_list(&l, &count), TMID_OK);
        std::vector<tmid_descriptor> out(l, l + count);
        std::free(l);
        return out;
    }
    StateDir dir_;
};

TEST(SimTmidCrc, OneWireCheckByte)
{
    // The worked example of the 1-Wire CRC: ROM 02 1C B8 01 00 00 00 has check byte A2.
    const uint8_t rom[7] = {0x02, 0x1c, 0xb8, 0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(tmid_crc8(rom, 7), 0xA2);
    const uint8_t with_crc[8] = {0x02, 0x1c, 0xb8, 0x01, 0x00, 0x00, 0x00, 0xA2};
    EXPECT_EQ(tmid_crc8(with_crc, 8), 0) << "a valid identifier checks to zero";
    EXPECT_EQ(tmid_crc8(nullptr, 7), 0);
}

TEST(SimTmidInit, NoReaderWithoutStateDirectory)
{
    StateDir dir;
    ::setenv("ORVA_SIM_DIR", (dir.path() + "/missing").c_str(), 1);
    EXPECT_EQ(tmid_init(), TMID_E_NO_READER);
    tmid_descriptor *l = nullptr;
    int count = 0;
    EXPECT_EQ(tmid_get_id_list(&l, &count), TMID_E_NOT_INITIALISED);
}

TEST_F(SimTmidTest, ListInPresentationOrder)
{
    EXPECT_TRUE(list().empty());
    tmid_descriptor *l = reinterpret_cast<tmid_descriptor *>(1);
    int count = -1;
    ASSERT_EQ(tmid_get_id_list(&l, &count), TMID_OK);
    EXPECT_EQ(l, nullptr);
    EXPECT_EQ(count, 0);
    orva_tmid a = make_tmid(0xA), b = make_tmid(0xB, 0x01);
    present(a);
    present(b, TMID_STATE_UNINITIALISED);
    std::vector<tmid_descriptor> got = list();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].state, static_cast<uint32_t>(TMID_STATE_INITIALISED));
    EXPECT_EQ(std::memcmp(got[0].id, &a, 8), 0);
    EXPECT_EQ(got[1].state, static_cast<uint32_t>(TMID_STATE_UNINITIALISED));
    EXPECT_EQ(got[1].id[0], 0x01);
    EXPECT_EQ(got[1].reader, 0u);
    present(b); // presenting again updates the state, no duplicate
    got = list();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].state, static_cast<uint32_t>(TMID_STATE_INITIALISED));
    ASSERT_EQ(orva_sim::reader_remove(dir_.path(), got[0].id), orva_sim::Status::Ok);
    got = list();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(std::memcmp(got[0].id, &b, 8), 0);
    EXPECT_EQ(tmid_get_id_list(nullptr, &count), TMID_E_INVALID_ARG);
}

TEST_F(SimTmidTest, PagesArePerIdentifierAndNeedItOnTheReader)
{
    orva_tmid a = make_tmid(0xA), b = make_tmid(0xB);
    const uint8_t *ida = reinterpret_cast<const uint8_t *>(&a);
    const uint8_t *idb = reinterpret_cast<const uint8_t *>(&b);
    uint8_t page[2 * TMID_PAGE_SIZE];
    EXPECT_EQ(tmid_read_page(ida, 1, 1, page), TMID_E_ABSENT);
    EXPECT_EQ(tmid_write_page(ida, 1, 1, page), TMID_E_ABSENT);
    present(a);
    present(b);
    ASSERT_EQ(tmid_read_page(ida, 1, 1, page), TMID_OK);
    for (int i = 0; i < TMID_PAGE_SIZE; ++i)
        ASSERT_EQ(page[i], 0xFF) << "never written";
    uint8_t key[2 * TMID_PAGE_SIZE];
    for (int i = 0; i < 2 * TMID_PAGE_SIZE; ++i)
        key[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(tmid_write_page(ida, 254, 2, key), TMID_OK);
    ASSERT_EQ(tmid_read_page(ida, 254, 2, page), TMID_OK);
    EXPECT_EQ(std::memcmp(page, key, sizeof key), 0);
    ASSERT_EQ(tmid_read_page(idb, 254, 1, page), TMID_OK);
    EXPECT_EQ(page[0], 0xFF) << "another identifier's memory is its own";
    // Memory stays with the identifier when it leaves the reader and comes back.
    ASSERT_EQ(orva_sim::reader_remove(dir_.path(), ida), orva_sim::Status::Ok);
    EXPECT_EQ(tmid_read_page(ida, 254, 1, page), TMID_E_ABSENT);
    present(a);
    ASSERT_EQ(tmid_read_page(ida, 255, 1, page), TMID_OK);
    EXPECT_EQ(std::memcmp(page, key + TMID_PAGE_SIZE, TMID_PAGE_SIZE), 0);

    struct Case {
        int page, count;
    };
    for (Case c : {Case{255, 2}, Case{-1, 1}, Case{0, 0}, Case{256, 1}, Case{0, 257}}) {
        EXPECT_EQ(tmid_read_page(ida, c.page, c.count, page), TMID_E_INVALID_ARG) << c.page << "+" << c.count;
        EXPECT_EQ(tmid_write_page(ida, c.page, c.count, key), TMID_E_INVALID_ARG) << c.page << "+" << c.count;
    }
    EXPECT_EQ(tmid_read_page(nullptr, 0, 1, page), TMID_E_INVALID_ARG);
    EXPECT_EQ(tmid_read_page(ida, 0, 1, nullptr), TMID_E_INVALID_ARG);
}

TEST_F(SimTmidTest, InjectedContactLossFailsLaterWrites)
{
    orva_tmid a = make_tmid(0xA);
    const uint8_t *id = reinterpret_cast<const uint8_t *>(&a);
    present(a);
    uint8_t x[TMID_PAGE_SIZE], y[TMID_PAGE_SIZE], page[TMID_PAGE_SIZE];
    std::memset(x, 0x11, sizeof x);
    std::memset(y, 0x22, sizeof y);

    // Page 1 holds x; then y is written twice under the fault.
    struct Case {
        const char *fault;
        int first_write, second_write; // results
        uint8_t head, tail;            // first and last byte of the page then
    };
    for (Case c : {Case{"1", TMID_OK, TMID_E_IO, 0x22, 0x22}, Case{"0", TMID_E_IO, TMID_E_IO, 0x11, 0x11},
                   Case{"0:torn", TMID_E_IO, TMID_E_IO, 0x22, 0x11}}) {
        ASSERT_EQ(tmid_write_page(id, 1, 1, x), TMID_OK);
        ::setenv("ORVA_SIM_TMID_WRITE_FAULT", c.fault, 1);
        EXPECT_EQ(tmid_write_page(id, 1, 1, y), c.first_write) << c.fault;
        EXPECT_EQ(tmid_write_page(id, 1, 1, y), c.second_write) << c.fault;
        ASSERT_EQ(tmid_read_page(id, 1, 1, page), TMID_OK) << "reading still works";
        EXPECT_EQ(page[0], c.head) << c.fault;
        EXPECT_EQ(page[TMID_PAGE_SIZE - 1], c.tail) << c.fault;
        ::unsetenv("ORVA_SIM_TMID_WRITE_FAULT");
    }
    EXPECT_EQ(tmid_write_page(id, 1, 1, y), TMID_OK) << "disarmed";
}

TEST_F(SimTmidTest, TouchInAnotherProcessIsSeenAtOnce)
{
    ASSERT_EQ(run_sim({"touch", "0102030405A6"}).code, 0);
    std::vector<tmid_descriptor> got = list();
    ASSERT_EQ(got.size(), 1u);
    const uint8_t expected[8] = {0x0c, 0x01, 0x02, 0x03, 0x04, 0x05, 0xA6, 0};
    EXPECT_EQ(std::memcmp(got[0].id, expected, 7), 0);
    EXPECT_EQ(got[0].id[7], tmid_crc8(got[0].id, 7));
    EXPECT_EQ(got[0].state, static_cast<uint32_t>(TMID_STATE_INITIALISED));

    ASSERT_EQ(run_sim({"touch", "0000000000FF", "--family", "01", "--uninitialised"}).code, 0);
    got = list();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].id[0], 0x01);
    EXPECT_EQ(got[1].state, static_cast<uint32_t>(TMID_STATE_UNINITIALISED));

    ASSERT_EQ(run_sim({"untouch", "0102030405A6"}).code, 0);
    got = list();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id[0], 0x01);
    EXPECT_EQ(run_sim({"untouch", "0102030405A6"}).code, 1) << "not on the reader";
    ASSERT_EQ(run_sim({"untouch"}).code, 0);
    EXPECT_TRUE(list().empty());
}

} // namespace
