// Memory devices: a slot named by its locator, with its size word.
#include "hw_internal.h"

#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <cstdio>
#include <cstring>

namespace {

const char *const flag_names[] = {"size"};

const hw_device_ops memory_ops = {HW_CLASS_MEMORY, memory_device_write, memory_device_compare,
                                  memory_device_copy, _hw_device_destroy};

// SMBIOS memory-device size word as text.
void size_text(uint16_t size, char *out, size_t n)
{
    if (size == 0)
        std::snprintf(out, n, "Not installed");
    else if (size == 0xFFFF)
        std::snprintf(out, n, "Unknown");
    else if (size & 0x8000)
        std::snprintf(out, n, "%d Kb", size & 0x7FFF);
    else
        std::snprintf(out, n, "%d Mb", size);
}

} // namespace

int _create_memory_device(const char *locator, int locator_len, uint16_t size, uint32_t flags,
                          hw_device **device)
{
    HW_ENTER();
    if (!device)
        HW_RETURN(HW_ERR_INVAL);
    const hw_str name = hw_str_of(locator, locator_len);
    char *dst[1];
    auto *d = static_cast<hw_memory_device *>(hw_alloc_record(sizeof(hw_memory_device), &name, dst, 1));
    if (!d)
        HW_RETURN(HW_ERR_NOMEM);
    _hw_device_base_init(&d->base, &memory_ops, dst[0]);
    char text[32];
    size_text(size, text, sizeof text);
    hw_param *params[1] = {};
    int rc = _create_uint16_param_text("size", "Size", text, size, &params[0]);
    rc = hw_device_finish(&d->base, params, 1, rc, device);
    if (rc == HW_OK)
        hw_apply_flags(*device, flags, flag_names, 1);
    HW_RETURN(rc);
}

int create_memory_device(const char *locator, int locator_len, uint16_t size, hw_device **device)
{
    return _create_memory_device(locator, locator_len, size, 0, device);
}

int memory_device_write(const hw_device *device, wbuf *wb)
{
    HW_ENTER();
    const hw_param *size = hw_device_get_param_by_name(device, "size");
    uint8_t flags;
    int rc = hw_collect_flags(device, flag_names, 1, &flags);
    if (rc == HW_OK && hw_param_kind(size) != HW_PARAM_UINT16)
        rc = HW_ERR_INVAL;
    if (rc == HW_OK)
        rc = wb_write_u16(wb, hw_param_uint16(size));
    if (rc == HW_OK)
        rc = wb_write_u8(wb, flags);
    if (rc == HW_OK)
        rc = wb_write_u8(wb, 0);
    if (rc == HW_OK)
        rc = wb_write_str(wb, device->name);
    HW_RETURN(rc);
}

int memory_device_read(hw_info *info, rbuf *rb)
{
    HW_ENTER();
    uint16_t size, len;
    uint8_t flags, pad;
    const char *locator;
    int rc = rb_read_u16(rb, &size);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &flags);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &pad);
    if (rc == HW_OK)
        rc = rb_read_str(rb, &locator, &len);
    hw_device *d = nullptr;
    if (rc == HW_OK)
        rc = _create_memory_device(locator, len, size, flags, &d);
    HW_RETURN(hw_append_read(info, rc, d));
}

int memory_device_compare(const hw_device *a, const hw_device *b)
{
    return std::strcmp(a->name, b->name);
}

int memory_device_copy(const hw_device *device, hw_device **copy)
{
    HW_ENTER();
    if (!device || !copy)
        HW_RETURN(HW_ERR_INVAL);
    const hw_param *size = hw_device_get_param_by_name(device, "size");
    if (hw_param_kind(size) != HW_PARAM_UINT16)
        HW_RETURN(HW_ERR_INVAL);
    HW_RETURN(create_memory_device(device->name, -1, hw_param_uint16(size), copy));
}
