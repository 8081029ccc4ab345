// Common part of every device: name, flags, parameter list.
#include "hw_internal.h"

#include <cstdlib>
#include <cstring>

void _hw_device_base_init(hw_device *device, const hw_device_ops *ops, const char *name)
{
    device->ops = ops;
    device->flags = 0;
    device->name = name;
    hw_list_init(&device->link);
    hw_list_init(&device->params);
}

void _hw_device_add_param(hw_device *device, hw_param *param)
{
    hw_list_append(&device->params, &param->link);
}

void _hw_device_remove_param(hw_device *, hw_param *param)
{
    hw_list_unlink(&param->link);
}

void _hw_device_destroy_params(hw_device *device)
{
    while (!hw_list_empty(&device->params)) {
        hw_param *p = hw_container_of(device->params.next, hw_param, link);
        _hw_device_remove_param(device, p);
        p->ops->destroy(p);
    }
}

void _hw_device_destroy(hw_device *device)
{
    HW_ENTER();
    if (device) {
        _hw_device_destroy_params(device);
        std::free(device);
    }
    HW_RETURN_VOID();
}

int hw_device_finish(hw_device *device, hw_param *const *params, size_t n, int rc,
                     hw_device **out)
{
    if (rc != HW_OK) {
        for (size_t i = 0; i < n; ++i)
            hw_param_destroy(params[i]);
        std::free(device);
        return rc;
    }
    for (size_t i = 0; i < n; ++i)
        _hw_device_add_param(device, params[i]);
    *out = device;
    return HW_OK;
}

void hw_apply_flags(hw_device *device, uint32_t flags, const char *const *names, size_t n)
{
    device->flags = (flags & 1u) ? HW_DEVICE_CHECKED : 0;
    for (size_t k = 0; k < n; ++k)
        if (hw_param *p = hw_device_get_param_by_name(device, names[k]))
            p->flags = (flags >> (k + 1)) & 1u ? HW_PARAM_CHECKED : 0;
}

int hw_collect_flags(const hw_device *device, const char *const *names, size_t n, uint8_t *flags)
{
    uint8_t f = (device->flags & HW_DEVICE_CHECKED) ? 1u : 0u;
    for (size_t k = 0; k < n; ++k) {
        const hw_param *p = hw_device_get_param_by_name(device, names[k]);
        if (!p)
            return HW_ERR_INVAL;
        if (p->flags & HW_PARAM_CHECKED)
            f |= uint8_t(1u << (k + 1));
    }
    *flags = f;
    return HW_OK;
}

uint32_t hw_device_type(const hw_device *device)
{
    return device ? device->ops->type : UINT32_MAX;
}

hw_param *hw_device_get_first_param(const hw_device *device)
{
    if (!device || hw_list_empty(&device->params))
        return nullptr;
    return hw_container_of(device->params.next, hw_param, link);
}

hw_param *hw_device_get_next_param(const hw_device *device, const hw_param *param)
{
    if (!device || !param || param->link.next == &device->params)
        return nullptr;
    return hw_container_of(param->link.next, hw_param, link);
}

hw_param *hw_device_get_param_by_name(const hw_device *device, const char *name)
{
    if (!device || !name)
        return nullptr;
    for (hw_list *l = device->params.next; l != &device->params; l = l->next) {
        hw_param *p = hw_container_of(l, hw_param, link);
        if (std::strcmp(p->name, name) == 0)
            return p;
    }
    return nullptr;
}

int hw_device_compare(const hw_device *a, const hw_device *b)
{
    if (!a || !b)
        return a == b ? 0 : a ? 1 : -1;
    if (a->ops != b->ops)
        return a->ops->type < b->ops->type ? -1 : 1;
    return a->ops->compare(a, b);
}

int hw_device_copy(const hw_device *device, hw_device **copy)
{
    if (!device || !copy)
        return HW_ERR_INVAL;
    return device->ops->copy(device, copy);
}

void hw_device_destroy(hw_device *device)
{
    if (device)
        device->ops->destroy(device);
}

int hw_device_no_copy(const hw_device *, hw_device **)
{
    return HW_ERR_NOT_SUPPORTED;
}
