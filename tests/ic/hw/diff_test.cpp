// Comparison of two inventories: pairing by identity, kinds, order,
// parameter differences, matched bits.
#include "hw_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace hwtest;

namespace {

Diff make_diff(hw_info *a, hw_info *b)
{
    hw_diff *d = nullptr;
    EXPECT_EQ(hw_diff_create(a, b, &d), HW_OK);
    return Diff(d);
}

// "kind:name" per device difference of a class, in order.
std::vector<std::string> summary(const hw_diff *diff, uint32_t type)
{
    static const char *const kinds[] = {"same", "changed", "new", "removed"};
    std::vector<std::string> out;
    for (const hw_dev_diff *dd = hw_diff_get_first_device(diff, type); dd;
         dd = hw_diff_get_next_device(diff, dd)) {
        const hw_device *d = dd->first ? dd->first : dd->second;
        out.push_back(std::string(kinds[dd->kind]) + ":" + d->name);
    }
    return out;
}

// Names of the changed parameters of a device difference.
std::vector<std::string> changed_params(const hw_dev_diff *dd)
{
    std::vector<std::string> out;
    for (const hw_param_diff *pd = hw_dev_diff_get_first_param(dd); pd;
         pd = hw_dev_diff_get_next_param(dd, pd))
        if (pd->kind == HW_PARAM_DIFF_CHANGED)
            out.push_back(pd->first->name);
    return out;
}

TEST(HwDiff, SameDevicesInAnotherOrderAreAllSame)
{
    auto stored = empty_info(), current = empty_info();
    add_pci(stored.get(), 0, 2, 0, 0x8086, 0x0412, 0);
    add_pci(stored.get(), 0, 0x1f, 2, 0x8086, 0x8c02, 0x0601);
    add_pci(stored.get(), 1, 0, 0, 0x10ec, 0x8168, 0);
    add_pci(current.get(), 1, 0, 0, 0x10ec, 0x8168, 0);
    add_pci(current.get(), 0, 0x1f, 2, 0x8086, 0x8c02, 0x0601);
    add_pci(current.get(), 0, 2, 0, 0x8086, 0x0412, 0);
    add_cpu(stored.get(), 0, "x", 100);
    add_cpu(current.get(), 0, "x", 100);
    auto diff = make_diff(stored.get(), current.get());
    EXPECT_EQ(diff->flags, 0u);
    // The stored inventory's order.
    EXPECT_EQ(summary(diff.get(), HW_CLASS_PCI),
              (std::vector<std::string>{"same:0000:00:02.0", "same:0000:00:1f.2", "same:0000:01:00.0"}));
    EXPECT_EQ(summary(diff.get(), HW_CLASS_CPU), (std::vector<std::string>{"same:CPU-0"}));
    EXPECT_TRUE(summary(diff.get(), HW_CLASS_USB).empty());
    const hw_dev_diff *dd = hw_diff_get_first_device(diff.get(), HW_CLASS_PCI);
    ASSERT_TRUE(dd);
    unsigned params = 0;
    for (const hw_param_diff *pd = hw_dev_diff_get_first_param(dd); pd; pd = hw_dev_diff_get_next_param(dd, pd)) {
        EXPECT_EQ(pd->kind, unsigned(HW_PARAM_DIFF_EQUAL));
        EXPECT_STREQ(pd->first->name, pd->second->name);
        ++params;
    }
    EXPECT_EQ(params, 3u);
}

TEST(HwDiff, AMovedCardIsRemovedThenNew)
{
    auto stored = empty_info(), current = empty_info();
    add_pci(stored.get(), 0, 2, 0, 0x8086, 0x0412, 0);
    add_pci(stored.get(), 1, 0, 0, 0x10ec, 0x8168, 0);
    add_pci(current.get(), 2, 0, 0, 0x10ec, 0x8168, 0); // same card, other slot
    add_pci(current.get(), 0, 2, 0, 0x8086, 0x0412, 0);
    auto diff = make_diff(stored.get(), current.get());
    EXPECT_EQ(diff->flags, unsigned(HW_DIFF_ANY));
    EXPECT_EQ(summary(diff.get(), HW_CLASS_PCI),
              (std::vector<std::string>{"same:0000:00:02.0", "removed:0000:01:00.0", "new:0000:02:00.0"}));
    for (const hw_dev_diff *dd = hw_diff_get_first_device(diff.get(), HW_CLASS_PCI); dd;
         dd = hw_diff_get_next_device(diff.get(), dd)) {
        EXPECT_EQ(dd->first == nullptr, dd->kind == HW_DIFF_NEW);
        EXPECT_EQ(dd->second == nullptr, dd->kind == HW_DIFF_REMOVED);
        for (const hw_param_diff *pd = hw_dev_diff_get_first_param(dd); pd; pd = hw_dev_diff_get_next_param(dd, pd)) {
            EXPECT_EQ(pd->kind, unsigned(HW_PARAM_DIFF_EQUAL));
            EXPECT_EQ(pd->first == nullptr, dd->kind == HW_DIFF_NEW);
            EXPECT_EQ(pd->second == nullptr, dd->kind == HW_DIFF_REMOVED);
        }
    }
}

TEST(HwDiff, EqualUsbDevicesPairOneToOneInListOrder)
{
    auto stored = empty_info(), current = empty_info();
    hw_device *s1 = add_usb(stored.get(), "usb1", 0x0781, 0x5567, "");
    hw_device *s2 = add_usb(stored.get(), "1", 0x0781, 0x5567, "");
    hw_device *c1 = add_usb(current.get(), "1", 0x0781, 0x5567, "");
    hw_device *c2 = add_usb(current.get(), "usb1", 0x0781, 0x5567, "");
    hw_device *c3 = add_usb(current.get(), "1", 0x0781, 0x5567, "");
    auto diff = make_diff(stored.get(), current.get());
    const hw_dev_diff *dd = hw_diff_get_first_device(diff.get(), HW_CLASS_USB);
    ASSERT_TRUE(dd);
    EXPECT_EQ(dd->kind, unsigned(HW_DIFF_SAME));
    EXPECT_EQ(dd->first, s1);
    EXPECT_EQ(dd->second, c1);
    dd = hw_diff_get_next_device(diff.get(), dd);
    ASSERT_TRUE(dd);
    EXPECT_EQ(dd->first, s2);
    EXPECT_EQ(dd->second, c2);
    dd = hw_diff_get_next_device(diff.get(), dd);
    ASSERT_TRUE(dd);
    EXPECT_EQ(dd->kind, unsigned(HW_DIFF_NEW));
    EXPECT_EQ(dd->second, c3);
    EXPECT_EQ(hw_diff_get_next_device(diff.get(), dd), nullptr);
}

TEST(HwDiff, SerialChanges)
{
    auto stored = empty_info(), current = empty_info();
    // Part of the identity: the old device goes, a new one comes.
    add_media(stored.get(), HW_MEDIA_FIXED, "hdd0", "/devices/sda", "Z3T0ABCD");
    add_media(current.get(), HW_MEDIA_FIXED, "hdd0", "/devices/sda", "Z3T0ABCE");
    add_usb(stored.get(), "1-2", 0x0781, 0x5567, "4C53");
    add_usb(current.get(), "1-2", 0x0781, 0x5567, "4C54");
    // Not part of it: the same device with a changed parameter.
    add_cpu(stored.get(), 0, "Core i5", 3200);
    add_cpu(current.get(), 0, "Core i5", 3400);
    add_bios(stored.get(), 0xF0000, 0x2000, 1);
    hw_device *bios = add_bios(current.get(), 0xF0000, 0x2000, 1);
    const_cast<uint8_t *>(hw_param_barray(hw_device_get_param_by_name(bios, "hash5")))[0] ^= 1;

    auto diff = make_diff(stored.get(), current.get());
    EXPECT_EQ(summary(diff.get(), HW_CLASS_MEDIA), (std::vector<std::string>{"removed:hdd0", "new:hdd0"}));
    EXPECT_EQ(summary(diff.get(), HW_CLASS_USB), (std::vector<std::string>{"removed:1-2", "new:1-2"}));
    ASSERT_EQ(summary(diff.get(), HW_CLASS_CPU), (std::vector<std::string>{"changed:CPU-0"}));
    const hw_dev_diff *cpu = hw_diff_get_first_device(diff.get(), HW_CLASS_CPU);
    EXPECT_EQ(changed_params(cpu), (std::vector<std::string>{"speed"}));
    const hw_param_diff *first = hw_dev_diff_get_first_param(cpu);
    ASSERT_TRUE(first);
    EXPECT_STREQ(first->first->name, "model"); // every parameter is listed, in order
    EXPECT_EQ(first->kind, unsigned(HW_PARAM_DIFF_EQUAL));
    ASSERT_EQ(summary(diff.get(), HW_CLASS_BIOS), (std::vector<std::string>{"changed:System bios"}));
    EXPECT_EQ(changed_params(hw_diff_get_first_device(diff.get(), HW_CLASS_BIOS)),
              (std::vector<std::string>{"hash5"}));
    EXPECT_EQ(diff->flags, unsigned(HW_DIFF_ANY));
}

TEST(HwDiff, CheckFlagsAreNotLookedAtAndMatchedBitsAreRenewed)
{
    auto stored = empty_info(), current = empty_info(), other = empty_info();
    hw_device *a = add_memory(stored.get(), "DIMM0", 0x1000);
    a->flags = HW_DEVICE_CHECKED;
    hw_device *b = add_memory(current.get(), "DIMM0", 0x2000);
    add_memory(other.get(), "DIMM1", 0x2000);

    auto first = make_diff(stored.get(), current.get());
    EXPECT_EQ(summary(first.get(), HW_CLASS_MEMORY), (std::vector<std::string>{"changed:DIMM0"}));
    EXPECT_EQ(b->flags, unsigned(HW_DEVICE_MATCHED));
    EXPECT_EQ(a->flags, unsigned(HW_DEVICE_CHECKED)); // the check flag is kept

    // A bit left set by the first comparison does not hide the device from
    // the next one.
    auto second = make_diff(current.get(), stored.get());
    EXPECT_EQ(summary(second.get(), HW_CLASS_MEMORY), (std::vector<std::string>{"changed:DIMM0"}));
    auto third = make_diff(other.get(), current.get());
    EXPECT_EQ(summary(third.get(), HW_CLASS_MEMORY), (std::vector<std::string>{"removed:DIMM1", "new:DIMM0"}));
    EXPECT_EQ(a->flags & HW_DEVICE_CHECKED, unsigned(HW_DEVICE_CHECKED));
}

TEST(HwDiff, AnInventoryAgainstItself)
{
    auto info = empty_info();
    add_usb(info.get(), "1-1", 1, 2, "");
    add_usb(info.get(), "1-1", 1, 2, "");
    add_monitor(info.get(), 0, "A", 1);
    auto diff = make_diff(info.get(), info.get());
    EXPECT_EQ(diff->flags, 0u);
    EXPECT_EQ(summary(diff.get(), HW_CLASS_USB), (std::vector<std::string>{"same:1-1", "same:1-1"}));
    const hw_dev_diff *dd = hw_diff_get_first_device(diff.get(), HW_CLASS_USB);
    EXPECT_EQ(dd->first, dd->second);
    hw_diff *d = nullptr;
    EXPECT_EQ(hw_diff_create(info.get(), nullptr, &d), HW_ERR_INVAL);
}

} // namespace
