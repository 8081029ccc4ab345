// Byte image of an inventory: u16 disk count; per disk its name, flags, two
// digests, u16 slot mask and per present slot a 75-byte partition record,
// u16 logical count and the logical records; then the u8 inventory flags.
#include "hd_internal.h"

#include <ic/util/le.h>
#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <cstring>

namespace {

constexpr uint32_t record_size = 75;
constexpr uint16_t slot_bits = (1u << HD_PRIMARY_SLOTS) - 1;

int write_partition(wbuf *wb, const hd_partition *p)
{
    uint8_t r[record_size];
    std::memcpy(r, p->pbr_hash, HD_HASH_SIZE);
    std::memcpy(r + 32, p->boot_hash, HD_HASH_SIZE);
    ic_store_le(r + 64, p->start, 4);
    ic_store_le(r + 68, p->count, 4);
    r[72] = p->boot_indicator;
    r[73] = p->type;
    r[74] = p->flags;
    return wb_write(wb, r, record_size);
}

int write_disk(wbuf *wb, const hd_disk *d)
{
    uint16_t mask = 0;
    for (uint32_t i = 0; i < HD_PRIMARY_SLOTS; ++i)
        if (d->primary[i])
            mask |= uint16_t(1u << i);
    int rc = wb_write_str(wb, d->name ? d->name : "");
    if (rc == IC_OK)
        rc = wb_write_u8(wb, d->flags);
    if (rc == IC_OK)
        rc = wb_write(wb, d->mbr_hash, HD_HASH_SIZE);
    if (rc == IC_OK)
        rc = wb_write(wb, d->boot_hash, HD_HASH_SIZE);
    if (rc == IC_OK)
        rc = wb_write_u16(wb, mask);
    for (uint32_t i = 0; rc == IC_OK && i < HD_PRIMARY_SLOTS; ++i) {
        const hd_partition *p = d->primary[i];
        if (!p)
            continue;
        if (p->logical_count > HD_MAX_LOGICAL)
            return IC_ERR_INVAL;
        rc = write_partition(wb, p);
        if (rc == IC_OK)
            rc = wb_write_u16(wb, uint16_t(p->logical_count));
        for (const hd_partition *l = p->first_logical; rc == IC_OK && l; l = l->next)
            rc = write_partition(wb, l);
    }
    return rc;
}

int read_partition(rbuf *rb, uint32_t index, hd_partition **out)
{
    const uint8_t *r;
    int rc = rb_get_ptr(rb, record_size, &r);
    if (rc != IC_OK)
        return rc;
    hd_partition *p = hd_partition_alloc();
    if (!p)
        return IC_ERR_NOMEM;
    std::memcpy(p->pbr_hash, r, HD_HASH_SIZE);
    std::memcpy(p->boot_hash, r + 32, HD_HASH_SIZE);
    p->start = ic_le32(r + 64);
    p->count = ic_le32(r + 68);
    p->boot_indicator = r[72];
    p->type = r[73];
    p->flags = r[74];
    p->index = index;
    *out = p;
    return IC_OK;
}

// A primary partition with its logical partitions; freed on failure.
int read_primary(rbuf *rb, uint32_t slot, hd_partition **out)
{
    hd_partition *p = nullptr;
    int rc = read_partition(rb, slot, &p);
    if (rc != IC_OK)
        return rc;
    uint16_t logical = 0;
    rc = rb_read_u16(rb, &logical);
    for (uint32_t i = 0; rc == IC_OK && i < logical; ++i) {
        hd_partition *l = nullptr;
        rc = read_partition(rb, i, &l);
        if (rc == IC_OK)
            hd_partition_add_logical(p, l);
    }
    if (rc != IC_OK) {
        hd_partition_destroy(p);
        return rc;
    }
    *out = p;
    return IC_OK;
}

int read_disk(rbuf *rb, hd_disk **out)
{
    const char *name;
    uint16_t len;
    int rc = rb_read_str(rb, &name, &len);
    if (rc != IC_OK)
        return rc;
    hd_disk *d = hd_disk_alloc(name, len);
    if (!d)
        return IC_ERR_NOMEM;
    uint16_t mask = 0;
    rc = rb_read_u8(rb, &d->flags);
    if (rc == IC_OK)
        rc = rb_read(rb, d->mbr_hash, HD_HASH_SIZE);
    if (rc == IC_OK)
        rc = rb_read(rb, d->boot_hash, HD_HASH_SIZE);
    if (rc == IC_OK)
        rc = rb_read_u16(rb, &mask);
    if (rc == IC_OK && (mask & ~slot_bits))
        rc = IC_ERR_IO;
    for (uint32_t i = 0; rc == IC_OK && i < HD_PRIMARY_SLOTS; ++i)
        if (mask & (1u << i))
            rc = read_primary(rb, i, &d->primary[i]);
    if (rc != IC_OK) {
        hd_disk_destroy(d);
        return rc;
    }
    *out = d;
    return IC_OK;
}

int read_info(rbuf *rb, hd_info *info)
{
    uint16_t count;
    int rc = rb_read_u16(rb, &count);
    for (uint32_t i = 0; rc == IC_OK && i < count; ++i) {
        hd_disk *d = nullptr;
        rc = read_disk(rb, &d);
        if (rc == IC_OK)
            rc = hd_info_add_disk(info, d);
    }
    if (rc == IC_OK)
        rc = rb_read_u8(rb, &info->flags);
    if (rc == IC_OK && rb_remaining(rb) != 0)
        rc = IC_ERR_IO;
    return rc;
}

} // namespace

int hd_info_write_to_mem(const hd_info *info, uint8_t **data, uint32_t *size)
{
    HD_ENTER();
    if (!info || !data || !size)
        HD_RETURN(IC_ERR_INVAL);
    uint32_t disks = 0;
    for (const hd_disk *d = info->first_disk; d; d = d->next)
        if (++disks > 0xFFFF)
            HD_RETURN(IC_ERR_INVAL);
    wbuf wb;
    int rc = wb_init(&wb, 0);
    if (rc != IC_OK)
        HD_RETURN(rc);
    rc = wb_write_u16(&wb, uint16_t(disks));
    for (const hd_disk *d = info->first_disk; rc == IC_OK && d; d = d->next)
        rc = write_disk(&wb, d);
    if (rc == IC_OK)
        rc = wb_write_u8(&wb, info->flags);
    if (rc != IC_OK) {
        wb_finalize(&wb, 1);
        HD_RETURN(rc);
    }
    const uint32_t length = wb.length;
    *data = wb_finalize(&wb, 0);
    *size = length;
    HD_RETURN(IC_OK);
}

int hd_info_read_from_mem(const void *data, uint32_t size, hd_info **info)
{
    HD_ENTER();
    if ((!data && size) || !info)
        HD_RETURN(IC_ERR_INVAL);
    rbuf rb;
    rb_init(&rb, data, size);
    hd_info *i = nullptr;
    int rc = hd_info_create(&i);
    if (rc != IC_OK)
        HD_RETURN(rc);
    rc = read_info(&rb, i);
    if (rc != IC_OK) {
        hd_info_destroy(i);
        HD_RETURN(rc);
    }
    *info = i;
    HD_RETURN(IC_OK);
}
