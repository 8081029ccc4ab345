// The integrity check list: one object list per volume id.
#include "icl_internal.h"
#include "ocl_internal.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/fs/fs_icl.h>
#include <ic/fs/fs_volume_id.h>

#include <cstdlib>

namespace icl {

void volume_destroy(fs_icl_volume *v)
{
    if (!v)
        return;
    fs_ocl_destroy(v->ocl);
    fs_volume_id_destroy(v->id);
    std::free(v);
}

int volume_create(fs_icl *icl, const fs_volume_id *id, fs_icl_volume **out)
{
    fs_icl_volume *v = static_cast<fs_icl_volume *>(std::calloc(1, sizeof(fs_icl_volume)));
    if (!v)
        return FS_OCL_ERR_NOMEM;
    int rc = fs_volume_id_copy(id, &v->id);
    if (rc == FS_OCL_OK)
        rc = fs_ocl_create(&v->ocl);
    if (rc != FS_OCL_OK) {
        volume_destroy(v);
        return rc;
    }
    v->next = icl->first;
    icl->first = v;
    ++icl->count;
    *out = v;
    return FS_OCL_OK;
}

void volume_unlink(fs_icl *icl, fs_icl_volume *v)
{
    for (fs_icl_volume **p = &icl->first; *p; p = &(*p)->next)
        if (*p == v) {
            *p = v->next;
            --icl->count;
            return;
        }
}

namespace {

// The entry of id, made when there is none; created tells which.
int volume_get(fs_icl *icl, const fs_volume_id *id, fs_icl_volume **out, bool *created)
{
    *created = false;
    if ((*out = fs_icl_find_volume(icl, id)))
        return FS_OCL_OK;
    *created = true;
    return volume_create(icl, id, out);
}

// Runs add(ocl, mount_dir) on the entry of the volume's id with the volume
// mounted for the call; an entry made here goes again when add fails.
template <typename Add>
int add_mounted(fs_icl *icl, fs_volume *volume, Add add)
{
    if (!icl || !volume)
        return FS_OCL_ERR_INVAL;
    fs_volume_id *id = nullptr;
    int rc = fs_volume_create_id(volume, &id);
    if (rc != FS_OK)
        return rc;
    fs_icl_volume *v = nullptr;
    bool created = false;
    rc = volume_get(icl, id, &v, &created);
    fs_volume_id_destroy(id);
    if (rc != FS_OCL_OK)
        return rc;
    const char *dir = nullptr;
    rc = fs_volume_get_mount_point(volume, 0, &dir);
    if (rc == FS_OK) {
        rc = add(v->ocl, dir);
        if (fs_volume_release_mount_point(volume) != FS_OK)
            IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "cannot release the mount of %s\n", volume->devnode);
    }
    if (rc != FS_OCL_OK && created) {
        volume_unlink(icl, v);
        volume_destroy(v);
    }
    return rc;
}

// Leaves out an entry whose object list became empty.
void drop_if_empty(fs_icl *icl, fs_icl_volume *v)
{
    if (v->ocl->count == 0) {
        volume_unlink(icl, v);
        volume_destroy(v);
    }
}

} // namespace
} // namespace icl

int fs_icl_create(fs_icl **icl)
{
    OCL_ENTER();
    if (!icl)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    fs_icl *l = static_cast<fs_icl *>(std::calloc(1, sizeof(fs_icl)));
    if (!l)
        OCL_RETURN(FS_OCL_ERR_NOMEM);
    *icl = l;
    OCL_RETURN(FS_OCL_OK);
}

void fs_icl_destroy(fs_icl *icl)
{
    if (!icl)
        return;
    for (fs_icl_volume *v = icl->first; v;) {
        fs_icl_volume *next = v->next;
        icl::volume_destroy(v);
        v = next;
    }
    std::free(icl);
}

int fs_icl_add_file(fs_icl *icl, fs_volume *volume, const char *path, uint16_t flags, fs_ocl_object **object)
{
    OCL_ENTER();
    OCL_RETURN(icl::add_mounted(icl, volume, [&](fs_ocl *ocl, const char *dir) {
        return fs_ocl_add_file(ocl, dir, path, flags, object);
    }));
}

int fs_icl_add_dir(fs_icl *icl, fs_volume *volume, const char *path, const char *const *masks, uint16_t flags,
                   fs_ocl_object **object)
{
    OCL_ENTER();
    OCL_RETURN(icl::add_mounted(icl, volume, [&](fs_ocl *ocl, const char *dir) {
        return fs_ocl_add_dir(ocl, dir, path, masks, flags, object);
    }));
}

int fs_icl_add_file_info(fs_icl *icl, const fs_volume_id *id, const char *path, uint16_t flags,
                         const uint8_t hash[FS_OCL_HASH_SIZE], const fs_ocl_file_attrs *attrs,
                         fs_ocl_object **object)
{
    OCL_ENTER();
    if (!icl || !id)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    fs_icl_volume *v = nullptr;
    bool created = false;
    int rc = icl::volume_get(icl, id, &v, &created);
    if (rc != FS_OCL_OK)
        OCL_RETURN(rc);
    rc = fs_ocl_add_file_info(v->ocl, path, flags, hash, attrs, object);
    if (rc != FS_OCL_OK && created)
        icl::drop_if_empty(icl, v);
    OCL_RETURN(rc);
}

fs_icl_volume *fs_icl_first_volume(const fs_icl *icl)
{
    return icl ? icl->first : nullptr;
}

fs_icl_volume *fs_icl_next_volume(const fs_icl_volume *volume)
{
    return volume ? volume->next : nullptr;
}

fs_icl_volume *fs_icl_find_volume(const fs_icl *icl, const fs_volume_id *id)
{
    if (!icl || !id)
        return nullptr;
    for (fs_icl_volume *v = icl->first; v; v = v->next)
        if (fs_volume_id_compare(v->id, id) == 0)
            return v;
    return nullptr;
}

fs_ocl_object *fs_icl_volume_first_object(const fs_icl_volume *volume)
{
    return volume ? fs_ocl_first_object(volume->ocl) : nullptr;
}

fs_ocl_object *fs_icl_volume_next_object(const fs_icl_volume *volume, const fs_ocl_object *object)
{
    return volume ? fs_ocl_next_object(volume->ocl, object) : nullptr;
}

fs_ocl_object *fs_icl_volume_find_object(const fs_icl_volume *volume, const char *path)
{
    return volume ? fs_ocl_find_object(volume->ocl, path) : nullptr;
}

fs_ocl_object *fs_icl_find_object(const fs_icl *icl, const fs_volume_id *id, const char *path)
{
    return fs_icl_volume_find_object(fs_icl_find_volume(icl, id), path);
}

int fs_icl_remove_object(fs_icl *icl, const fs_volume_id *id, const char *path)
{
    OCL_ENTER();
    fs_icl_volume *v = fs_icl_find_volume(icl, id);
    if (!v)
        OCL_RETURN(FS_OCL_ERR_NOTFOUND);
    const int rc = fs_ocl_remove_object(v->ocl, path);
    if (rc == FS_OCL_OK)
        icl::drop_if_empty(icl, v);
    OCL_RETURN(rc);
}

int fs_icl_remove_volume(fs_icl *icl, const fs_volume_id *id)
{
    OCL_ENTER();
    fs_icl_volume *v = fs_icl_find_volume(icl, id);
    if (!v)
        OCL_RETURN(FS_OCL_ERR_NOTFOUND);
    icl::volume_unlink(icl, v);
    icl::volume_destroy(v);
    OCL_RETURN(FS_OCL_OK);
}
