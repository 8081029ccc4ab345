// CPU devices: processor number, model and speed.
#include "hw_internal.h"

#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <cstdio>

namespace {

// Parameters with an image flag bit, bit 1 first.
const char *const flag_names[] = {"speed", "model"};

const hw_device_ops cpu_ops = {HW_CLASS_CPU, cpu_device_write, cpu_device_compare, cpu_device_copy,
                               _hw_device_destroy};

const hw_cpu_device *as_cpu(const hw_device *d)
{
    return hw_const_container_of(d, hw_cpu_device, base);
}

} // namespace

int _create_cpu_device(uint32_t number, const char *model, int model_len, uint16_t speed,
                       uint32_t flags, hw_device **device)
{
    HW_ENTER();
    if (!device)
        HW_RETURN(HW_ERR_INVAL);
    char name[32];
    std::snprintf(name, sizeof name, "CPU-%u", number);
    const hw_str strs[1] = {hw_str_of(name, -1)};
    char *dst[1];
    auto *d = static_cast<hw_cpu_device *>(hw_alloc_record(sizeof(hw_cpu_device), strs, dst, 1));
    if (!d)
        HW_RETURN(HW_ERR_NOMEM);
    _hw_device_base_init(&d->base, &cpu_ops, dst[0]);
    d->number = number;

    const hw_str m = hw_str_of(model, model_len);
    hw_param *params[2] = {};
    int rc = create_string_param("model", "Model", m.ptr, int(m.len), hw_na_text(m),
                                 &params[0]);
    if (rc == HW_OK)
        rc = create_uint16_param("speed", "Speed", "%d MHz", speed, &params[1]);
    rc = hw_device_finish(&d->base, params, 2, rc, device);
    if (rc == HW_OK)
        hw_apply_flags(*device, flags, flag_names, 2);
    HW_RETURN(rc);
}

int create_cpu_device(uint32_t number, const char *model, int model_len, uint16_t speed,
                      hw_device **device)
{
    return _create_cpu_device(number, model, model_len, speed, 0, device);
}

int cpu_device_write(const hw_device *device, wbuf *wb)
{
    HW_ENTER();
    const hw_param *speed = hw_device_get_param_by_name(device, "speed");
    const char *model = hw_param_string(hw_device_get_param_by_name(device, "model"));
    uint8_t flags;
    int rc = hw_collect_flags(device, flag_names, 2, &flags);
    if (rc == HW_OK && (hw_param_kind(speed) != HW_PARAM_UINT16 || !model))
        rc = HW_ERR_INVAL;
    if (rc == HW_OK)
        rc = wb_write_u16(wb, uint16_t(as_cpu(device)->number));
    if (rc == HW_OK)
        rc = wb_write_u16(wb, hw_param_uint16(speed));
    if (rc == HW_OK)
        rc = wb_write_u8(wb, flags);
    if (rc == HW_OK)
        rc = wb_write_u8(wb, 0);
    if (rc == HW_OK)
        rc = wb_write_str(wb, model);
    HW_RETURN(rc);
}

int cpu_device_read(hw_info *info, rbuf *rb)
{
    HW_ENTER();
    uint16_t number, speed;
    uint8_t flags, pad;
    const char *model;
    uint16_t model_len;
    int rc = rb_read_u16(rb, &number);
    if (rc == HW_OK)
        rc = rb_read_u16(rb, &speed);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &flags);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &pad);
    if (rc == HW_OK)
        rc = rb_read_str(rb, &model, &model_len);
    hw_device *d = nullptr;
    if (rc == HW_OK)
        rc = _create_cpu_device(number, model, model_len, speed, flags, &d);
    HW_RETURN(hw_append_read(info, rc, d));
}

int cpu_device_compare(const hw_device *a, const hw_device *b)
{
    return hw_cmp(as_cpu(a)->number, as_cpu(b)->number);
}

int cpu_device_copy(const hw_device *device, hw_device **copy)
{
    return hw_device_no_copy(device, copy);
}
