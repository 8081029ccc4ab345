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

// What flags ask to record of the file entry name in dirfd (link: whether
// the scan saw a symbolic link): its attributes and its content hash.
// FS_OCL_OK; FS_OCL_ERR_MISSING when it is no longer a regular file or a
// link; FS_OCL_ERR_IO when it cannot be read; another error code.
int record_file(int dirfd, const char *name, bool link, uint16_t flags, uint8_t *block, const char *path,
                uint8_t hash[FS_OCL_HASH_SIZE], fs_ocl_file_attrs *attrs)
{
    int rc;
    if (flags & FS_OCL_CONTROL_ATTRS) {
        struct stat st;
        if ((rc = stat_file(dirfd, name, &st)) != FS_OCL_OK)
            return rc == GONE ? FS_OCL_ERR_MISSING : rc;
        link = S_ISLNK(st.st_mode);
        *attrs = file_attrs_of(st);
    }
    if (flags & FS_OCL_CONTROL_DATA) {
        rc = hash_entry(dirfd, name, link, block, path, hash);
        if (rc == GONE)
            return FS_OCL_ERR_MISSING;
        if (rc != FS_OCL_OK)
            return rc < 0 ? FS_OCL_ERR_IO : rc;
    }
    return FS_OCL_OK;
}

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
        fs_ocl_file_attrs a{};
        uint8_t digest[FS_OCL_HASH_SIZE];
        if ((rc = record_file(fd, name, e.link, w.flags, w.block, w.path.str, digest, &a)) != FS_OCL_OK)
            return rc == FS_OCL_ERR_MISSING ? FS_OCL_ERR_IO : rc;
        b.add_file(name, e.length, digest, &a);
        w.pop(mark);
    }
    return b.finish(out);
}

int add_file(fs_ocl *ocl, const char *mount_dir, const char *path, uint16_t flags, fs_ocl_object **object)
{
    int rc = check_path(mount_dir, path);
    if (!ocl || (flags & FS_OCL_FORM_2_MARK))
        rc = FS_OCL_ERR_INVAL;
    if (rc != FS_OCL_OK)
        return rc;
    ic_util::unique_fd root, parent;
    const char *name;
    struct stat st;
    if ((rc = open_root(mount_dir, root)) != FS_OCL_OK ||
        (rc = lookup_file(root.get(), mount_dir, path, parent, &name, &st)) != FS_OCL_OK)
        return rc;
    object_ptr o;
    if ((rc = file_create(path, flags, FS_OCL_FORM_2, o)) != FS_OCL_OK)
        return rc;
    fs_ocl_file *file = reinterpret_cast<fs_ocl_file *>(o.get());
    walker w;
    if ((rc = w.init(mount_dir, o.get(), nullptr, false)) != FS_OCL_OK ||
        (rc = record_file(parent.get(), name, S_ISLNK(st.st_mode), flags, w.block, w.path.str, file->hash,
                          &file->attrs)) != FS_OCL_OK)
        return rc;
    if (object)
        *object = o.get();
    insert(ocl, std::move(o));
    return FS_OCL_OK;
}

int add_dir(fs_ocl *ocl, const char *mount_dir, const char *path, const char *const *masks, uint16_t flags,
            fs_ocl_object **object)
{
    int rc = check_path(mount_dir, path);
    if (!ocl || (flags & FS_OCL_FORM_2_MARK) || ic_str_zarray_len(masks) > UINT16_MAX)
        rc = FS_OCL_ERR_INVAL;
    if (rc != FS_OCL_OK)
        return rc;
    // No masks and an empty mask list read back the same: every file.
    if (masks && !masks[0])
        masks = nullptr;
    ic_util::unique_fd root, target;
    struct stat st;
    if ((rc = open_root(mount_dir, root)) != FS_OCL_OK ||
        (rc = lookup(root.get(), mount_dir, path, target, &st)) != FS_OCL_OK)
        return rc;
    if (!S_ISDIR(st.st_mode))
        return FS_OCL_ERR_MISSING;
    ic_util::unique_fd fd(open_dir_at(target.get(), "."));
    if (!fd.valid())
        return FS_OCL_ERR_IO;
    object_ptr o;
    if ((rc = dir_create(path, masks, flags, FS_OCL_FORM_2, o)) != FS_OCL_OK)
        return rc;
    fs_ocl_dir *dir = reinterpret_cast<fs_ocl_dir *>(o.get());
    walker w;
    if ((rc = w.init(mount_dir, o.get(), dir->masks, false)) != FS_OCL_OK)
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
