// Byte image of an inventory: u16 class mask, then every device as its u16
// class code and its class's body, classes in code order.
#include "hw_internal.h"

#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

namespace {

struct class_reader {
    uint32_t type;
    int (*read)(hw_info *info, rbuf *rb);
};

const class_reader readers[] = {
    {HW_CLASS_PCI, pci_device_read},       {HW_CLASS_USB, usb_device_read},
    {HW_CLASS_MEMORY, memory_device_read}, {HW_CLASS_CPU, cpu_device_read},
    {HW_CLASS_BIOS, bios_device_read},     {HW_CLASS_MEDIA, media_device_read},
    {HW_CLASS_MONITOR, monitor_device_read},
};

int write_devices(const hw_info *info, wbuf *wb)
{
    uint16_t mask = 0;
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c)
        if (info->flags[c] & HW_CLASS_CHECKED)
            mask |= uint16_t(1u << c);
    int rc = wb_write_u16(wb, mask);
    for (uint32_t c = 0; rc == HW_OK && c < HW_CLASS_COUNT; ++c) {
        for (const hw_device *d = hw_info_get_first_device(info, c); rc == HW_OK && d;
             d = hw_info_get_next_device(info, d)) {
            rc = wb_write_u16(wb, uint16_t(c));
            if (rc == HW_OK)
                rc = d->ops->write(d, wb);
        }
    }
    return rc;
}

int read_devices(hw_info *info, rbuf *rb)
{
    uint16_t mask;
    int rc = rb_read_u16(rb, &mask);
    if (rc != HW_OK)
        return rc;
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c)
        if (mask & (1u << c))
            info->flags[c] |= HW_CLASS_CHECKED;
    while (rb_remaining(rb) > 0) {
        uint16_t type;
        rc = rb_read_u16(rb, &type);
        if (rc != HW_OK)
            return rc;
        const class_reader *reader = nullptr;
        for (const class_reader &r : readers)
            if (r.type == type)
                reader = &r;
        if (!reader)
            return HW_ERR_IO;
        rc = reader->read(info, rb);
        if (rc != HW_OK)
            return rc;
    }
    return HW_OK;
}

} // namespace

int hw_info_write_to_mem(const hw_info *info, uint8_t **data, uint32_t *size)
{
    HW_ENTER();
    if (!info || !data || !size)
        HW_RETURN(HW_ERR_INVAL);
    wbuf wb;
    int rc = wb_init(&wb, 0);
    if (rc != HW_OK)
        HW_RETURN(rc);
    rc = write_devices(info, &wb);
    if (rc != HW_OK) {
        wb_finalize(&wb, 1);
        HW_RETURN(rc);
    }
    const uint32_t length = wb.length;
    *data = wb_finalize(&wb, 0);
    *size = length;
    HW_RETURN(HW_OK);
}

int hw_info_read_from_rbuf(rbuf *rb, hw_info **info)
{
    HW_ENTER();
    if (!rb || !info)
        HW_RETURN(HW_ERR_INVAL);
    hw_info *i = nullptr;
    int rc = _hw_info_create(&i);
    if (rc != HW_OK)
        HW_RETURN(rc);
    rc = read_devices(i, rb);
    if (rc != HW_OK) {
        hw_info_destroy(i);
        HW_RETURN(rc);
    }
    *info = i;
    HW_RETURN(HW_OK);
}

int hw_info_read_from_mem(const void *data, uint32_t size, hw_info **info)
{
    HW_ENTER();
    if ((!data && size) || !info)
        HW_RETURN(HW_ERR_INVAL);
    rbuf rb;
    rb_init(&rb, data, size);
    HW_RETURN(hw_info_read_from_rbuf(&rb, info));
}
