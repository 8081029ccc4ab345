// Test support: owning wrappers and builders for inventories.
#ifndef TESTS_IC_HW_HW_SUPPORT_H
#define TESTS_IC_HW_HW_SUPPORT_H

#include <ic/hw/hw_diff.h>
#include <ic/hw/hw_info.h>
#include <ic/hw/hw_ptr.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace hwtest {

using bytes = std::vector<uint8_t>;

using Info = ic_hw::info_ptr;
using Diff = ic_hw::diff_ptr;
using Device = ic_hw::device_ptr;
using Param = ic_hw::param_ptr;

inline Info empty_info()
{
    hw_info *i = nullptr;
    EXPECT_EQ(_hw_info_create(&i), HW_OK);
    return Info(i);
}

// Appends the device that the constructor call in rc wrote to device (taken
// by reference: it is read after the call).
inline hw_device *add(hw_info *info, int rc, hw_device *&device)
{
    EXPECT_EQ(rc, HW_OK);
    if (rc != HW_OK)
        return nullptr;
    EXPECT_EQ(_hw_info_add_device(info, device), HW_OK);
    return device;
}

inline hw_device *add_pci(hw_info *info, uint8_t bus, uint8_t dev, uint8_t fn, uint16_t vendor,
                          uint16_t device, uint16_t cls)
{
    hw_device *d = nullptr;
    int rc = create_pci_device(0, bus, dev, fn, vendor, device, cls, &d);
    return add(info, rc, d);
}

inline hw_device *add_usb(hw_info *info, const char *name, uint16_t vendor, uint16_t product,
                          const char *serial)
{
    hw_device *d = nullptr;
    int rc = create_usb_device(name, -1, vendor, product, serial, -1, &d);
    return add(info, rc, d);
}

inline hw_device *add_cpu(hw_info *info, uint32_t number, const char *model, uint16_t speed)
{
    hw_device *d = nullptr;
    int rc = create_cpu_device(number, model, -1, speed, &d);
    return add(info, rc, d);
}

inline hw_device *add_memory(hw_info *info, const char *locator, uint16_t size)
{
    hw_device *d = nullptr;
    int rc = create_memory_device(locator, -1, size, &d);
    return add(info, rc, d);
}

inline hw_device *add_media(hw_info *info, uint32_t type, const char *name, const char *path,
                            const char *serial)
{
    hw_device *d = nullptr;
    int rc = create_media_device(type, name, -1, path, -1, "ATA", -1, "Disk", -1, "1.0", -1,
                                 serial, -1, &d);
    return add(info, rc, d);
}

inline bytes digests_for(uint32_t size, uint8_t seed = 0)
{
    bytes d(size_t((uint64_t(size) + 1023) / 1024) * HW_HASH_SIZE);
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = uint8_t(seed + i * 7 + i / 32);
    return d;
}

inline hw_device *add_bios(hw_info *info, uint32_t address, uint32_t size, uint8_t seed = 0)
{
    bytes digests = digests_for(size, seed);
    hw_device *d = nullptr;
    int rc = create_bios_device(address, size, "AMI", -1, "1.0", -1, "01/02/2003", -1,
                                digests.data(), &d);
    return add(info, rc, d);
}

inline hw_device *add_monitor(hw_info *info, uint32_t port, const char *name, uint8_t fill)
{
    uint8_t hash[HW_HASH_SIZE];
    for (unsigned i = 0; i < HW_HASH_SIZE; ++i)
        hash[i] = uint8_t(fill + i);
    hw_device *d = nullptr;
    int rc = create_monitor_device(port, name, -1, hash, &d);
    return add(info, rc, d);
}

inline bytes image_of(const hw_info *info)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(hw_info_write_to_mem(info, &data, &size), HW_OK);
    bytes b(data, data + size);
    std::free(data);
    return b;
}

inline Info read_image(const bytes &b, int expect = HW_OK)
{
    hw_info *i = nullptr;
    EXPECT_EQ(hw_info_read_from_mem(b.data(), uint32_t(b.size()), &i), expect);
    return Info(i);
}

inline std::vector<std::string> device_names(const hw_info *info, uint32_t type)
{
    std::vector<std::string> names;
    for (const hw_device *d = hw_info_get_first_device(info, type); d;
         d = hw_info_get_next_device(info, d))
        names.push_back(d->name);
    return names;
}

// "name=text" of every parameter of a device, in order.
inline std::vector<std::string> param_texts(const hw_device *d)
{
    std::vector<std::string> out;
    for (const hw_param *p = hw_device_get_first_param(d); p; p = hw_device_get_next_param(d, p))
        out.push_back(std::string(p->name) + "=" + p->text);
    return out;
}

} // namespace hwtest

#endif
