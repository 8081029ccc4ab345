// Monitors: DDC port, name from the EDID and the EDID's digest.
#include "hw_internal.h"

#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *const flag_names[] = {"edid_hash"};

const hw_device_ops monitor_ops = {HW_CLASS_MONITOR, monitor_device_write, monitor_device_compare,
                                   monitor_device_copy, _hw_device_destroy};

const hw_monitor_device *as_monitor(const hw_device *d)
{
    return hw_const_container_of(d, hw_monitor_device, base);
}

} // namespace

int _create_monitor_device(uint32_t port, const char *name, int name_len,
                           const uint8_t edid_hash[HW_HASH_SIZE], uint32_t flags,
                           hw_device **device)
{
    HW_ENTER();
    if (!device || !edid_hash)
        HW_RETURN(HW_ERR_INVAL);
    const hw_str monitor_name = hw_str_of(name, name_len);
    // "Port %d (%s)" of the port and the name (up to its first NUL, as
    // printed).
    char prefix[32];
    const size_t prefix_len = size_t(std::snprintf(prefix, sizeof prefix, "Port %u (", port));
    const size_t shown = strnlen(monitor_name.ptr, monitor_name.len);
    char *display = static_cast<char *>(std::malloc(prefix_len + shown + 2));
    if (!display)
        HW_RETURN(HW_ERR_NOMEM);
    std::memcpy(display, prefix, prefix_len);
    std::memcpy(display + prefix_len, monitor_name.ptr, shown);
    std::memcpy(display + prefix_len + shown, ")", 2);

    const hw_str strs[2] = {{display, prefix_len + shown + 1}, monitor_name};
    char *dst[2];
    auto *d = static_cast<hw_monitor_device *>(hw_alloc_record(sizeof(hw_monitor_device), strs, dst, 2));
    std::free(display);
    if (!d)
        HW_RETURN(HW_ERR_NOMEM);
    _hw_device_base_init(&d->base, &monitor_ops, dst[0]);
    d->port = port;
    d->monitor_name = dst[1];

    hw_param *params[1] = {};
    int rc = create_barray_param("edid_hash", "EDID hash", edid_hash, HW_HASH_SIZE, &params[0]);
    rc = hw_device_finish(&d->base, params, 1, rc, device);
    if (rc == HW_OK)
        hw_apply_flags(*device, flags, flag_names, 1);
    HW_RETURN(rc);
}

int create_monitor_device(uint32_t port, const char *name, int name_len,
                          const uint8_t edid_hash[HW_HASH_SIZE], hw_device **device)
{
    return _create_monitor_device(port, name, name_len, edid_hash, 0, device);
}

int monitor_device_write(const hw_device *device, wbuf *wb)
{
    HW_ENTER();
    const hw_param *hash = hw_device_get_param_by_name(device, "edid_hash");
    uint8_t flags;
    int rc = hw_collect_flags(device, flag_names, 1, &flags);
    if (rc == HW_OK && hw_param_barray_size(hash) != HW_HASH_SIZE)
        rc = HW_ERR_INVAL;
    if (rc == HW_OK)
        rc = wb_write_u16(wb, uint16_t(as_monitor(device)->port));
    if (rc == HW_OK)
        rc = wb_write_u8(wb, flags);
    if (rc == HW_OK)
        rc = wb_write_u8(wb, 0);
    if (rc == HW_OK)
        rc = wb_write_str(wb, as_monitor(device)->monitor_name);
    if (rc == HW_OK)
        rc = wb_write(wb, hw_param_barray(hash), HW_HASH_SIZE);
    HW_RETURN(rc);
}

int monitor_device_read(hw_info *info, rbuf *rb)
{
    HW_ENTER();
    uint16_t port, name_len;
    uint8_t flags, pad;
    const char *name;
    const uint8_t *hash;
    int rc = rb_read_u16(rb, &port);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &flags);
    if (rc == HW_OK)
        rc = rb_read_u8(rb, &pad);
    if (rc == HW_OK)
        rc = rb_read_str(rb, &name, &name_len);
    if (rc == HW_OK)
        rc = rb_get_ptr(rb, HW_HASH_SIZE, &hash);
    hw_device *d = nullptr;
    if (rc == HW_OK)
        rc = _create_monitor_device(port, name, name_len, hash, flags, &d);
    HW_RETURN(hw_append_read(info, rc, d));
}

int monitor_device_compare(const hw_device *a, const hw_device *b)
{
    return hw_cmp(as_monitor(a)->port, as_monitor(b)->port);
}

int monitor_device_copy(const hw_device *device, hw_device **copy)
{
    return hw_device_no_copy(device, copy);
}
