// The object check list: a red-black tree of objects ordered by path.
#include "ocl_internal.h"

#include <ic/util/str_zarray.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ocl {

void object_destroy(fs_ocl_object *object)
{
    if (!object)
        return;
    if (object->type == FS_OCL_TYPE_DIR) {
        fs_ocl_dir *dir = reinterpret_cast<fs_ocl_dir *>(object);
        ic_str_zarray_destroy(dir->masks);
        listing_clear(&dir->info);
    }
    std::free(object->path);
    std::free(object);
}

namespace {

template <typename T>
int object_create(const char *path, uint16_t type, uint16_t flags, uint16_t form, object_ptr &object, T **record)
{
    T *r = static_cast<T *>(std::calloc(1, sizeof(T)));
    if (!r)
        return FS_OCL_ERR_NOMEM;
    r->object.type = type;
    r->object.flags = flags;
    r->object.form = form;
    object.reset(&r->object);
    r->object.path = strdup(path);
    if (!r->object.path)
        return object.reset(), FS_OCL_ERR_NOMEM;
    *record = r;
    return FS_OCL_OK;
}

} // namespace

int file_create(const char *path, uint16_t flags, uint16_t form, object_ptr &object)
{
    fs_ocl_file *file;
    return object_create(path, FS_OCL_TYPE_FILE, flags, form, object, &file);
}

int dir_create(const char *path, const char *const *masks, uint16_t flags, uint16_t form, object_ptr &object)
{
    fs_ocl_dir *dir;
    int rc = object_create(path, FS_OCL_TYPE_DIR, flags, form, object, &dir);
    if (rc != FS_OCL_OK)
        return rc;
    if (masks) {
        dir->masks = ic_str_zarray_copy(masks);
        if (!dir->masks)
            return object.reset(), FS_OCL_ERR_NOMEM;
    }
    return FS_OCL_OK;
}

const char *object_path(const rb_node *node)
{
    return rb_entry(const_cast<rb_node *>(node), fs_ocl_object, node)->path;
}

void insert(fs_ocl *ocl, object_ptr object)
{
    fs_ocl_object *o = object.release();
    if (rb_node *old = link_by_path(&ocl->root, &o->node, object_path)) {
        rb_replace_node(old, &o->node, &ocl->root);
        object_destroy(rb_entry(old, fs_ocl_object, node));
        return;
    }
    ++ocl->count;
}

fs_ocl_file_attrs file_attrs_of(const struct stat &st)
{
    fs_ocl_file_attrs a;
    a.mode = uint32_t(st.st_mode);
    a.uid = uint16_t(st.st_uid);
    a.gid = uint16_t(st.st_gid);
    a.size = std::min(uint64_t(st.st_size), uint64_t(FS_OCL_SIZE_LIMIT));
    a.mtime = uint32_t(st.st_mtime);
    return a;
}

fs_ocl_dir_attrs dir_attrs_of(const struct stat &st)
{
    fs_ocl_dir_attrs a;
    a.mode = uint32_t(st.st_mode);
    a.uid = uint16_t(st.st_uid);
    a.gid = uint16_t(st.st_gid);
    return a;
}

} // namespace ocl

int fs_ocl_create(fs_ocl **ocl)
{
    OCL_ENTER();
    if (!ocl)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    fs_ocl *o = static_cast<fs_ocl *>(std::calloc(1, sizeof(fs_ocl)));
    if (!o)
        OCL_RETURN(FS_OCL_ERR_NOMEM);
    *ocl = o;
    OCL_RETURN(FS_OCL_OK);
}

void fs_ocl_destroy(fs_ocl *ocl)
{
    if (!ocl)
        return;
    ocl::destroy_tree(&ocl->root, [](rb_node *n) { ocl::object_destroy(rb_entry(n, fs_ocl_object, node)); });
    std::free(ocl);
}

int fs_ocl_add_file_info(fs_ocl *ocl, const char *path, uint16_t flags, const uint8_t hash[FS_OCL_HASH_SIZE],
                         const fs_ocl_file_attrs *attrs, fs_ocl_object **object)
{
    OCL_ENTER();
    if (!ocl || !path || path[0] != '/' || (flags & FS_OCL_FORM_2_MARK) || ((flags & FS_OCL_CONTROL_DATA) && !hash) ||
        ((flags & FS_OCL_CONTROL_ATTRS) && (!attrs || attrs->mode > UINT16_MAX || attrs->size > FS_OCL_SIZE_LIMIT)))
        OCL_RETURN(FS_OCL_ERR_INVAL);
    if (std::strlen(path) > UINT16_MAX)
        OCL_RETURN(FS_OCL_ERR_NAME_TOO_LONG);
    ocl::object_ptr o;
    int rc = ocl::file_create(path, flags, FS_OCL_FORM_2, o);
    if (rc != FS_OCL_OK)
        OCL_RETURN(rc);
    fs_ocl_file *file = reinterpret_cast<fs_ocl_file *>(o.get());
    if (flags & FS_OCL_CONTROL_DATA)
        std::memcpy(file->hash, hash, FS_OCL_HASH_SIZE);
    if (flags & FS_OCL_CONTROL_ATTRS)
        file->attrs = *attrs;
    if (object)
        *object = o.get();
    ocl::insert(ocl, std::move(o));
    OCL_RETURN(FS_OCL_OK);
}

fs_ocl_object *fs_ocl_find_object(const fs_ocl *ocl, const char *path)
{
    rb_node *n = ocl ? ocl::find_by_path(&ocl->root, path, ocl::object_path) : nullptr;
    return n ? rb_entry(n, fs_ocl_object, node) : nullptr;
}

int fs_ocl_remove_object(fs_ocl *ocl, const char *path)
{
    OCL_ENTER();
    fs_ocl_object *o = fs_ocl_find_object(ocl, path);
    if (!o)
        OCL_RETURN(FS_OCL_ERR_NOTFOUND);
    rb_erase(&o->node, &ocl->root);
    --ocl->count;
    ocl::object_destroy(o);
    OCL_RETURN(FS_OCL_OK);
}

fs_ocl_object *fs_ocl_first_object(const fs_ocl *ocl)
{
    rb_node *n = ocl ? rb_first(&ocl->root) : nullptr;
    return n ? rb_entry(n, fs_ocl_object, node) : nullptr;
}

fs_ocl_object *fs_ocl_next_object(const fs_ocl *, const fs_ocl_object *object)
{
    rb_node *n = object ? rb_next(&object->node) : nullptr;
    return n ? rb_entry(n, fs_ocl_object, node) : nullptr;
}
