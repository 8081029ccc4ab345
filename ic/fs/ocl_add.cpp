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
// the scan saw a symbolic link): its attributes now, its content hash in
// done's turn (null without FS_OCL_CONTROL_DATA).  An entry no longer there
// as a regular file or a link ends the object's walk with gone, one that
// cannot be read with FS_OCL_ERR_IO.
int record_file(walker &w, int dirfd, const char *name, bool link, int gone,
                std::function<int(const uint8_t *hash, const fs_ocl_file_attrs &attrs)> done)
{
    fs_ocl_file_attrs a{};
    if (w.flags & FS_OCL_CONTROL_ATTRS) {
        struct stat st;
        const int rc = stat_file(dirfd, name, &st);
        if (rc != FS_OCL_OK)
            return w.end(rc == GONE ? gone : rc);
        link = S_ISLNK(st.st_mode);
        a = file_attrs_of(st);
    }
    if (!(w.flags & FS_OCL_CONTROL_DATA))
        return w.queue([done, a] { return done(nullptr, a); });
    return w.hash(dirfd, name, link, [run = w.run, done, a, gone](const content &c) -> int {
        if (c.status != FS_OCL_OK) {
            run->status = c.status == GONE ? gone : FS_OCL_ERR_IO;
            return FS_OCL_OK;
        }
        return done(c.digest, a);
    });
}

using builder_ptr = std::shared_ptr<listing_builder>;

// Queues the per-file listing of the directory open at fd into b; *kept
// when it has a file or a kept subdirectory (known from the walk).
int build_listing(walker &w, int fd, const builder_ptr &b, bool *kept)
{
    level lv;
    int rc = scan_level(w, fd, lv);
    if (rc != FS_OCL_OK)
        return w.end(rc);
    *kept = !lv.files.empty();
    for (const level::entry &e : lv.dirs) {
        if (w.ended())
            return ENDED;
        const char *name = lv.name(e);
        size_t mark;
        ic_util::unique_fd sub;
        if ((rc = w.enter(fd, name, e.length, &mark, sub)) != FS_OCL_OK)
            return w.end(rc == GONE ? FS_OCL_ERR_IO : rc);
        const builder_ptr child = std::make_shared<listing_builder>(w.flags);
        bool child_kept;
        if ((rc = build_listing(w, sub.get(), child, &child_kept)) != FS_OCL_OK)
            return rc;
        if (child_kept) {
            fs_ocl_dir_attrs a{};
            if (w.flags & FS_OCL_CONTROL_ATTRS) {
                struct stat st;
                if (fstat(sub.get(), &st) != 0)
                    return w.end(FS_OCL_ERR_IO);
                a = dir_attrs_of(st);
            }
            rc = w.queue([b, child, n = std::string(name, e.length), a]() -> int {
                fs_ocl_dir_info info{};
                const int finished = child->finish(&info);
                if (finished != FS_OCL_OK)
                    return finished;
                b->add_dir(n.data(), n.size(), &info, &a);
                return FS_OCL_OK;
            });
            if (rc != FS_OCL_OK)
                return rc;
            *kept = true;
        }
        w.pop(mark);
    }
    for (const level::entry &e : lv.files) {
        if (w.ended())
            return ENDED;
        const char *name = lv.name(e);
        size_t mark;
        if ((rc = w.push(name, e.length, &mark)) != FS_OCL_OK)
            return w.end(rc);
        rc = record_file(w, fd, name, e.link, FS_OCL_ERR_IO,
                         [b, n = std::string(name, e.length)](const uint8_t *hash, const fs_ocl_file_attrs &a) {
                             b->add_file(n.data(), n.size(), hash, &a);
                             return FS_OCL_OK;
                         });
        if (rc != FS_OCL_OK)
            return rc;
        w.pop(mark);
    }
    return FS_OCL_OK;
}

// Codes of an object that a list added again leaves out: it is not there
// (as a file or directory), or its path cannot be followed.
bool left_out(int rc)
{
    return rc == FS_OCL_ERR_MISSING || rc == FS_OCL_ERR_LOOP || rc == FS_OCL_ERR_NAME_TOO_LONG;
}

// Queues the walk of the object o, a new record whose path, type, flags
// and masks are set, below root; its last step links it into ocl (setting
// *object) or, with leave_out and a code left_out accepts, drops it.
int queue_add(walker &w, int root, const char *mount_dir, object_ptr o, fs_ocl *ocl, bool leave_out,
              fs_ocl_object **object)
{
    const char *path = o->path;
    const uint16_t flags = o->flags;
    int rc;
    if (o->type == FS_OCL_TYPE_FILE) {
        fs_ocl_file *file = reinterpret_cast<fs_ocl_file *>(o.get());
        ic_util::unique_fd parent;
        const char *name;
        struct stat st;
        if ((rc = w.init(mount_dir, o.get(), nullptr, false)) != FS_OCL_OK)
            return rc;
        if ((rc = lookup_file(root, mount_dir, path, parent, &name, &st)) != FS_OCL_OK)
            rc = w.end(rc);
        else
            rc = record_file(w, parent.get(), name, S_ISLNK(st.st_mode), FS_OCL_ERR_MISSING,
                             [file](const uint8_t *hash, const fs_ocl_file_attrs &a) {
                                 if (hash)
                                     std::memcpy(file->hash, hash, FS_OCL_HASH_SIZE);
                                 file->attrs = a;
                                 return FS_OCL_OK;
                             });
    } else {
        fs_ocl_dir *dir = reinterpret_cast<fs_ocl_dir *>(o.get());
        ic_util::unique_fd target, fd;
        struct stat st;
        if ((rc = w.init(mount_dir, o.get(), dir->masks, false)) != FS_OCL_OK)
            return rc;
        if ((rc = lookup(root, mount_dir, path, target, &st)) != FS_OCL_OK)
            rc = w.end(rc);
        else if (!S_ISDIR(st.st_mode))
            rc = w.end(FS_OCL_ERR_MISSING);
        else if (fd.reset(open_dir_at(target.get(), ".")), !fd.valid())
            rc = w.end(FS_OCL_ERR_IO);
        else if (flags & FS_OCL_EACH_FILE) {
            if (flags & FS_OCL_CONTROL_ATTRS)
                dir->attrs = dir_attrs_of(st);
            const builder_ptr b = std::make_shared<listing_builder>(flags);
            bool kept;
            rc = build_listing(w, fd.get(), b, &kept);
            if (rc == FS_OCL_OK)
                rc = w.queue([b, dir] { return b->finish(&dir->info); });
        } else {
            rc = dir_hash(w, fd.get(), st, [dir](const uint8_t *digest) {
                std::memcpy(dir->hash, digest, FS_OCL_HASH_SIZE);
                return FS_OCL_OK;
            });
        }
    }
    if (rc > 0)
        return rc;
    // The object's last step; it owns the record until then.
    auto record = std::make_shared<object_ptr>(std::move(o));
    return w.pool->then([run = w.run, record, ocl, leave_out, object]() -> int {
        if (run->status != FS_OCL_OK)
            return leave_out && left_out(run->status) ? FS_OCL_OK : run->status;
        if (object)
            *object = record->get();
        insert(ocl, std::move(*record));
        return FS_OCL_OK;
    });
}

// Opens the root of the volume mounted at mount_dir and a pool of workers,
// lets queue(w, root) queue the adds, and runs them.
template <typename Queue>
int with_pool(const char *mount_dir, unsigned workers, Queue queue)
{
    ic_util::unique_fd root;
    hash_pool pool;
    walker w;
    w.pool = &pool;
    int rc = open_root(mount_dir, root);
    if (rc == FS_OCL_OK)
        rc = pool.start(workers);
    if (rc == FS_OCL_OK)
        rc = queue(w, root.get());
    return rc == FS_OCL_OK ? pool.finish() : rc;
}

// Adds one object with a pool of its own.
int add_one(const char *mount_dir, object_ptr o, unsigned workers, fs_ocl *ocl, fs_ocl_object **object)
{
    return with_pool(mount_dir, workers, [&](walker &w, int root) {
        return queue_add(w, root, mount_dir, std::move(o), ocl, false, object);
    });
}

// A new record to add path with flags (a directory's with masks), once
// the arguments are checked.
int new_file(const char *mount_dir, const char *path, uint16_t flags, object_ptr &o)
{
    int rc = check_path(mount_dir, path);
    if (flags & FS_OCL_FORM_2_MARK)
        rc = FS_OCL_ERR_INVAL;
    return rc == FS_OCL_OK ? file_create(path, flags, FS_OCL_FORM_2, o) : rc;
}

int new_dir(const char *mount_dir, const char *path, const char *const *masks, uint16_t flags, object_ptr &o)
{
    int rc = check_path(mount_dir, path);
    if ((flags & FS_OCL_FORM_2_MARK) || ic_str_zarray_len(masks) > UINT16_MAX)
        rc = FS_OCL_ERR_INVAL;
    // No masks and an empty mask list read back the same: every file.
    if (masks && !masks[0])
        masks = nullptr;
    return rc == FS_OCL_OK ? dir_create(path, masks, flags, FS_OCL_FORM_2, o) : rc;
}

int add_file(fs_ocl *ocl, const char *mount_dir, const char *path, uint16_t flags, fs_ocl_object **object)
{
    object_ptr o;
    const int rc = ocl ? new_file(mount_dir, path, flags, o) : FS_OCL_ERR_INVAL;
    // One file: nothing to share out.
    return rc == FS_OCL_OK ? add_one(mount_dir, std::move(o), 1, ocl, object) : rc;
}

int add_dir(fs_ocl *ocl, const char *mount_dir, const char *path, const char *const *masks, uint16_t flags,
            fs_ocl_object **object)
{
    object_ptr o;
    const int rc = ocl ? new_dir(mount_dir, path, masks, flags, o) : FS_OCL_ERR_INVAL;
    return rc == FS_OCL_OK ? add_one(mount_dir, std::move(o), hash_workers(), ocl, object) : rc;
}

} // namespace

int add_again(fs_ocl *ocl, const char *mount_dir, const fs_ocl *stored)
{
    return with_pool(mount_dir, hash_workers(), [&](walker &w, int root) {
        int rc = FS_OCL_OK;
        for (const fs_ocl_object *s = fs_ocl_first_object(stored); s && rc == FS_OCL_OK;
             s = fs_ocl_next_object(stored, s)) {
            object_ptr o;
            if (s->type == FS_OCL_TYPE_FILE)
                rc = new_file(mount_dir, s->path, s->flags, o);
            else
                rc = new_dir(mount_dir, s->path, reinterpret_cast<const fs_ocl_dir *>(s)->masks, s->flags, o);
            if (rc == FS_OCL_OK)
                rc = queue_add(w, root, mount_dir, std::move(o), ocl, true, nullptr);
        }
        return rc;
    });
}

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
