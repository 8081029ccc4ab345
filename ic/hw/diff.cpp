// Difference of two inventories: devices paired by identity, class by
// class, with their parameter differences.
#include "hw_internal.h"

#include <ic/hw/hw_diff.h>

#include <cstdlib>

namespace {

hw_dev_diff *dev_of(hw_list *l)
{
    return hw_container_of(l, hw_dev_diff, link);
}

void clear_equal_flags(hw_info *info)
{
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c)
        for (hw_device *d = hw_info_get_first_device(info, c); d; d = hw_info_get_next_device(info, d))
            d->flags &= ~HW_DEVICE_MATCHED;
}

int add_dev_diff(hw_diff *diff, uint32_t type, hw_device *a, hw_device *b, uint32_t kind)
{
    auto *dd = static_cast<hw_dev_diff *>(std::calloc(1, sizeof(hw_dev_diff)));
    if (!dd)
        return HW_ERR_NOMEM;
    dd->kind = kind;
    dd->first = a;
    dd->second = b;
    hw_list_init(&dd->params);
    hw_list_append(&diff->devices[type], &dd->link);
    return HW_OK;
}

int add_param_diff(hw_dev_diff *dd, hw_param *a, hw_param *b, uint32_t kind)
{
    auto *pd = static_cast<hw_param_diff *>(std::calloc(1, sizeof(hw_param_diff)));
    if (!pd)
        return HW_ERR_NOMEM;
    pd->kind = kind;
    pd->first = a;
    pd->second = b;
    hw_list_append(&dd->params, &pd->link);
    return HW_OK;
}

// Parameter differences of one device difference.
int diff_params(hw_dev_diff *dd)
{
    int rc = HW_OK;
    switch (dd->kind) {
    case HW_DIFF_SAME:
        for (hw_param *p = hw_device_get_first_param(dd->first); rc == HW_OK && p;
             p = hw_device_get_next_param(dd->first, p)) {
            // A parameter the current device lacks counts as changed.
            hw_param *q = hw_device_get_param_by_name(dd->second, p->name);
            const bool changed = !q || hw_param_compare(p, q) != 0;
            rc = add_param_diff(dd, p, q, changed ? HW_PARAM_DIFF_CHANGED : HW_PARAM_DIFF_EQUAL);
            if (changed)
                dd->kind = HW_DIFF_CHANGED;
        }
        break;
    case HW_DIFF_NEW:
        for (hw_param *q = hw_device_get_first_param(dd->second); rc == HW_OK && q;
             q = hw_device_get_next_param(dd->second, q))
            rc = add_param_diff(dd, nullptr, q, HW_PARAM_DIFF_EQUAL);
        break;
    case HW_DIFF_REMOVED:
        for (hw_param *p = hw_device_get_first_param(dd->first); rc == HW_OK && p;
             p = hw_device_get_next_param(dd->first, p))
            rc = add_param_diff(dd, p, nullptr, HW_PARAM_DIFF_EQUAL);
        break;
    }
    return rc;
}

int diff_class(hw_diff *diff, hw_info *first, hw_info *second, uint32_t type)
{
    int rc = HW_OK;
    for (hw_device *a = hw_info_get_first_device(first, type); rc == HW_OK && a;
         a = hw_info_get_next_device(first, a)) {
        hw_device *match = nullptr;
        for (hw_device *b = hw_info_get_first_device(second, type); b;
             b = hw_info_get_next_device(second, b)) {
            if (!(b->flags & HW_DEVICE_MATCHED) && a->ops->compare(a, b) == 0) {
                match = b;
                break;
            }
        }
        if (match)
            match->flags |= HW_DEVICE_MATCHED;
        rc = add_dev_diff(diff, type, a, match, match ? HW_DIFF_SAME : HW_DIFF_REMOVED);
    }
    for (hw_device *b = hw_info_get_first_device(second, type); rc == HW_OK && b;
         b = hw_info_get_next_device(second, b))
        if (!(b->flags & HW_DEVICE_MATCHED))
            rc = add_dev_diff(diff, type, nullptr, b, HW_DIFF_NEW);
    for (hw_list *l = diff->devices[type].next; rc == HW_OK && l != &diff->devices[type];
         l = l->next) {
        hw_dev_diff *dd = dev_of(l);
        rc = diff_params(dd);
        if (dd->kind != HW_DIFF_SAME)
            diff->flags |= HW_DIFF_ANY;
    }
    return rc;
}

} // namespace

int hw_diff_create(hw_info *first, hw_info *second, hw_diff **diff)
{
    HW_ENTER();
    if (!first || !second || !diff)
        HW_RETURN(HW_ERR_INVAL);
    auto *d = static_cast<hw_diff *>(std::calloc(1, sizeof(hw_diff)));
    if (!d)
        HW_RETURN(HW_ERR_NOMEM);
    for (hw_list &l : d->devices)
        hw_list_init(&l);
    clear_equal_flags(first);
    clear_equal_flags(second);
    int rc = HW_OK;
    for (uint32_t c = 0; rc == HW_OK && c < HW_CLASS_COUNT; ++c)
        rc = diff_class(d, first, second, c);
    if (rc != HW_OK) {
        hw_diff_destroy(d);
        HW_RETURN(rc);
    }
    *diff = d;
    HW_RETURN(HW_OK);
}

void hw_diff_destroy(hw_diff *diff)
{
    HW_ENTER();
    if (diff) {
        for (hw_list &head : diff->devices) {
            while (!hw_list_empty(&head)) {
                hw_dev_diff *dd = dev_of(head.next);
                while (!hw_list_empty(&dd->params)) {
                    hw_list *pl = dd->params.next;
                    hw_list_unlink(pl);
                    std::free(hw_container_of(pl, hw_param_diff, link));
                }
                hw_list_unlink(&dd->link);
                std::free(dd);
            }
        }
        std::free(diff);
    }
    HW_RETURN_VOID();
}

hw_dev_diff *hw_diff_get_first_device(const hw_diff *diff, uint32_t type)
{
    if (!diff || type >= HW_CLASS_COUNT || hw_list_empty(&diff->devices[type]))
        return nullptr;
    return dev_of(diff->devices[type].next);
}

hw_dev_diff *hw_diff_get_next_device(const hw_diff *diff, const hw_dev_diff *dev)
{
    if (!diff || !dev)
        return nullptr;
    const hw_device *any = dev->first ? dev->first : dev->second;
    const uint32_t type = hw_device_type(any);
    if (type >= HW_CLASS_COUNT || dev->link.next == &diff->devices[type])
        return nullptr;
    return dev_of(dev->link.next);
}

hw_param_diff *hw_dev_diff_get_first_param(const hw_dev_diff *dev)
{
    if (!dev || hw_list_empty(&dev->params))
        return nullptr;
    return hw_container_of(dev->params.next, hw_param_diff, link);
}

hw_param_diff *hw_dev_diff_get_next_param(const hw_dev_diff *dev, const hw_param_diff *param)
{
    if (!dev || !param || param->link.next == &dev->params)
        return nullptr;
    return hw_container_of(param->link.next, hw_param_diff, link);
}
