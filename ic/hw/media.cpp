// Media devices: floppy, fixed and optical drives with their udev identity.
#include "hw_internal.h"

#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <cstring>

namespace {

const char *const param_names[] = {"vendor", "model", "revision", "serial"};
const char *const param_titles[] = {"Vendor", "Model", "Revision", "Serial"};

const hw_device_ops media_ops = {HW_CLASS_MEDIA, media_device_write, media_device_compare,
                                 media_device_copy, _hw_device_destroy};

const hw_media_device *as_media(const hw_device *d)
{
    return hw_const_container_of(d, hw_media_device, base);
}

const char *value_of(const hw_device *d, unsigned k)
{
    return hw_param_string(hw_device_get_param_by_name(d, param_names[k]));
}

} // namespace

int _create_media_device(uint32_t media_type, const char *name, int name_len, const char *path,
                         int path_len, const char *vendor, int vendor_len, const char *model,
                         int model_len, const char *revision, int revision_len, const char *serial,
                         int serial_len, uint32_t flags, hw_device **device)
{
    HW_ENTER();
    if (!device || media_type > HW_MEDIA_OPTICAL)
        HW_RETURN(HW_ERR_INVAL);
    const hw_str strs[2] = {hw_str_of(name, name_len), hw_str_of(path, path_len)};
    char *dst[2];
    auto *d = static_cast<hw_media_device *>(hw_alloc_record(sizeof(hw_media_device), strs, dst, 2));
    if (!d)
        HW_RETURN(HW_ERR_NOMEM);
    _hw_device_base_init(&d->base, &media_ops, dst[0]);
    d->type = media_type;
    d->path = dst[1];

    const hw_str values[4] = {hw_str_of(vendor, vendor_len), hw_str_of(model, model_len),
                              hw_str_of(revision, revision_len), hw_str_of(serial, serial_len)};
    hw_param *params[4] = {};
    int rc = HW_OK;
    for (unsigned k = 0; rc == HW_OK && k < 4; ++k)
        rc = create_string_param(param_names[k], param_titles[k], values[k].ptr,
                                 int(values[k].len), hw_na_text(values[k]), &params[k]);
    rc = hw_device_finish(&d->base, params, 4, rc, device);
    if (rc == HW_OK)
        hw_apply_flags(*device, flags, param_names, 4);
    HW_RETURN(rc);
}

int create_media_device(uint32_t media_type, const char *name, int name_len, const char *path,
                        int path_len, const char *vendor, int vendor_len, const char *model,
                        int model_len, const char *revision, int revision_len, const char *serial,
                        int serial_len, hw_device **device)
{
    return _create_media_device(media_type, name, name_len, path, path_len, vendor, vendor_len,
                                model, model_len, revision, revision_len, serial, serial_len, 0,
                                device);
}

int media_device_write(const hw_device *device, wbuf *wb)
{
    HW_ENTER();
    const hw_media_device *d = as_media(device);
    uint8_t flags;
    int rc = hw_collect_flags(device, param_names, 4, &flags);
    for (unsigned k = 0; rc == HW_OK && k < 4; ++k)
        if (!value_of(device, k))
            rc = HW_ERR_INVAL;
    if (rc == HW_OK)
        rc = wb_write_u16(wb, uint16_t(d->type));
    if (rc == HW_OK)
        rc = wb_write_u8(wb, flags);
    if (rc == HW_OK)
        rc = wb_write_u8(wb, 0);
    if (rc == HW_OK)
        rc = wb_write_str(wb, device->name);
    if (rc == HW_OK)
        rc = wb_write_str(wb, d->path);
    for (unsigned k = 0; rc == HW_OK && k < 4; ++k)
        rc = wb_write_str(wb, value_of(device, k));
    HW_RETURN(rc);
}

int media_device_read(hw_info *info, rbuf *rb)
{
    HW_ENTER();
    uint16_t type;
    uint8_t flags, pad;
    const char *s[6];
    uint16_t len[6];
    int rc = rb_read_u16(rb, &type);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &flags);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &pad);
    for (unsigned k = 0; rc == HW_OK && k < 6; ++k)
        rc = rb_read_str(rb, &s[k], &len[k]);
    if (rc == HW_OK && type > HW_MEDIA_OPTICAL)
        rc = HW_ERR_IO;
    hw_device *d = nullptr;
    if (rc == HW_OK)
        rc = _create_media_device(type, s[0], len[0], s[1], len[1], s[2], len[2], s[3], len[3], s[4],
                                  len[4], s[5], len[5], flags, &d);
    HW_RETURN(hw_append_read(info, rc, d));
}

int media_device_compare(const hw_device *a, const hw_device *b)
{
    int c = hw_cmp(as_media(a)->type, as_media(b)->type);
    if (!c)
        c = std::strcmp(as_media(a)->path, as_media(b)->path);
    for (unsigned k = 0; !c && k < 4; ++k) {
        const char *x = value_of(a, k), *y = value_of(b, k);
        c = std::strcmp(x ? x : "", y ? y : "");
    }
    return c;
}

int media_device_copy(const hw_device *device, hw_device **copy)
{
    return hw_device_no_copy(device, copy);
}
