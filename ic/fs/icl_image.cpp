// Byte image of the check list: u16 volume count, then per volume its id
// and its object list.
#include "icl_internal.h"
#include "ocl_internal.h"

#include <ic/fs/fs_icl.h>
#include <ic/fs/fs_volume_id.h>
#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <cstdlib>
#include <new>
#include <set>

namespace {

struct id_less {
    bool operator()(const fs_volume_id *a, const fs_volume_id *b) const { return fs_volume_id_compare(a, b) < 0; }
};

// Reads one entry and puts it at the front; ids seen so far are in seen.
int read_volume(rbuf *rb, fs_icl *icl, std::set<const fs_volume_id *, id_less> &seen)
{
    fs_icl_volume *v = static_cast<fs_icl_volume *>(std::calloc(1, sizeof(fs_icl_volume)));
    if (!v)
        return FS_OCL_ERR_NOMEM;
    int rc = _fs_read_volume_id_from_rbuf(rb, &v->id);
    if (rc == FS_OCL_OK && !seen.insert(v->id).second)
        rc = FS_OCL_ERR_IO; // the writer never repeats a volume
    if (rc == FS_OCL_OK)
        rc = fs_ocl_read_from_rbuf(rb, &v->ocl);
    if (rc != FS_OCL_OK) {
        if (v->id)
            seen.erase(v->id);
        icl::volume_destroy(v);
        return rc;
    }
    v->next = icl->first;
    icl->first = v;
    ++icl->count;
    return FS_OCL_OK;
}

} // namespace

int fs_icl_write_to_wbuf(const fs_icl *icl, wbuf *wb)
{
    OCL_ENTER();
    if (!icl || !wb)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    if (icl->count > UINT16_MAX)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    int rc = wb_write_u16(wb, uint16_t(icl->count));
    for (const fs_icl_volume *v = icl->first; rc == FS_OCL_OK && v; v = v->next) {
        rc = _fs_write_volume_id_to_rbuf(v->id, wb);
        if (rc == FS_OCL_OK)
            rc = fs_ocl_write_to_wbuf(v->ocl, wb);
    }
    OCL_RETURN(rc);
}

int fs_icl_write_to_mem(const fs_icl *icl, uint8_t **data, uint32_t *size)
{
    OCL_ENTER();
    if (!icl || !data || !size)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    wbuf wb;
    int rc = wb_init(&wb, 0);
    if (rc != FS_OCL_OK)
        OCL_RETURN(rc);
    rc = fs_icl_write_to_wbuf(icl, &wb);
    if (rc != FS_OCL_OK) {
        wb_finalize(&wb, 1);
        OCL_RETURN(rc);
    }
    const uint32_t length = wb.length;
    *data = wb_finalize(&wb, 0);
    *size = length;
    OCL_RETURN(FS_OCL_OK);
}

int fs_icl_read_from_rbuf(rbuf *rb, fs_icl **icl)
{
    OCL_ENTER();
    if (!rb || !icl)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    fs_icl *l = nullptr;
    int rc = fs_icl_create(&l);
    if (rc != FS_OCL_OK)
        OCL_RETURN(rc);
    try {
        std::set<const fs_volume_id *, id_less> seen;
        uint16_t count;
        rc = rb_read_u16(rb, &count);
        // An id and an object count take 10 bytes at least.
        if (rc == FS_OCL_OK && count > rb_remaining(rb) / 10)
            rc = FS_OCL_ERR_IO;
        for (uint16_t i = 0; rc == FS_OCL_OK && i < count; ++i)
            rc = read_volume(rb, l, seen);
    } catch (const std::bad_alloc &) {
        rc = FS_OCL_ERR_NOMEM;
    }
    if (rc != FS_OCL_OK) {
        fs_icl_destroy(l);
        OCL_RETURN(rc);
    }
    *icl = l;
    OCL_RETURN(FS_OCL_OK);
}

int fs_icl_read_from_mem(const void *data, uint32_t size, fs_icl **icl)
{
    OCL_ENTER();
    if ((!data && size) || !icl)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    rbuf rb;
    rb_init(&rb, data, size);
    fs_icl *l = nullptr;
    int rc = fs_icl_read_from_rbuf(&rb, &l);
    if (rc != FS_OCL_OK)
        OCL_RETURN(rc);
    if (rb_remaining(&rb) != 0) {
        fs_icl_destroy(l);
        OCL_RETURN(FS_OCL_ERR_IO);
    }
    *icl = l;
    OCL_RETURN(FS_OCL_OK);
}
