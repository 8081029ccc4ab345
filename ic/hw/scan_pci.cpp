// PCI scanner: every function listed in /sys/bus/pci/devices.
#include "hw_internal.h"
#include "scan_sysfs.h"

#include <ic/hw/hw_scan.h>

#include "ic/sys/sysroot.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char *pci_dir = "/sys/bus/pci/devices";

bool hex_run(const char *s, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

int hex_digit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
}

// "DDDD:BB:DD.F" with a device number below 0x20 and a function below 8:
// the addresses a PCI function can have.
int is_pci_dev(const struct dirent *e)
{
    const char *n = e->d_name;
    if (std::strlen(n) != 12 || n[4] != ':' || n[7] != ':' || n[10] != '.')
        return 0;
    if (!hex_run(n, 4) || !hex_run(n + 5, 2) || !hex_run(n + 8, 2) || !hex_run(n + 11, 1))
        return 0;
    return hex_digit(n[8]) * 16 + hex_digit(n[9]) < 0x20 && hex_digit(n[11]) < 8;
}

} // namespace

int scan_pci(hw_info *info)
{
    HW_ENTER();
    if (!info)
        HW_RETURN(HW_ERR_INVAL);
    hw_dirents entries;
    entries.count = ic_sys_scandir(pci_dir, &entries.list, is_pci_dev, alphasort);
    if (entries.count < 0) {
        entries.count = 0;
        HW_RETURN(HW_ERR_IO);
    }
    for (int i = 0; i < entries.count; ++i) {
        const char *name = entries.list[i]->d_name;
        unsigned domain, bus, dev, function;
        if (std::sscanf(name, "%x:%x:%x.%x", &domain, &bus, &dev, &function) != 4)
            HW_RETURN(HW_ERR_IO);
        char dir[sizeof "/sys/bus/pci/devices/" + sizeof entries.list[i]->d_name];
        std::snprintf(dir, sizeof dir, "%s/%s", pci_dir, name);
        unsigned vendor, device, class_code;
        int rc = scanf_sysfs_attr(dir, "vendor", "%x", &vendor);
        if (rc == HW_OK)
            rc = scanf_sysfs_attr(dir, "device", "%x", &device);
        if (rc == HW_OK)
            rc = scanf_sysfs_attr(dir, "class", "%x", &class_code);
        hw_device *d = nullptr;
        if (rc == HW_OK)
            rc = create_pci_device(uint16_t(domain), uint8_t(bus), uint8_t(dev), uint8_t(function),
                                   uint16_t(vendor), uint16_t(device), uint16_t(class_code & 0xFFFF),
                                   &d);
        rc = hw_append_read(info, rc, d);
        if (rc != HW_OK)
            HW_RETURN(rc);
    }
    HW_RETURN(HW_OK);
}
