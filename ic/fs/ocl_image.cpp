// Byte image of an object list: u32 count, then every object in path order.
// The reader accepts only what the writer can produce: known types, paths
// beginning with "/", listing names that are single sorted components.
#include "ocl_internal.h"

#include <ic/util/rbuf.h>
#include <ic/util/result.h>
#include <ic/util/str_zarray.h>
#include <ic/util/wbuf.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>

namespace ocl {
namespace {

// Listings nest no deeper than a path of PATH_MAX bytes can.
constexpr unsigned kMaxDepth = PATH_MAX / 2;

// Mode, user id and group id: directory attributes, and the head of file
// attributes.
int write_ids(wbuf *wb, uint32_t mode, uint16_t uid, uint16_t gid)
{
    int rc = wb_write_u32(wb, mode);
    if (rc == IC_OK)
        rc = wb_write_u16(wb, uid);
    if (rc == IC_OK)
        rc = wb_write_u16(wb, gid);
    return rc;
}

// Form 2 keeps bits 32-47 of the size in the high half of the mode word.
int write_file_attrs(wbuf *wb, const fs_ocl_file_attrs &a, uint16_t form)
{
    uint32_t mode = a.mode;
    uint64_t size = a.size;
    if (form != FS_OCL_FORM_1) {
        size = std::min(size, uint64_t(FS_OCL_SIZE_LIMIT));
        mode = (mode & 0xFFFFu) | uint32_t(size >> 32) << 16;
    }
    int rc = write_ids(wb, mode, a.uid, a.gid);
    if (rc == IC_OK)
        rc = wb_write_u32(wb, uint32_t(size));
    if (rc == IC_OK)
        rc = wb_write_u32(wb, a.mtime);
    return rc;
}

int write_dir_attrs(wbuf *wb, const fs_ocl_dir_attrs &a)
{
    return write_ids(wb, a.mode, a.uid, a.gid);
}

int write_listing(wbuf *wb, const fs_ocl_dir_info &info, uint16_t flags, uint16_t form)
{
    const bool attrs = flags & FS_OCL_CONTROL_ATTRS, data = flags & FS_OCL_CONTROL_DATA;
    int rc = wb_write_u32(wb, uint32_t(info.dir_count));
    for (int32_t i = 0; rc == IC_OK && i < info.dir_count; ++i) {
        rc = wb_write_str(wb, info.dir_names[i]);
        if (rc == IC_OK)
            rc = write_listing(wb, info.dirs[i], flags, form);
        if (rc == IC_OK && attrs)
            rc = write_dir_attrs(wb, info.dir_attrs[i]);
    }
    if (rc == IC_OK)
        rc = wb_write_u32(wb, uint32_t(info.file_count));
    for (int32_t i = 0; rc == IC_OK && i < info.file_count; ++i) {
        rc = wb_write_str(wb, info.file_names[i]);
        if (rc == IC_OK && data)
            rc = wb_write(wb, info.file_hashes[i], FS_OCL_HASH_SIZE);
        if (rc == IC_OK && attrs)
            rc = write_file_attrs(wb, info.file_attrs[i], form);
    }
    return rc;
}

int write_object(wbuf *wb, const fs_ocl_object *o)
{
    int rc = wb_write_u16(wb, o->type);
    if (rc == IC_OK)
        rc = wb_write_str(wb, o->path);
    if (rc != IC_OK)
        return rc;
    const uint16_t flags = o->flags, form = o->form;
    const uint16_t wire_flags = form == FS_OCL_FORM_1 ? flags : uint16_t(flags | FS_OCL_FORM_2_MARK);
    if (o->type == FS_OCL_TYPE_FILE) {
        const fs_ocl_file *f = reinterpret_cast<const fs_ocl_file *>(o);
        rc = wb_write_u16(wb, wire_flags);
        if (rc == IC_OK && (flags & FS_OCL_CONTROL_DATA))
            rc = wb_write(wb, f->hash, FS_OCL_HASH_SIZE);
        if (rc == IC_OK && (flags & FS_OCL_CONTROL_ATTRS))
            rc = write_file_attrs(wb, f->attrs, form);
        return rc;
    }
    const fs_ocl_dir *d = reinterpret_cast<const fs_ocl_dir *>(o);
    const size_t masks = ic_str_zarray_len(d->masks);
    if (masks > UINT16_MAX)
        return FS_OCL_ERR_INVAL;
    rc = wb_write_u16(wb, uint16_t(masks));
    for (size_t i = 0; rc == IC_OK && i < masks; ++i)
        rc = wb_write_str(wb, d->masks[i]);
    if (rc == IC_OK)
        rc = wb_write_u16(wb, wire_flags);
    if (rc != IC_OK)
        return rc;
    if (!(flags & FS_OCL_EACH_FILE))
        return wb_write(wb, d->hash, FS_OCL_HASH_SIZE);
    rc = write_listing(wb, d->info, flags, form);
    if (rc == IC_OK && (flags & FS_OCL_CONTROL_ATTRS))
        rc = write_dir_attrs(wb, d->attrs);
    return rc;
}

int read_ids(rbuf *rb, uint32_t *mode, uint16_t *uid, uint16_t *gid)
{
    int rc = rb_read_u32(rb, mode);
    if (rc == IC_OK)
        rc = rb_read_u16(rb, uid);
    if (rc == IC_OK)
        rc = rb_read_u16(rb, gid);
    return rc;
}

int read_file_attrs(rbuf *rb, uint16_t form, fs_ocl_file_attrs *a)
{
    uint32_t size;
    int rc = read_ids(rb, &a->mode, &a->uid, &a->gid);
    if (rc == IC_OK)
        rc = rb_read_u32(rb, &size);
    if (rc == IC_OK)
        rc = rb_read_u32(rb, &a->mtime);
    a->size = size;
    if (form != FS_OCL_FORM_1) {
        a->size |= uint64_t(a->mode >> 16) << 32;
        a->mode &= 0xFFFFu;
    }
    return rc;
}

int read_dir_attrs(rbuf *rb, fs_ocl_dir_attrs *a)
{
    return read_ids(rb, &a->mode, &a->uid, &a->gid);
}

// The names of one listing part: each one path component, after the one
// read before in byte order.
struct name_sequence {
    const char *prev = nullptr;
    uint16_t prev_length = 0;

    int next(rbuf *rb, const char **name, uint16_t *length)
    {
        int rc = rb_read_str(rb, name, length);
        if (rc != IC_OK)
            return rc;
        const char *n = *name;
        const uint16_t len = *length;
        if (len == 0 || std::memchr(n, '/', len) || std::memchr(n, '\0', len) || (len == 1 && n[0] == '.') ||
            (len == 2 && n[0] == '.' && n[1] == '.'))
            return FS_OCL_ERR_IO;
        if (prev) {
            const int c = std::memcmp(prev, n, std::min(prev_length, len));
            if (c > 0 || (c == 0 && prev_length >= len))
                return FS_OCL_ERR_IO;
        }
        prev = n;
        prev_length = len;
        return FS_OCL_OK;
    }
};

// A count whose entries of at least min_size bytes each fit in what is left.
int read_count(rbuf *rb, uint32_t min_size, uint32_t *count)
{
    int rc = rb_read_u32(rb, count);
    if (rc != IC_OK)
        return rc;
    return *count > INT32_MAX || *count > rb_remaining(rb) / min_size ? FS_OCL_ERR_IO : FS_OCL_OK;
}

int read_listing(rbuf *rb, uint16_t flags, uint16_t form, unsigned depth, fs_ocl_dir_info *out)
{
    if (depth > kMaxDepth)
        return FS_OCL_ERR_IO;
    const bool attrs = flags & FS_OCL_CONTROL_ATTRS, data = flags & FS_OCL_CONTROL_DATA;
    listing_builder b(flags);
    uint32_t count;
    int rc = read_count(rb, 3 + 8 + (attrs ? 8 : 0), &count);
    name_sequence dirs;
    for (uint32_t i = 0; rc == IC_OK && i < count; ++i) {
        const char *name;
        uint16_t length;
        if ((rc = dirs.next(rb, &name, &length)) != IC_OK)
            break;
        fs_ocl_dir_info child{};
        listing_guard guard{&child};
        if ((rc = read_listing(rb, flags, form, depth + 1, &child)) != IC_OK)
            break;
        fs_ocl_dir_attrs a{};
        if (attrs && (rc = read_dir_attrs(rb, &a)) != IC_OK)
            break;
        guard.info = nullptr;
        b.add_dir(name, length, &child, &a);
    }
    if (rc == IC_OK)
        rc = read_count(rb, 3 + (data ? FS_OCL_HASH_SIZE : 0) + (attrs ? 16 : 0), &count);
    name_sequence files;
    for (uint32_t i = 0; rc == IC_OK && i < count; ++i) {
        const char *name;
        uint16_t length;
        if ((rc = files.next(rb, &name, &length)) != IC_OK)
            break;
        const uint8_t *hash = nullptr;
        if (data && (rc = rb_get_ptr(rb, FS_OCL_HASH_SIZE, &hash)) != IC_OK)
            break;
        fs_ocl_file_attrs a{};
        if (attrs && (rc = read_file_attrs(rb, form, &a)) != IC_OK)
            break;
        b.add_file(name, length, hash, &a);
    }
    return rc == IC_OK ? b.finish(out) : rc;
}

// The masks of a directory: null for none.
int read_masks(rbuf *rb, char ***masks)
{
    uint16_t count;
    int rc = rb_read_u16(rb, &count);
    if (rc != IC_OK || count == 0)
        return rc;
    if (count > rb_remaining(rb) / 2)
        return FS_OCL_ERR_IO;
    char **array = static_cast<char **>(std::calloc(size_t(count) + 1, sizeof(char *)));
    if (!array)
        return FS_OCL_ERR_NOMEM;
    for (uint16_t i = 0; rc == IC_OK && i < count; ++i) {
        const char *s;
        uint16_t length;
        if ((rc = rb_read_str(rb, &s, &length)) != IC_OK)
            break;
        if (std::memchr(s, '\0', length)) {
            rc = FS_OCL_ERR_IO;
            break;
        }
        array[i] = strndup(s, length);
        if (!array[i])
            rc = FS_OCL_ERR_NOMEM;
    }
    if (rc != IC_OK) {
        ic_str_zarray_destroy(array);
        return rc;
    }
    *masks = array;
    return FS_OCL_OK;
}

int read_object(rbuf *rb, fs_ocl *ocl)
{
    uint16_t type;
    int rc = rb_read_u16(rb, &type);
    if (rc != IC_OK)
        return rc;
    if (type != FS_OCL_TYPE_FILE && type != FS_OCL_TYPE_DIR)
        return FS_OCL_ERR_IO;
    const char *p;
    uint16_t length;
    if ((rc = rb_read_str(rb, &p, &length)) != IC_OK)
        return rc;
    if (length == 0 || p[0] != '/' || std::memchr(p, '\0', length))
        return FS_OCL_ERR_IO;
    const std::string path(p, length);
    if (fs_ocl_find_object(ocl, path.c_str()))
        return FS_OCL_ERR_IO;

    // The form travels in the flags word; it is read before what it shapes.
    object_ptr o;
    uint16_t flags, form = FS_OCL_FORM_1;
    auto read_flags = [&]() {
        const int r = rb_read_u16(rb, &flags);
        if (r == IC_OK && (flags & FS_OCL_FORM_2_MARK)) {
            flags = uint16_t(flags & ~FS_OCL_FORM_2_MARK);
            form = FS_OCL_FORM_2;
        }
        return r;
    };
    if (type == FS_OCL_TYPE_FILE) {
        if ((rc = file_create(path.c_str(), 0, FS_OCL_FORM_1, o)) != IC_OK || (rc = read_flags()) != IC_OK)
            return rc;
        fs_ocl_file *f = reinterpret_cast<fs_ocl_file *>(o.get());
        if ((flags & FS_OCL_CONTROL_DATA) && (rc = rb_read(rb, f->hash, FS_OCL_HASH_SIZE)) != IC_OK)
            return rc;
        if ((flags & FS_OCL_CONTROL_ATTRS) && (rc = read_file_attrs(rb, form, &f->attrs)) != IC_OK)
            return rc;
    } else {
        if ((rc = dir_create(path.c_str(), nullptr, 0, FS_OCL_FORM_1, o)) != IC_OK)
            return rc;
        fs_ocl_dir *d = reinterpret_cast<fs_ocl_dir *>(o.get());
        if ((rc = read_masks(rb, &d->masks)) != IC_OK || (rc = read_flags()) != IC_OK)
            return rc;
        if (!(flags & FS_OCL_EACH_FILE)) {
            rc = rb_read(rb, d->hash, FS_OCL_HASH_SIZE);
        } else {
            rc = read_listing(rb, flags, form, 0, &d->info);
            if (rc == IC_OK && (flags & FS_OCL_CONTROL_ATTRS))
                rc = read_dir_attrs(rb, &d->attrs);
        }
        if (rc != IC_OK)
            return rc;
    }
    o->flags = flags;
    o->form = form;
    insert(ocl, std::move(o));
    return FS_OCL_OK;
}

} // namespace
} // namespace ocl

int fs_ocl_write_to_wbuf(const fs_ocl *ocl, wbuf *wb)
{
    OCL_ENTER();
    if (!ocl || !wb)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    int rc = wb_write_u32(wb, ocl->count);
    for (const fs_ocl_object *o = fs_ocl_first_object(ocl); rc == IC_OK && o; o = fs_ocl_next_object(ocl, o))
        rc = ocl::write_object(wb, o);
    OCL_RETURN(rc);
}

int fs_ocl_write_to_mem(const fs_ocl *ocl, uint8_t **data, uint32_t *size)
{
    OCL_ENTER();
    if (!ocl || !data || !size)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    wbuf wb;
    int rc = wb_init(&wb, 0);
    if (rc != IC_OK)
        OCL_RETURN(rc);
    rc = fs_ocl_write_to_wbuf(ocl, &wb);
    if (rc != IC_OK) {
        wb_finalize(&wb, 1);
        OCL_RETURN(rc);
    }
    const uint32_t length = wb.length;
    *data = wb_finalize(&wb, 0);
    *size = length;
    OCL_RETURN(FS_OCL_OK);
}

int fs_ocl_read_from_rbuf(rbuf *rb, fs_ocl **ocl)
{
    OCL_ENTER();
    if (!rb || !ocl)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    fs_ocl *o = nullptr;
    int rc = fs_ocl_create(&o);
    if (rc != FS_OCL_OK)
        OCL_RETURN(rc);
    try {
        uint32_t count;
        rc = rb_read_u32(rb, &count);
        if (rc == IC_OK && count > rb_remaining(rb) / 7) // type, path, flags: 7 bytes at least
            rc = FS_OCL_ERR_IO;
        for (uint32_t i = 0; rc == IC_OK && i < count; ++i)
            rc = ocl::read_object(rb, o);
    } catch (const std::bad_alloc &) {
        rc = FS_OCL_ERR_NOMEM;
    }
    if (rc != FS_OCL_OK) {
        fs_ocl_destroy(o);
        OCL_RETURN(rc);
    }
    *ocl = o;
    OCL_RETURN(FS_OCL_OK);
}

int fs_ocl_read_from_mem(const void *data, uint32_t size, fs_ocl **ocl)
{
    OCL_ENTER();
    if ((!data && size) || !ocl)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    rbuf rb;
    rb_init(&rb, data, size);
    fs_ocl *o = nullptr;
    int rc = fs_ocl_read_from_rbuf(&rb, &o);
    if (rc != FS_OCL_OK)
        OCL_RETURN(rc);
    if (rb_remaining(&rb) != 0) {
        fs_ocl_destroy(o);
        OCL_RETURN(FS_OCL_ERR_IO);
    }
    *ocl = o;
    OCL_RETURN(FS_OCL_OK);
}
