// Adding files and directories from a mounted volume.  Everything is built
// aside and linked in only when complete.
#include "ocl_internal.h"

#include <ic/util/str_zarray.h>

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace ocl {
namespace {

// Per-file listing of the directory open at fd.
int build_listing(walker &w, int fd, fs_ocl_dir_info *out)
{
    level lv;
    int rc = scan_level(w, fd, lv);
    if (rc != FS_OCL_OK)
        return rc;
    listing_builder b(w.flags);
    for (const level::entry &e : lv.dirs) {
        const char *name = lv.name(e);
        size_t mark;
        ic_util::unique_fd sub;
        if ((rc = w.enter(fd, name, e.length, &mark, sub)) != FS_OCL_OK)
            return rc == GONE ? FS_OCL_ERR_IO : rc;
        fs_ocl_dir_info child{};
        listing_guard guard{&child};
        if ((rc = build_listing(w, sub.get(), &child)) != FS_OCL_OK)
            return rc;
        if (child.dir_count || child.file_count) {
            fs_ocl_dir_attrs a{};
            if (w.flags & FS_OCL_CONTROL_ATTRS) {
                struct stat st;
                if (fstat(sub.get(), &st) != 0)
                    return FS_OCL_ERR_IO;
                a = dir_attrs_of(st);
            }
            guard.info = nullptr;
            b.add_dir(name, e.length, &child, &a);
        }
        w.pop(mark);
    }
    for (const level::entry &e : lv.files) {
        const char *name = lv.name(e);
        size_t mark;
        if ((rc = w.push(name, e.length, &mark)) != FS_OCL_OK)
            return rc;
        bool link = e.link;
        struct stat st{};
        if ((w.flags & FS_OCL_CONTROL_ATTRS) && (rc = stat_file(w, fd, name, &st, &link)) != FS_OCL_OK)
            return rc;
        uint8_t digest[FS_OCL_HASH_SIZE];
        if ((w.flags & FS_OCL_CONTROL_DATA) && (rc = hash_entry(w, fd, name, link, digest)) != FS_OCL_OK)
            return rc < 0 ? FS_OCL_ERR_IO : rc;
        const fs_ocl_file_attrs a = file_attrs_of(st);
        b.add_file(name, e.length, digest, &a);
        w.pop(mark);
    }
    return b.finish(out);
}

int add_file(fs_ocl *ocl, const char *mount_dir, const char *path, uint16_t flags, fs_ocl_object **object)
{
    int rc = check_path(mount_dir, path);
    if (!ocl)
        rc = FS_OCL_ERR_INVAL;
    if (rc != FS_OCL_OK)
        return rc;
    ic_util::unique_fd root, target;
    struct stat st;
    if ((rc = lookup(mount_dir, path, root, target, &st)) != FS_OCL_OK)
        return rc;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return FS_OCL_ERR_MISSING;
    object_ptr o;
    if ((rc = file_create(path, flags, o)) != FS_OCL_OK)
        return rc;
    fs_ocl_file *file = reinterpret_cast<fs_ocl_file *>(o.get());
    if (flags & FS_OCL_CONTROL_DATA) {
        walker w;
        if ((rc = w.init(mount_dir, path, nullptr, flags, false)) != FS_OCL_OK)
            return rc;
        rc = hash_object(w, root.get(), path, target.get(), st, file->hash);
        if (rc == GONE)
            return FS_OCL_ERR_MISSING;
        if (rc != FS_OCL_OK)
            return rc < 0 ? FS_OCL_ERR_IO : rc;
    }
    if (flags & FS_OCL_CONTROL_ATTRS)
        file->attrs = file_attrs_of(st);
    if (object)
        *object = o.get();
    insert(ocl, std::move(o));
    return FS_OCL_OK;
}

int add_dir(fs_ocl *ocl, const char *mount_dir, const char *path, const char *const *masks, uint16_t flags,
            fs_ocl_object **object)
{
    int rc = check_path(mount_dir, path);
    if (!ocl || ic_str_zarray_len(masks) > UINT16_MAX)
        rc = FS_OCL_ERR_INVAL;
    if (rc != FS_OCL_OK)
        return rc;
    // No masks and an empty mask list read back the same: every file.
    if (masks && !masks[0])
        masks = nullptr;
    ic_util::unique_fd root, target;
    struct stat st;
    if ((rc = lookup(mount_dir, path, root, target, &st)) != FS_OCL_OK)
        return rc;
    if (!S_ISDIR(st.st_mode))
        return FS_OCL_ERR_MISSING;
    ic_util::unique_fd fd(openat(target.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return FS_OCL_ERR_IO;
    object_ptr o;
    if ((rc = dir_create(path, masks, flags, o)) != FS_OCL_OK)
        return rc;
    fs_ocl_dir *dir = reinterpret_cast<fs_ocl_dir *>(o.get());
    walker w;
    if ((rc = w.init(mount_dir, path, dir->masks, flags, false)) != FS_OCL_OK)
        return rc;
    if (flags & FS_OCL_EACH_FILE) {
        if ((rc = build_listing(w, fd.get(), &dir->info)) != FS_OCL_OK)
            return rc;
        if (flags & FS_OCL_CONTROL_ATTRS)
            dir->attrs = dir_attrs_of(st);
    } else if ((rc = dir_hash(w, fd.get(), st, dir->hash)) != FS_OCL_OK) {
        return rc < 0 ? FS_OCL_ERR_IO : rc;
    }
    if (object)
        *object = o.get();
    insert(ocl, std::move(o));
    return FS_OCL_OK;
}

} // namespace
} // namespace ocl

int fs_ocl_add_file(fs_ocl *ocl, const char *mount_dir, const char *path, uint16_t flags, fs_ocl_object **object)
{
    OCL_ENTER();
    try {
        OCL_RETURN(ocl::add_file(ocl, mount_dir, path, flags, object));
    } catch (const std::bad_alloc &) {
        OCL_RETURN(FS_OCL_ERR_NOMEM);
    }
}

int fs_ocl_add_dir(fs_ocl *ocl, const char *mount_dir, const char *path, const char *const *masks,
                   uint16_t flags, fs_ocl_object **object)
{
    OCL_ENTER();
    try {
        OCL_RETURN(ocl::add_dir(ocl, mount_dir, path, masks, flags, object));
    } catch (const std::bad_alloc &) {
        OCL_RETURN(FS_OCL_ERR_NOMEM);
    }
}
