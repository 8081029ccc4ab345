// Inventory model: parameter kinds and texts, class constructors, identity,
// copy, lists.
#include "hw_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace hwtest;

namespace {

Param uint16_param(const char *format, uint16_t value, int expect = HW_OK)
{
    hw_param *p = nullptr;
    EXPECT_EQ(create_uint16_param("n", "T", format, value, &p), expect) << format;
    return Param(p);
}

Param barray_param(const bytes &b)
{
    hw_param *p = nullptr;
    EXPECT_EQ(create_barray_param("n", "T", b.data(), uint32_t(b.size()), &p), HW_OK);
    return Param(p);
}

Param string_param(const char *value, int length, const char *text)
{
    hw_param *p = nullptr;
    EXPECT_EQ(create_string_param("n", "T", value, length, text, &p), HW_OK);
    return Param(p);
}

TEST(HwParam, Uint16TextsAndTheirLimit)
{
    EXPECT_STREQ(uint16_param("%04x", 0x1af4)->text, "1af4");
    EXPECT_STREQ(uint16_param("%d MHz", 3200)->text, "3200 MHz");
    // The text must stay below 1024 characters.
    EXPECT_EQ(std::strlen(uint16_param("%01023d", 7)->text), 1023u);
    EXPECT_FALSE(uint16_param("%01024d", 7, HW_ERR_INVAL));
    Param p = uint16_param("%04x", 0xBEEF);
    EXPECT_EQ(hw_param_kind(p.get()), unsigned(HW_PARAM_UINT16));
    EXPECT_EQ(hw_param_uint16(p.get()), 0xBEEF);
    EXPECT_STREQ(p->name, "n");
    EXPECT_STREQ(p->title, "T");
    EXPECT_EQ(p->flags, 0u);
}

TEST(HwParam, StringValueLengthAndText)
{
    Param own = string_param("value", -1, nullptr);
    EXPECT_STREQ(hw_param_string(own.get()), "value");
    EXPECT_STREQ(own->text, "value"); // no text: the value shows itself
    Param cut = string_param("abcdef", 3, "shown");
    EXPECT_STREQ(hw_param_string(cut.get()), "abc");
    EXPECT_STREQ(cut->text, "shown");
    Param none = string_param(nullptr, -1, nullptr);
    EXPECT_STREQ(hw_param_string(none.get()), "");
}

TEST(HwParam, ByteArrayTexts)
{
    struct Case {
        bytes value;
        const char *text;
    } cases[] = {
        {{}, "{}"},
        {{0x01}, "{01}"},
        {{0x01, 0x02, 0x03, 0x04}, "{01, 02, 03, 04}"},
        {{0x0a, 0x0b, 0x0c, 0x0d, 0xff}, "{0a, 0b ... ff}"},
        {bytes(32, 0xab), "{ab, ab ... ab}"},
    };
    for (const Case &c : cases) {
        Param p = barray_param(c.value);
        EXPECT_STREQ(p->text, c.text);
        ASSERT_EQ(hw_param_barray_size(p.get()), c.value.size());
        EXPECT_TRUE(c.value.empty() || !std::memcmp(hw_param_barray(p.get()), c.value.data(), c.value.size()));
    }
}

TEST(HwParam, Comparisons)
{
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    EXPECT_EQ(hw_param_compare(uint16_param("%d", 5).get(), uint16_param("%x", 5).get()), 0);
    EXPECT_LT(hw_param_compare(uint16_param("%d", 5).get(), uint16_param("%d", 6).get()), 0);
    EXPECT_GT(hw_param_compare(uint16_param("%d", 0xFFFF).get(), uint16_param("%d", 0).get()), 0);
    // Strings by their values, not their texts.
    EXPECT_EQ(hw_param_compare(string_param("a", -1, "x").get(), string_param("a", -1, "y").get()), 0);
    EXPECT_LT(hw_param_compare(string_param("a", -1, nullptr).get(), string_param("b", -1, nullptr).get()), 0);
    // Byte arrays: bytes over the shorter length, then the length.
    struct Case {
        bytes a, b;
        int sign;
    } cases[] = {
        {{1, 2, 3}, {1, 2, 3}, 0},
        {{1, 2}, {1, 2, 3}, -1},
        {{1, 3}, {1, 2, 3}, 1},
        {{}, {}, 0},
        {{0}, {}, 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(sign(hw_param_compare(barray_param(c.a).get(), barray_param(c.b).get())), c.sign);
    // Kinds never compare equal.
    EXPECT_NE(hw_param_compare(uint16_param("%d", 0).get(), string_param("", -1, nullptr).get()), 0);
}

TEST(HwParam, CopyKeepsEverythingButTheFlags)
{
    Param u = uint16_param("%d MHz", 1800);
    Param s = string_param("", -1, "n/a");
    Param b = barray_param(bytes(32, 1));
    u->flags = s->flags = b->flags = HW_PARAM_CHECKED;
    for (hw_param *p : {u.get(), s.get()}) {
        hw_param *c = nullptr;
        ASSERT_EQ(hw_param_copy(p, &c), HW_OK);
        Param copy(c);
        EXPECT_STREQ(copy->name, p->name);
        EXPECT_STREQ(copy->title, p->title);
        EXPECT_STREQ(copy->text, p->text);
        EXPECT_EQ(hw_param_compare(copy.get(), p), 0);
        EXPECT_EQ(copy->flags, 0u);
    }
    hw_param *c = nullptr;
    EXPECT_EQ(hw_param_copy(b.get(), &c), HW_ERR_NOT_SUPPORTED);
    EXPECT_EQ(c, nullptr);
}

Device made(int rc, hw_device *&d)
{
    EXPECT_EQ(rc, HW_OK);
    return Device(rc == HW_OK ? d : nullptr);
}

TEST(HwDevice, ConstructorsNameTheDeviceAndOrderTheParameters)
{
    hw_device *d = nullptr;
    uint8_t hash[HW_HASH_SIZE] = {0x10, 0x20};
    hash[31] = 0x7b;
    struct Case {
        Device device;
        uint32_t type;
        const char *name;
        std::vector<std::string> params;
    } cases[] = {
        {made(create_cpu_device(1, "Core i5", -1, 3200, &d), d), HW_CLASS_CPU, "CPU-1",
         {"model=Core i5", "speed=3200 MHz"}},
        {made(create_cpu_device(0, "", -1, 0, &d), d), HW_CLASS_CPU, "CPU-0",
         {"model=n/a", "speed=0 MHz"}},
        {made(create_bios_device(0xF0000, 0, "", -1, "1.2", -1, "01/02/2003", -1, nullptr, &d), d),
         HW_CLASS_BIOS, "System bios", {"vendor=", "version=1.2", "date=01/02/2003"}},
        {made(create_memory_device("BANK 0 (DIMM0)", -1, 0x8200, &d), d), HW_CLASS_MEMORY,
         "BANK 0 (DIMM0)", {"size=512 Kb"}},
        {made(create_media_device(HW_MEDIA_OPTICAL, "cd0", -1, "/devices/x/sr0", -1, "HL", -1, "",
                                  -1, "LG00", -1, "", -1, &d), d),
         HW_CLASS_MEDIA, "cd0", {"vendor=HL", "model=n/a", "revision=LG00", "serial=n/a"}},
        {made(create_pci_device(0, 0, 0x1f, 3, 0x8086, 0xa348, 0x0403, &d), d), HW_CLASS_PCI,
         "0000:00:1f.3", {"vendor_id=8086", "device_id=a348", "class=0403"}},
        {made(create_pci_device(0xabcd, 0xff, 0, 7, 0x10ec, 0x8168, 0, &d), d), HW_CLASS_PCI,
         "abcd:ff:00.7", {"vendor_id=10ec", "device_id=8168", "class=0000"}},
        {made(create_usb_device("1-1.2", -1, 0x46d, 0xc52b, "", -1, &d), d), HW_CLASS_USB, "1-1.2",
         {"id_vendor=046d", "id_product=c52b", "serial=n/a"}},
        {made(create_monitor_device(2, "SAM:4e0c", -1, hash, &d), d), HW_CLASS_MONITOR,
         "Port 2 (SAM:4e0c)", {"edid_hash={10, 20 ... 7b}"}},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(c.device);
        EXPECT_EQ(hw_device_type(c.device.get()), c.type);
        EXPECT_STREQ(c.device->name, c.name);
        EXPECT_EQ(c.device->flags, 0u);
        EXPECT_EQ(param_texts(c.device.get()), c.params) << c.name;
        for (const hw_param *p = hw_device_get_first_param(c.device.get()); p;
             p = hw_device_get_next_param(c.device.get(), p))
            EXPECT_EQ(p->flags, 0u);
    }
}

TEST(HwDevice, MemorySizeTexts)
{
    struct Case {
        uint16_t size;
        const char *text;
    } cases[] = {
        {0x0000, "Not installed"}, {0xFFFF, "Unknown"},   {0x8200, "512 Kb"}, {0x0200, "512 Mb"},
        {0x8000, "0 Kb"},          {0x7FFF, "32767 Mb"},  {0x1000, "4096 Mb"}, {0xFFFE, "32766 Kb"},
    };
    for (const Case &c : cases) {
        hw_device *d = nullptr;
        Device dev = made(create_memory_device("DIMM", -1, c.size, &d), d);
        const hw_param *p = hw_device_get_param_by_name(dev.get(), "size");
        ASSERT_TRUE(p);
        EXPECT_STREQ(p->text, c.text) << std::hex << c.size;
        EXPECT_STREQ(p->title, "Size");
    }
}

TEST(HwDevice, BiosHasOneDigestPerStartedKib)
{
    struct Case {
        uint32_t address, size;
        size_t hashes;
        const char *last_title;
    } cases[] = {
        {0xF0000, 0, 0, nullptr},
        {0xF0000, 1, 1, "f0000 (00K)"},
        {0xF0000, 1024, 1, "f0000 (00K)"},
        {0xF0000, 1025, 2, "f0400 (01K)"},
        {0xF0000, 0x10000, 64, "ffc00 (63K)"},
        {0xE0000, 0x20000, 128, "ffc00 (127K)"},
    };
    for (const Case &c : cases) {
        bytes digests = digests_for(c.size);
        hw_device *d = nullptr;
        Device dev = made(create_bios_device(c.address, c.size, "V", -1, "1", -1, "D", -1,
                                             digests.data(), &d), d);
        std::vector<const hw_param *> hashes;
        for (const hw_param *p = hw_device_get_first_param(dev.get()); p;
             p = hw_device_get_next_param(dev.get(), p))
            if (hw_param_kind(p) == HW_PARAM_BARRAY)
                hashes.push_back(p);
        ASSERT_EQ(hashes.size(), c.hashes) << c.size;
        for (size_t i = 0; i < hashes.size(); ++i) {
            EXPECT_EQ(hashes[i]->name, "hash" + std::to_string(i));
            ASSERT_EQ(hw_param_barray_size(hashes[i]), unsigned(HW_HASH_SIZE));
            EXPECT_EQ(0, std::memcmp(hw_param_barray(hashes[i]), &digests[i * HW_HASH_SIZE], HW_HASH_SIZE));
        }
        if (c.last_title) {
            EXPECT_STREQ(hashes.back()->title, c.last_title);
        }
    }
}

TEST(HwDevice, InvalidArguments)
{
    hw_device *d = nullptr;
    // Device and function share one byte of the image.
    EXPECT_EQ(create_pci_device(0, 0, 0x20, 0, 1, 2, 3, &d), HW_ERR_INVAL);
    EXPECT_EQ(create_pci_device(0, 0, 0, 8, 1, 2, 3, &d), HW_ERR_INVAL);
    EXPECT_EQ(create_media_device(3, "x", -1, "/p", -1, "", -1, "", -1, "", -1, "", -1, &d), HW_ERR_INVAL);
    EXPECT_EQ(create_bios_device(0, 1024, "", -1, "", -1, "", -1, nullptr, &d), HW_ERR_INVAL);
    EXPECT_EQ(create_monitor_device(0, "x", -1, nullptr, &d), HW_ERR_INVAL);
    EXPECT_EQ(d, nullptr);
}

TEST(HwDevice, ParameterLookupIsExactAndCaseSensitive)
{
    hw_device *d = nullptr;
    Device dev = made(create_usb_device("1-1", -1, 1, 2, "S", -1, &d), d);
    EXPECT_TRUE(hw_device_get_param_by_name(dev.get(), "id_vendor"));
    EXPECT_FALSE(hw_device_get_param_by_name(dev.get(), "ID_VENDOR"));
    EXPECT_FALSE(hw_device_get_param_by_name(dev.get(), "id_vendo"));
    EXPECT_FALSE(hw_device_get_param_by_name(dev.get(), "Vendor")); // a title, not a name
}

TEST(HwDevice, Identity)
{
    auto info = empty_info();
    hw_info *i = info.get();
    uint8_t h1[HW_HASH_SIZE] = {1}, h2[HW_HASH_SIZE] = {2};
    hw_device *d = nullptr;
    struct Case {
        hw_device *a, *b;
        bool same;
        const char *what;
    } cases[] = {
        {add_usb(i, "usb2", 0x46d, 0xc52b, "S"), add_usb(i, "2", 0x46d, 0xc52b, "S"), true, "usb prefix ignored"},
        {add_usb(i, "usb2", 1, 2, ""), add_usb(i, "usb2", 1, 2, ""), true, "usb names"},
        {add_usb(i, "1-2", 1, 2, "S"), add_usb(i, "1-3", 1, 2, "S"), false, "usb name"},
        {add_usb(i, "1-2", 1, 2, "S"), add_usb(i, "1-2", 1, 3, "S"), false, "usb product"},
        {add_usb(i, "1-2", 1, 2, "S"), add_usb(i, "1-2", 1, 2, "T"), false, "usb serial"},
        {add_usb(i, "usbx", 1, 2, ""), add_usb(i, "usbusbx", 1, 2, ""), false, "one prefix only"},
        {add_pci(i, 0, 2, 0, 1, 2, 3), add_pci(i, 0, 2, 0, 4, 5, 6), true, "pci address"},
        {add_pci(i, 0, 2, 0, 1, 2, 3), add_pci(i, 0, 2, 1, 1, 2, 3), false, "pci function"},
        {add_pci(i, 0, 2, 0, 1, 2, 3), add_pci(i, 1, 2, 0, 1, 2, 3), false, "pci bus"},
        {add_cpu(i, 0, "A", 100), add_cpu(i, 0, "B", 200), true, "cpu number"},
        {add_cpu(i, 0, "A", 100), add_cpu(i, 1, "A", 100), false, "cpu number differs"},
        {add_memory(i, "DIMM0", 1), add_memory(i, "DIMM0", 2), true, "memory locator"},
        {add_memory(i, "DIMM0", 1), add_memory(i, "DIMM1", 1), false, "memory locator differs"},
        {add_media(i, 1, "hdd0", "/devices/a", "S1"), add_media(i, 1, "hdd5", "/devices/a", "S1"), true, "media"},
        {add_media(i, 1, "hdd0", "/devices/a", "S1"), add_media(i, 1, "hdd0", "/devices/a", "S2"), false, "media serial"},
        {add_media(i, 1, "hdd0", "/devices/a", "S1"), add_media(i, 1, "hdd0", "/devices/b", "S1"), false, "media path"},
        {add_media(i, 1, "hdd0", "/devices/a", "S1"), add_media(i, 2, "hdd0", "/devices/a", "S1"), false, "media type"},
        {add_bios(i, 0xF0000, 0x10000, 1), add_bios(i, 0xF0000, 0x10000, 2), true, "bios"},
        {add_bios(i, 0xF0000, 0x10000), add_bios(i, 0xE0000, 0x10000), false, "bios address"},
        {add_bios(i, 0xF0000, 0x10000), add_bios(i, 0xF0000, 0x8000), false, "bios size"},
        {add(i, create_monitor_device(1, "A", -1, h1, &d), d), add(i, create_monitor_device(1, "B", -1, h2, &d), d), true, "monitor port"},
        {add(i, create_monitor_device(1, "A", -1, h1, &d), d), add(i, create_monitor_device(2, "A", -1, h1, &d), d), false, "monitor port differs"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(c.a && c.b) << c.what;
        EXPECT_EQ(hw_device_compare(c.a, c.b) == 0, c.same) << c.what;
        EXPECT_EQ(hw_device_compare(c.b, c.a) == 0, c.same) << c.what;
    }
}

TEST(HwDevice, OnlyPciAndMemoryDevicesCopy)
{
    auto info = empty_info();
    hw_device *pci = add_pci(info.get(), 3, 0, 1, 0x10ec, 0x8168, 0x0200);
    hw_device *mem = add_memory(info.get(), "DIMM1", 0x8200);
    for (hw_device *d : {pci, mem}) {
        d->flags = HW_DEVICE_CHECKED;
        hw_device_get_first_param(d)->flags = HW_PARAM_CHECKED;
        hw_device *c = nullptr;
        ASSERT_EQ(hw_device_copy(d, &c), HW_OK);
        Device copy(c);
        EXPECT_STREQ(copy->name, d->name);
        EXPECT_EQ(hw_device_compare(copy.get(), d), 0);
        EXPECT_EQ(param_texts(copy.get()), param_texts(d));
        EXPECT_EQ(copy->flags, 0u);
        EXPECT_EQ(hw_device_get_first_param(copy.get())->flags, 0u);
    }
    for (hw_device *d : {add_cpu(info.get(), 0, "x", 1), add_bios(info.get(), 0xF0000, 1024),
                         add_usb(info.get(), "1-1", 1, 2, ""), add_media(info.get(), 1, "hdd0", "/p", ""),
                         add_monitor(info.get(), 0, "m", 0)}) {
        hw_device *c = nullptr;
        EXPECT_EQ(hw_device_copy(d, &c), HW_ERR_NOT_SUPPORTED) << d->name;
        EXPECT_EQ(c, nullptr);
    }
}

TEST(HwInfo, ListsKeepInsertionOrderAndCounters)
{
    auto info = empty_info();
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        EXPECT_EQ(info->count[c], 0u);
        EXPECT_EQ(info->flags[c], 0u);
        EXPECT_EQ(hw_info_get_first_device(info.get(), c), nullptr);
    }
    add_usb(info.get(), "2-1", 1, 1, "");
    hw_device *middle = add_usb(info.get(), "1-1", 1, 1, "");
    add_usb(info.get(), "1-0", 1, 1, "");
    add_cpu(info.get(), 0, "x", 1);
    EXPECT_EQ(device_names(info.get(), HW_CLASS_USB), (std::vector<std::string>{"2-1", "1-1", "1-0"}));
    EXPECT_EQ(info->count[HW_CLASS_USB], 3u);
    EXPECT_EQ(info->count[HW_CLASS_CPU], 1u);

    ASSERT_EQ(_hw_info_remove_device(info.get(), middle), HW_OK);
    Device removed(middle);
    EXPECT_EQ(device_names(info.get(), HW_CLASS_USB), (std::vector<std::string>{"2-1", "1-0"}));
    EXPECT_EQ(info->count[HW_CLASS_USB], 2u);
    EXPECT_EQ(hw_info_get_first_device(info.get(), HW_CLASS_COUNT), nullptr);
    EXPECT_STREQ(hw_class_name(HW_CLASS_MONITOR), "MONITOR");
    EXPECT_EQ(hw_class_name(HW_CLASS_COUNT), nullptr);
}

} // namespace
