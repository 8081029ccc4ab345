// USB devices: sysfs name, vendor and product identifiers, serial.
#include "hw_internal.h"

#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <cstring>

namespace {

const char *const param_names[] = {"id_vendor", "id_product", "serial"};

const hw_device_ops usb_ops = {HW_CLASS_USB, usb_device_write, usb_device_compare, usb_device_copy,
                               _hw_device_destroy};

const char *without_usb(const char *name)
{
    return std::strncmp(name, "usb", 3) == 0 ? name + 3 : name;
}

} // namespace

int _create_usb_device(const char *name, int name_len, uint16_t id_vendor, uint16_t id_product,
                       const char *serial, int serial_len, uint32_t flags, hw_device **device)
{
    HW_ENTER();
    if (!device)
        HW_RETURN(HW_ERR_INVAL);
    const hw_str n = hw_str_of(name, name_len);
    char *dst[1];
    auto *d = static_cast<hw_usb_device *>(hw_alloc_record(sizeof(hw_usb_device), &n, dst, 1));
    if (!d)
        HW_RETURN(HW_ERR_NOMEM);
    _hw_device_base_init(&d->base, &usb_ops, dst[0]);

    const hw_str s = hw_str_of(serial, serial_len);
    hw_param *params[3] = {};
    int rc = create_uint16_param("id_vendor", "Vendor", "%04x", id_vendor, &params[0]);
    if (rc == HW_OK)
        rc = create_uint16_param("id_product", "Product", "%04x", id_product, &params[1]);
    if (rc == HW_OK)
        rc = create_string_param("serial", "Serial", s.ptr, int(s.len), hw_na_text(s), &params[2]);
    rc = hw_device_finish(&d->base, params, 3, rc, device);
    if (rc == HW_OK)
        hw_apply_flags(*device, flags, param_names, 3);
    HW_RETURN(rc);
}

int create_usb_device(const char *name, int name_len, uint16_t id_vendor, uint16_t id_product,
                      const char *serial, int serial_len, hw_device **device)
{
    return _create_usb_device(name, name_len, id_vendor, id_product, serial, serial_len, 0, device);
}

int usb_device_write(const hw_device *device, wbuf *wb)
{
    HW_ENTER();
    const hw_param *vendor = hw_device_get_param_by_name(device, "id_vendor");
    const hw_param *product = hw_device_get_param_by_name(device, "id_product");
    const char *serial = hw_param_string(hw_device_get_param_by_name(device, "serial"));
    uint8_t flags;
    int rc = hw_collect_flags(device, param_names, 3, &flags);
    if (rc == HW_OK
        && (hw_param_kind(vendor) != HW_PARAM_UINT16 || hw_param_kind(product) != HW_PARAM_UINT16
            || !serial))
        rc = HW_ERR_INVAL;
    if (rc == HW_OK)
        rc = wb_write_u16(wb, hw_param_uint16(vendor));
    if (rc == HW_OK)
        rc = wb_write_u16(wb, hw_param_uint16(product));
    if (rc == HW_OK)
        rc = wb_write_u8(wb, flags);
    if (rc == HW_OK)
        rc = wb_write_u8(wb, 0);
    if (rc == HW_OK)
        rc = wb_write_str(wb, serial);
    if (rc == HW_OK)
        rc = wb_write_str(wb, device->name);
    HW_RETURN(rc);
}

int usb_device_read(hw_info *info, rbuf *rb)
{
    HW_ENTER();
    uint16_t vendor, product, serial_len, name_len;
    uint8_t flags, pad;
    const char *serial, *name;
    int rc = rb_read_u16(rb, &vendor);
    if (rc == HW_OK)
        rc = rb_read_u16(rb, &product);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &flags);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &pad);
    if (rc == HW_OK)
        rc = rb_read_str(rb, &serial, &serial_len);
    if (rc == HW_OK)
        rc = rb_read_str(rb, &name, &name_len);
    hw_device *d = nullptr;
    if (rc == HW_OK)
        rc = _create_usb_device(name, name_len, vendor, product, serial, serial_len, flags, &d);
    HW_RETURN(hw_append_read(info, rc, d));
}

int usb_device_compare(const hw_device *a, const hw_device *b)
{
    int c = std::strcmp(without_usb(a->name), without_usb(b->name));
    for (unsigned k = 0; !c && k < 2; ++k)
        c = int(hw_param_uint16(hw_device_get_param_by_name(a, param_names[k])))
            - int(hw_param_uint16(hw_device_get_param_by_name(b, param_names[k])));
    if (!c) {
        const char *x = hw_param_string(hw_device_get_param_by_name(a, "serial"));
        const char *y = hw_param_string(hw_device_get_param_by_name(b, "serial"));
        c = std::strcmp(x ? x : "", y ? y : "");
    }
    return c;
}

int usb_device_copy(const hw_device *device, hw_device **copy)
{
    return hw_device_no_copy(device, copy);
}
