// PCI functions: bus address and the vendor, device and class words.
#include "hw_internal.h"

#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <cstdio>

namespace {

const char *const param_names[] = {"vendor_id", "device_id", "class"};
const char *const param_titles[] = {"Vendor", "Device", "Class"};

const hw_device_ops pci_ops = {HW_CLASS_PCI, pci_device_write, pci_device_compare, pci_device_copy,
                               _hw_device_destroy};

const hw_pci_device *as_pci(const hw_device *d)
{
    return hw_const_container_of(d, hw_pci_device, base);
}

} // namespace

int _create_pci_device(uint16_t domain, uint8_t bus, uint8_t dev, uint8_t function,
                       uint16_t vendor_id, uint16_t device_id, uint16_t class_code, uint32_t flags,
                       hw_device **device)
{
    HW_ENTER();
    // The image keeps device and function in one byte.
    if (!device || dev > 0x1F || function > 7)
        HW_RETURN(HW_ERR_INVAL);
    auto *d = static_cast<hw_pci_device *>(hw_alloc_record(sizeof(hw_pci_device), nullptr, nullptr, 0));
    if (!d)
        HW_RETURN(HW_ERR_NOMEM);
    std::snprintf(d->name, sizeof d->name, "%04x:%02x:%02x.%x", domain, bus, dev, function);
    _hw_device_base_init(&d->base, &pci_ops, d->name);
    d->domain = domain;
    d->bus = bus;
    d->dev = dev;
    d->function = function;

    const uint16_t values[3] = {vendor_id, device_id, class_code};
    hw_param *params[3] = {};
    int rc = HW_OK;
    for (unsigned k = 0; rc == HW_OK && k < 3; ++k)
        rc = create_uint16_param(param_names[k], param_titles[k], "%04x", values[k], &params[k]);
    rc = hw_device_finish(&d->base, params, 3, rc, device);
    if (rc == HW_OK)
        hw_apply_flags(*device, flags, param_names, 3);
    HW_RETURN(rc);
}

int create_pci_device(uint16_t domain, uint8_t bus, uint8_t dev, uint8_t function,
                      uint16_t vendor_id, uint16_t device_id, uint16_t class_code,
                      hw_device **device)
{
    return _create_pci_device(domain, bus, dev, function, vendor_id, device_id, class_code, 0,
                              device);
}

int pci_device_write(const hw_device *device, wbuf *wb)
{
    HW_ENTER();
    const hw_pci_device *d = as_pci(device);
    uint8_t flags;
    int rc = hw_collect_flags(device, param_names, 3, &flags);
    const hw_param *p[3];
    for (unsigned k = 0; rc == HW_OK && k < 3; ++k) {
        p[k] = hw_device_get_param_by_name(device, param_names[k]);
        if (hw_param_kind(p[k]) != HW_PARAM_UINT16)
            rc = HW_ERR_INVAL;
    }
    if (rc == HW_OK)
        rc = wb_write_u16(wb, d->domain);
    if (rc == HW_OK)
        rc = wb_write_u8(wb, d->bus);
    if (rc == HW_OK)
        rc = wb_write_u8(wb, uint8_t(d->dev << 3 | (d->function & 7)));
    for (unsigned k = 0; rc == HW_OK && k < 3; ++k)
        rc = wb_write_u16(wb, hw_param_uint16(p[k]));
    if (rc == HW_OK)
        rc = wb_write_u8(wb, flags);
    if (rc == HW_OK)
        rc = wb_write_u8(wb, 0);
    HW_RETURN(rc);
}

int pci_device_read(hw_info *info, rbuf *rb)
{
    HW_ENTER();
    uint16_t domain, values[3];
    uint8_t bus, devfn, flags, pad;
    int rc = rb_read_u16(rb, &domain);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &bus);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &devfn);
    for (unsigned k = 0; rc == HW_OK && k < 3; ++k)
        rc = rb_read_u16(rb, &values[k]);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &flags);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &pad);
    hw_device *d = nullptr;
    if (rc == HW_OK)
        rc = _create_pci_device(domain, bus, devfn >> 3, devfn & 7, values[0], values[1], values[2],
                                flags, &d);
    HW_RETURN(hw_append_read(info, rc, d));
}

int pci_device_compare(const hw_device *a, const hw_device *b)
{
    const hw_pci_device *x = as_pci(a), *y = as_pci(b);
    int c = hw_cmp(x->domain, y->domain);
    if (!c)
        c = hw_cmp(x->bus, y->bus);
    if (!c)
        c = hw_cmp(x->dev, y->dev);
    if (!c)
        c = hw_cmp(x->function, y->function);
    return c;
}

int pci_device_copy(const hw_device *device, hw_device **copy)
{
    HW_ENTER();
    if (!device || !copy)
        HW_RETURN(HW_ERR_INVAL);
    const hw_pci_device *d = as_pci(device);
    uint16_t values[3];
    for (unsigned k = 0; k < 3; ++k) {
        const hw_param *p = hw_device_get_param_by_name(device, param_names[k]);
        if (hw_param_kind(p) != HW_PARAM_UINT16)
            HW_RETURN(HW_ERR_INVAL);
        values[k] = hw_param_uint16(p);
    }
    HW_RETURN(create_pci_device(d->domain, d->bus, d->dev, d->function, values[0], values[1],
                                values[2], copy));
}
