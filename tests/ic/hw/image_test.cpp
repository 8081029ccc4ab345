// Byte image of an inventory: exact bytes per class, flags, order, and
// images that are malformed or truncated.
#include "hw_support.h"

#include "hw_internal.h"

#include <ic/util/rbuf.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace hwtest;

namespace {

// Image pieces.
struct Image {
    bytes b;
    Image &u8(uint8_t v)
    {
        b.push_back(v);
        return *this;
    }
    Image &u16(uint16_t v)
    {
        return u8(uint8_t(v)).u8(uint8_t(v >> 8));
    }
    Image &u32(uint32_t v)
    {
        return u16(uint16_t(v)).u16(uint16_t(v >> 16));
    }
    Image &str(const std::string &s)
    {
        u16(uint16_t(s.size()));
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Image &raw(const bytes &r)
    {
        b.insert(b.end(), r.begin(), r.end());
        return *this;
    }
};

bytes hash_bytes(uint8_t fill)
{
    bytes h(HW_HASH_SIZE);
    for (unsigned i = 0; i < HW_HASH_SIZE; ++i)
        h[i] = uint8_t(fill + i);
    return h;
}

void check(hw_device *d, const char *param)
{
    hw_param *p = hw_device_get_param_by_name(d, param);
    ASSERT_TRUE(p) << param;
    p->flags = HW_PARAM_CHECKED;
}

TEST(HwImage, EmptyInventoryIsTwoZeroBytes)
{
    auto info = empty_info();
    EXPECT_EQ(image_of(info.get()), (bytes{0x00, 0x00}));
    auto back = read_image({0x00, 0x00});
    ASSERT_TRUE(back);
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        EXPECT_EQ(back->count[c], 0u);
        EXPECT_EQ(back->flags[c], 0u);
    }
}

TEST(HwImage, ExactBytesOfEveryClass)
{
    auto info = empty_info();
    hw_info *i = info.get();
    i->flags[HW_CLASS_CPU] = HW_CLASS_CHECKED;
    i->flags[HW_CLASS_PCI] = HW_CLASS_CHECKED;
    i->flags[HW_CLASS_USB] = 2; // only bit 0 counts

    hw_device *cpu = add_cpu(i, 1, "i5", 3200);
    cpu->flags = HW_DEVICE_CHECKED;
    check(cpu, "speed");
    hw_device *d = nullptr;
    hw_device *bios = add(i, create_bios_device(0xF0000, 0, "V", -1, "1", -1, "D", -1, nullptr, &d), d);
    check(bios, "date");
    hw_device *mem = add_memory(i, "DIMM0", 0x8200);
    check(mem, "size");
    hw_device *media = add_media(i, HW_MEDIA_FIXED, "hdd0", "/d", "S1");
    media->flags = HW_DEVICE_CHECKED;
    check(media, "serial");
    hw_device *pci = add_pci(i, 0, 0x1f, 3, 0x8086, 0xa348, 0x0403);
    pci->flags = HW_DEVICE_CHECKED;
    check(pci, "class");
    hw_device *usb = add_usb(i, "1-2", 0x0781, 0x5567, "AB");
    check(usb, "id_product");
    const bytes h = hash_bytes(0);
    hw_device *mon = add(i, create_monitor_device(2, "M", -1, h.data(), &d), d);
    check(mon, "edid_hash");

    Image expect;
    expect.u16(0x0011);
    expect.u16(0).u16(1).u16(3200).u8(0x03).u8(0).str("i5");
    expect.u16(1).u32(0xF0000).u32(0).str("V").str("1").str("D").u8(0x08);
    expect.u16(2).u16(0x8200).u8(0x02).u8(0).str("DIMM0");
    expect.u16(3).u16(1).u8(0x11).u8(0).str("hdd0").str("/d").str("ATA").str("Disk").str("1.0").str("S1");
    expect.u16(4).u16(0).u8(0).u8(0xFB).u16(0x8086).u16(0xa348).u16(0x0403).u8(0x09).u8(0);
    expect.u16(5).u16(0x0781).u16(0x5567).u8(0x04).u8(0).str("AB").str("1-2");
    expect.u16(6).u16(2).u8(0x02).u8(0).str("M").raw(h);
    const bytes image = image_of(i);
    EXPECT_EQ(image, expect.b);

    // Reading rebuilds names, texts and flags; writing again gives the same bytes.
    auto back = read_image(image);
    ASSERT_TRUE(back);
    EXPECT_EQ(image_of(back.get()), image);
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        EXPECT_EQ(back->flags[c], (c == HW_CLASS_CPU || c == HW_CLASS_PCI) ? 1u : 0u);
        EXPECT_EQ(device_names(back.get(), c), device_names(i, c));
        const hw_device *a = hw_info_get_first_device(i, c), *b = hw_info_get_first_device(back.get(), c);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(b->flags, a->flags);
        EXPECT_EQ(param_texts(b), param_texts(a));
        for (const hw_param *p = hw_device_get_first_param(a), *q = hw_device_get_first_param(b); p && q;
             p = hw_device_get_next_param(a, p), q = hw_device_get_next_param(b, q))
            EXPECT_EQ(q->flags, p->flags) << a->name << " " << p->name;
    }
}

TEST(HwImage, PciDeviceAndFunctionShareAByte)
{
    struct Case {
        uint8_t dev, fn, byte;
    } cases[] = {{0x1f, 3, 0xFB}, {0, 0, 0x00}, {0x1f, 7, 0xFF}, {0x01, 0, 0x08}, {0x14, 0, 0xA0}};
    for (const Case &c : cases) {
        auto info = empty_info();
        add_pci(info.get(), 2, c.dev, c.fn, 1, 2, 3);
        bytes image = image_of(info.get());
        ASSERT_EQ(image.size(), 2u + 2 + 12);
        EXPECT_EQ(image[7], c.byte);
        auto back = read_image(image);
        ASSERT_TRUE(back);
        EXPECT_EQ(device_names(back.get(), HW_CLASS_PCI), device_names(info.get(), HW_CLASS_PCI));
    }
}

TEST(HwImage, BiosDigestsAndFlagBitmap)
{
    struct Case {
        uint32_t size;
        size_t hashes, bitmap;
    } cases[] = {{0, 0, 1}, {1, 1, 1}, {4096, 4, 1}, {5 * 1024, 5, 2}, {65536, 64, 9}, {0x20000, 128, 17}};
    for (const Case &c : cases) {
        auto info = empty_info();
        hw_device *bios = add_bios(info.get(), 0x100000 - c.size, c.size, 5);
        bios->flags = HW_DEVICE_CHECKED;
        check(bios, "vendor");
        if (c.hashes)
            check(bios, ("hash" + std::to_string(c.hashes - 1)).c_str());
        const bytes image = image_of(info.get());
        const size_t head = 2 + 2 + 4 + 4 + 3 * (2 + 0) + 3 + 3 + 10; // mask, code, address, size, strings
        ASSERT_EQ(image.size(), head + c.hashes * HW_HASH_SIZE + c.bitmap) << c.size;
        const bytes digests = digests_for(c.size, 5);
        EXPECT_TRUE(std::equal(digests.begin(), digests.end(), image.begin() + long(head)));
        bytes bitmap(c.bitmap);
        bitmap[0] = 0x03; // device, vendor
        if (c.hashes)
            bitmap[(4 + c.hashes - 1) / 8] |= uint8_t(1u << ((4 + c.hashes - 1) % 8));
        EXPECT_EQ(bytes(image.end() - long(c.bitmap), image.end()), bitmap) << c.size;
        auto back = read_image(image);
        ASSERT_TRUE(back);
        EXPECT_EQ(image_of(back.get()), image);
    }
}

TEST(HwImage, ClassesComeBackInCodeOrderDevicesInImageOrder)
{
    const bytes h = hash_bytes(9);
    Image img;
    img.u16(0x0040); // MONITOR checked
    img.u16(6).u16(3).u8(0).u8(0).str("M3").raw(h);
    img.u16(0).u16(1).u16(100).u8(0).u8(0).str("b");
    img.u16(4).u16(0).u8(0).u8(0x10).u16(1).u16(2).u16(3).u8(0).u8(0);
    img.u16(0).u16(0).u16(200).u8(0).u8(0).str("a");
    img.u16(6).u16(1).u8(0).u8(0).str("M1").raw(h);
    auto info = read_image(img.b);
    ASSERT_TRUE(info);
    EXPECT_EQ(device_names(info.get(), HW_CLASS_CPU), (std::vector<std::string>{"CPU-1", "CPU-0"}));
    EXPECT_EQ(device_names(info.get(), HW_CLASS_MONITOR), (std::vector<std::string>{"Port 3 (M3)", "Port 1 (M1)"}));
    EXPECT_EQ(device_names(info.get(), HW_CLASS_PCI), (std::vector<std::string>{"0000:00:02.0"}));
    EXPECT_EQ(info->flags[HW_CLASS_MONITOR], 1u);

    Image sorted;
    sorted.u16(0x0040);
    sorted.u16(0).u16(1).u16(100).u8(0).u8(0).str("b");
    sorted.u16(0).u16(0).u16(200).u8(0).u8(0).str("a");
    sorted.u16(4).u16(0).u8(0).u8(0x10).u16(1).u16(2).u16(3).u8(0).u8(0);
    sorted.u16(6).u16(3).u8(0).u8(0).str("M3").raw(h);
    sorted.u16(6).u16(1).u8(0).u8(0).str("M1").raw(h);
    EXPECT_EQ(image_of(info.get()), sorted.b);
}

TEST(HwImage, MalformedImagesGiveOneAndNoInventory)
{
    struct Case {
        bytes image;
        const char *what;
    } cases[] = {
        {{}, "nothing"},
        {{0x00}, "half a mask"},
        {{0x00, 0x00, 0x00, 0x00}, "the empty module block's payload"},
        {Image().u16(0).u16(7).b, "unknown class 7"},
        {Image().u16(0).u16(0xFFFF).b, "unknown class 0xffff"},
        {Image().u16(0).u16(0).u16(1).u16(2).u8(0).u8(0).u16(0xFFFF).b, "string past the end"},
        {Image().u16(0).u16(1).u32(0).u32(0xFFFFFFFF).str("").str("").str("").raw(bytes(64)).b, "bios of 4 GiB"},
        {Image().u16(0).u16(1).u32(0).u32(1024).str("").str("").str("").raw(bytes(32)).b, "bios without bitmap"},
        {Image().u16(0).u16(3).u16(3).u8(0).u8(0).str("x").str("").str("").str("").str("").str("").b, "media type 3"},
        {Image().u16(0).u16(6).u16(0).u8(0).u8(0).str("m").raw(bytes(31)).b, "short edid hash"},
        {Image().u16(0).u16(4).u16(0).u8(0).u8(0).u16(1).u16(2).u16(3).u8(0).b, "pci without pad"},
    };
    for (const Case &c : cases) {
        hw_info *info = reinterpret_cast<hw_info *>(&info); // must stay untouched
        hw_info *const before = info;
        EXPECT_EQ(hw_info_read_from_mem(c.image.data(), uint32_t(c.image.size()), &info), HW_ERR_IO) << c.what;
        EXPECT_EQ(info, before) << c.what;
    }
    hw_info *info = nullptr;
    EXPECT_EQ(hw_info_read_from_mem(nullptr, 4, &info), HW_ERR_INVAL);
}

TEST(HwImage, EveryTruncationFailsUnlessItEndsBetweenDevices)
{
    auto info = empty_info();
    hw_info *i = info.get();
    add_cpu(i, 0, "Core", 3200);
    add_bios(i, 0xFF000, 0x1000);
    add_memory(i, "BANK 0 (DIMM0)", 0x1000);
    add_media(i, HW_MEDIA_OPTICAL, "cd0", "/devices/sr0", "K8");
    add_pci(i, 1, 0, 0, 0x10ec, 0x8168, 0x0200);
    add_usb(i, "1-1", 0x46d, 0xc52b, "LGT");
    add_monitor(i, 0, "DELL", 3);
    const bytes image = image_of(i);
    unsigned whole = 0;
    for (size_t n = 0; n < image.size(); ++n) {
        const bytes prefix(image.begin(), image.begin() + long(n));
        hw_info *part = nullptr;
        const int rc = hw_info_read_from_mem(prefix.data(), uint32_t(n), &part);
        Info owned(part);
        if (rc == HW_OK) {
            // A prefix that ends between devices is an inventory of its own.
            EXPECT_EQ(image_of(part), prefix);
            ++whole;
        } else {
            EXPECT_EQ(rc, HW_ERR_IO) << n;
            EXPECT_EQ(part, nullptr);
        }
    }
    EXPECT_EQ(whole, 7u); // the mask alone, then after each device but the last
}

TEST(HwImage, ReadFromAnOpenCursorEndsAtItsEnd)
{
    auto info = empty_info();
    add_pci(info.get(), 0, 2, 0, 0x8086, 0x0412, 0x0000);
    const bytes image = image_of(info.get());
    rbuf rb;
    rb_init(&rb, image.data(), uint32_t(image.size()));
    hw_info *back = nullptr;
    ASSERT_EQ(hw_info_read_from_rbuf(&rb, &back), HW_OK);
    Info owned(back);
    EXPECT_EQ(rb_remaining(&rb), 0u);
    EXPECT_EQ(device_names(back, HW_CLASS_PCI), (std::vector<std::string>{"0000:00:02.0"}));
}

TEST(HwImage, WritingFailsWithoutOutputForDevicesItCannotWrite)
{
    auto info = empty_info();
    hw_device *usb = add_usb(info.get(), "1-1", 1, 2, "S");
    hw_param *serial = hw_device_get_param_by_name(usb, "serial");
    _hw_device_remove_param(usb, serial);
    uint8_t *data = reinterpret_cast<uint8_t *>(&data);
    uint8_t *const before = data;
    uint32_t size = 77;
    EXPECT_EQ(hw_info_write_to_mem(info.get(), &data, &size), HW_ERR_INVAL);
    EXPECT_EQ(data, before);
    EXPECT_EQ(size, 77u);
    _hw_device_add_param(usb, serial);
    EXPECT_EQ(image_of(info.get()).size(), 2u + 2 + 6 + 3 + 5);

    // A string longer than its 16-bit length prefix.
    auto big = empty_info();
    const std::string model(70000, 'x');
    add_cpu(big.get(), 0, model.c_str(), 1);
    EXPECT_EQ(hw_info_write_to_mem(big.get(), &data, &size), HW_ERR_INVAL);
    EXPECT_EQ(data, before);
}

} // namespace
