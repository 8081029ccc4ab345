// Write buffer and read cursor: growth, byte layout, bounds.
#include <ic/util/rbuf.h>
#include <ic/util/result.h>
#include <ic/util/wbuf.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

// A write buffer released at the end of the test.
struct writer {
    wbuf wb{};
    writer(uint32_t capacity = 0)
    {
        EXPECT_EQ(wb_init(&wb, capacity), IC_OK);
    }
    ~writer()
    {
        wb_finalize(&wb, 1);
    }
    bytes contents() const
    {
        return bytes(wb.data, wb.data + wb.length);
    }
};

TEST(Wbuf, InitialCapacity)
{
    writer w0(0);
    EXPECT_EQ(w0.wb.capacity, 64u);
    EXPECT_EQ(w0.wb.length, 0u);
    writer w5(5);
    EXPECT_EQ(w5.wb.capacity, 5u);
}

TEST(Wbuf, GrowsToTwiceTheNeededLength)
{
    struct step {
        uint32_t initial, first, second, capacity_after;
    } steps[] = {
        {0, 65, 0, 130},  // 64 -> 2 * 65
        {0, 64, 0, 64},   // exactly full: no growth
        {0, 60, 10, 140}, // 2 * (60 + 10), not twice the old capacity
        {4, 3, 1, 4},
        {4, 3, 2, 10},
    };
    for (const step &s : steps) {
        writer w(s.initial);
        std::vector<uint8_t> src(s.first + s.second);
        for (size_t i = 0; i < src.size(); ++i)
            src[i] = uint8_t(i * 7);
        ASSERT_EQ(wb_write(&w.wb, src.data(), s.first), IC_OK);
        ASSERT_EQ(wb_write(&w.wb, src.data() + s.first, s.second), IC_OK);
        EXPECT_EQ(w.wb.capacity, s.capacity_after) << s.initial << "+" << s.first << "+" << s.second;
        EXPECT_EQ(w.contents(), src);
    }
}

TEST(Wbuf, FailedGrowthLeavesBufferUnchanged)
{
    writer w;
    ASSERT_EQ(wb_write_u32(&w.wb, 0xdeadbeef), IC_OK);
    // A length that cannot be represented in 32 bits cannot be allocated.
    EXPECT_EQ(wb_write(&w.wb, w.wb.data, UINT32_MAX), IC_ERR_NOMEM);
    EXPECT_EQ(w.wb.length, 4u);
    EXPECT_EQ(w.wb.capacity, 64u);
    EXPECT_EQ(w.contents(), (bytes{0xef, 0xbe, 0xad, 0xde}));
}

TEST(Wbuf, WritingFromItselfSurvivesGrowth)
{
    writer w(4);
    ASSERT_EQ(wb_write(&w.wb, "abcd", 4), IC_OK);
    ASSERT_EQ(wb_write(&w.wb, w.wb.data, 4), IC_OK); // reallocates
    EXPECT_EQ(std::string(reinterpret_cast<char *>(w.wb.data), w.wb.length), "abcdabcd");
}

TEST(Wbuf, ByteLayoutIsLittleEndian)
{
    writer w;
    const uint16_t ab[] = {0x0041, 0x0042, 0};
    const uint16_t wide[] = {0x0416, 0xD83D, 0xDE00, 0}; // Ж and a surrogate pair
    const uint16_t empty16[] = {0};
    ASSERT_EQ(wb_write_u8(&w.wb, 0x01), IC_OK);
    ASSERT_EQ(wb_write_u16(&w.wb, 0x0302), IC_OK);
    ASSERT_EQ(wb_write_u32(&w.wb, 0x07060504), IC_OK);
    ASSERT_EQ(wb_write_u64(&w.wb, 0x0f0e0d0c0b0a0908ull), IC_OK);
    ASSERT_EQ(wb_write_str(&w.wb, ""), IC_OK);
    ASSERT_EQ(wb_write_str(&w.wb, "hi"), IC_OK);
    ASSERT_EQ(wb_write_u16str(&w.wb, ab), IC_OK);
    ASSERT_EQ(wb_write_u16str(&w.wb, wide), IC_OK);
    ASSERT_EQ(wb_write_u16str(&w.wb, empty16), IC_OK);
    ASSERT_EQ(wb_write(&w.wb, "\x00\xff", 2), IC_OK);
    EXPECT_EQ(w.contents(), (bytes{
                                0x01,                                           // u8
                                0x02, 0x03,                                     // u16
                                0x04, 0x05, 0x06, 0x07,                         // u32
                                0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, // u64
                                0x00, 0x00,                                     // ""
                                0x02, 0x00, 'h', 'i',                           // "hi"
                                0x02, 0x00, 0x41, 0x00, 0x42, 0x00,             // u"AB"
                                0x03, 0x00, 0x16, 0x04, 0x3d, 0xd8, 0x00, 0xde, // u"Ж😀"
                                0x00, 0x00,                                     // u""
                                0x00, 0xff,                                     // raw
                            }));
}

TEST(Wbuf, StringLengthLimits)
{
    std::string longest(65535, 'x');
    std::string too_long(65536, 'x');
    std::vector<uint16_t> units(65535, 'y');
    units.push_back(0);
    std::vector<uint16_t> too_many(65536, 'y');
    too_many.push_back(0);

    writer w;
    ASSERT_EQ(wb_write_str(&w.wb, longest.c_str()), IC_OK);
    EXPECT_EQ(w.wb.length, 2u + 65535u);
    EXPECT_EQ(w.wb.data[0], 0xff);
    EXPECT_EQ(w.wb.data[1], 0xff);

    // Too long for the prefix: refused whole, nothing written.
    uint32_t before = w.wb.length;
    EXPECT_EQ(wb_write_str(&w.wb, too_long.c_str()), IC_ERR_INVAL);
    EXPECT_EQ(w.wb.length, before);

    ASSERT_EQ(wb_write_u16str(&w.wb, units.data()), IC_OK);
    EXPECT_EQ(w.wb.length, before + 2u + 2u * 65535u);
    before = w.wb.length;
    EXPECT_EQ(wb_write_u16str(&w.wb, too_many.data()), IC_ERR_INVAL);
    EXPECT_EQ(w.wb.length, before);
    EXPECT_EQ(wb_write_str(&w.wb, nullptr), IC_ERR_INVAL);
}

TEST(Wbuf, FinalizeHandsOverOrFrees)
{
    wbuf wb;
    ASSERT_EQ(wb_init(&wb, 0), IC_OK);
    ASSERT_EQ(wb_write(&wb, "xyz", 3), IC_OK);
    uint8_t *data = wb_finalize(&wb, 0);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(wb.length, 3u);
    EXPECT_EQ(wb.data, nullptr);
    EXPECT_EQ(std::memcmp(data, "xyz", 3), 0);
    std::free(data);

    ASSERT_EQ(wb_init(&wb, 0), IC_OK);
    EXPECT_EQ(wb_finalize(&wb, 1), nullptr);
    EXPECT_EQ(wb.data, nullptr);
    EXPECT_EQ(wb_finalize(&wb, 1), nullptr); // a second call is harmless
}

// Every read primitive on a buffer that is one byte short fails with 1 and
// leaves the cursor in place; the same read on the full bytes succeeds.
TEST(Rbuf, TruncatedReadsAreNeverPartial)
{
    struct reader {
        const char *name;
        bytes full;
        int (*read)(rbuf *);
    } readers[] = {
        {"u8", {1}, [](rbuf *rb) { uint8_t v; return rb_read_u8(rb, &v); }},
        {"u16", {1, 2}, [](rbuf *rb) { uint16_t v; return rb_read_u16(rb, &v); }},
        {"u32", {1, 2, 3, 4}, [](rbuf *rb) { uint32_t v; return rb_read_u32(rb, &v); }},
        {"u64", {1, 2, 3, 4, 5, 6, 7, 8}, [](rbuf *rb) { uint64_t v; return rb_read_u64(rb, &v); }},
        {"read", {1, 2, 3, 4}, [](rbuf *rb) { uint8_t d[4]; return rb_read(rb, d, 4); }},
        {"get_ptr", {1, 2, 3}, [](rbuf *rb) { const uint8_t *p; return rb_get_ptr(rb, 3, &p); }},
        {"str", {3, 0, 'a', 'b', 'c'},
         [](rbuf *rb) { const char *p; uint16_t n; return rb_read_str(rb, &p, &n); }},
        {"u16str", {2, 0, 'a', 0, 'b', 0},
         [](rbuf *rb) { const uint8_t *p; uint16_t n; return rb_read_u16str(rb, &p, &n); }},
        {"zstr", {3, 0, 'a', 'b', 'c'},
         [](rbuf *rb) {
             char *s = nullptr;
             int ret = rb_read_and_alloc_zstr(rb, &s);
             std::free(s);
             return ret;
         }},
        {"u16zstr", {2, 0, 'a', 0, 'b', 0},
         [](rbuf *rb) {
             uint16_t *s = nullptr;
             int ret = rb_read_and_alloc_u16zstr(rb, &s);
             std::free(s);
             return ret;
         }},
    };
    for (const reader &r : readers) {
        SCOPED_TRACE(r.name);
        // A prefix byte so that the cursor does not start at 0.
        bytes data{0xaa};
        data.insert(data.end(), r.full.begin(), r.full.end());
        for (size_t cut = 1; cut < data.size(); ++cut) {
            rbuf rb;
            rb_init(&rb, data.data(), uint32_t(cut));
            rb.pos = 1;
            EXPECT_EQ(r.read(&rb), IC_ERR_IO) << "cut " << cut;
            EXPECT_EQ(rb.pos, 1u);
        }
        rbuf rb;
        rb_init(&rb, data.data(), uint32_t(data.size()));
        rb.pos = 1;
        EXPECT_EQ(r.read(&rb), IC_OK);
        EXPECT_EQ(rb.pos, data.size());
    }
}

TEST(Rbuf, ShortReadThenSmallerReadSucceeds)
{
    const uint8_t data[] = {1, 2, 3};
    rbuf rb;
    rb_init(&rb, data, 3);
    uint8_t out[4] = {};
    EXPECT_EQ(rb_read(&rb, out, 4), IC_ERR_IO);
    EXPECT_EQ(rb.pos, 0u);
    EXPECT_EQ(rb_read(&rb, out, 3), IC_OK);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(rb_remaining(&rb), 0u);
    EXPECT_EQ(rb_read(&rb, out, 0), IC_OK); // nothing left, nothing asked
    EXPECT_EQ(rb_read(&rb, out, 1), IC_ERR_IO);
}

TEST(Rbuf, ReadsBackWhatWasWritten)
{
    const uint16_t wide[] = {0x0416, 0xD83D, 0xDE00, 0};
    const uint16_t empty16[] = {0};
    std::string longest(65535, 'q');
    wbuf wb;
    ASSERT_EQ(wb_init(&wb, 0), IC_OK);
    ASSERT_EQ(wb_write_u16(&wb, 0xbeef), IC_OK);
    ASSERT_EQ(wb_write_str(&wb, ""), IC_OK);
    ASSERT_EQ(wb_write_str(&wb, "/windows/system32"), IC_OK);
    ASSERT_EQ(wb_write_u16str(&wb, wide), IC_OK);
    ASSERT_EQ(wb_write_u16str(&wb, empty16), IC_OK);
    ASSERT_EQ(wb_write_str(&wb, longest.c_str()), IC_OK);
    ASSERT_EQ(wb_write_u64(&wb, 0x8000000000000001ull), IC_OK);
    uint32_t size = wb.length;
    uint8_t *data = wb_finalize(&wb, 0);

    rbuf rb;
    rb_init(&rb, data, size);
    uint16_t u16;
    ASSERT_EQ(rb_read_u16(&rb, &u16), IC_OK);
    EXPECT_EQ(u16, 0xbeef);

    char *s = nullptr;
    ASSERT_EQ(rb_read_and_alloc_zstr(&rb, &s), IC_OK);
    EXPECT_STREQ(s, "");
    std::free(s);

    const char *p;
    uint16_t len;
    ASSERT_EQ(rb_read_str(&rb, &p, &len), IC_OK);
    EXPECT_EQ(std::string(p, len), "/windows/system32");

    uint16_t *w = nullptr;
    ASSERT_EQ(rb_read_and_alloc_u16zstr(&rb, &w), IC_OK);
    EXPECT_EQ(std::vector<uint16_t>(w, w + 4), (std::vector<uint16_t>{0x0416, 0xD83D, 0xDE00, 0}));
    std::free(w);

    const uint8_t *units;
    uint16_t count;
    ASSERT_EQ(rb_read_u16str(&rb, &units, &count), IC_OK);
    EXPECT_EQ(count, 0);

    ASSERT_EQ(rb_read_and_alloc_zstr(&rb, &s), IC_OK);
    EXPECT_EQ(std::string(s), longest);
    std::free(s);

    uint64_t u64;
    ASSERT_EQ(rb_read_u64(&rb, &u64), IC_OK);
    EXPECT_EQ(u64, 0x8000000000000001ull);
    EXPECT_EQ(rb_remaining(&rb), 0u);
    rb_finalize(&rb, 1); // takes the data over
    EXPECT_EQ(rb.data, nullptr);
}

TEST(Rbuf, StringPointersPointIntoTheBuffer)
{
    const uint8_t data[] = {2, 0, 'o', 'k', 1, 0, 0x41, 0x00};
    rbuf rb;
    rb_init(&rb, data, sizeof data);
    const char *p;
    uint16_t len;
    ASSERT_EQ(rb_read_str(&rb, &p, &len), IC_OK);
    EXPECT_EQ(reinterpret_cast<const uint8_t *>(p), data + 2);
    const uint8_t *units;
    uint16_t count;
    ASSERT_EQ(rb_read_u16str(&rb, &units, &count), IC_OK);
    EXPECT_EQ(units, data + 6);
    EXPECT_EQ(count, 1);
}

TEST(Rbuf, NullArgumentsAreRefused)
{
    const uint8_t data[] = {0, 0};
    rbuf rb;
    rb_init(&rb, data, 2);
    EXPECT_EQ(rb_read(&rb, nullptr, 1), IC_ERR_INVAL);
    EXPECT_EQ(rb_read_and_alloc_zstr(&rb, nullptr), IC_ERR_INVAL);
    EXPECT_EQ(rb_read_u16(nullptr, nullptr), IC_ERR_INVAL);
    EXPECT_EQ(rb.pos, 0u);
}

} // namespace
