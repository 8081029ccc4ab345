// Check of an object list against a mounted volume: only the objects that
// differ are kept, with result flags or, below per-file directories, items.
#include "ocl_internal.h"

#include <ic/fs/fs_ocl_check.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace ocl {

void check_object_destroy(fs_ocl_check_object *o)
{
    if (o->variant == FS_OCL_CHECK_DIR) {
        fs_ocl_check_dir *d = reinterpret_cast<fs_ocl_check_dir *>(o);
        for (fs_ocl_check_dir_item *i = d->first, *next; i; i = next) {
            next = i->next;
            std::free(i);
        }
    }
    std::free(o);
}

struct check_deleter {
    void operator()(fs_ocl_check_object *o) const { check_object_destroy(o); }
};
using check_ptr = std::unique_ptr<fs_ocl_check_object, check_deleter>;

namespace {

// Attribute differences of a file.  A form-1 record knows the low 32 bits
// of the size: a file of 4 GiB or more always counts as resized.
uint32_t attr_flags(const fs_ocl_file_attrs &stored, uint16_t form, const struct stat &st)
{
    const fs_ocl_file_attrs now = file_attrs_of(st);
    const uint64_t size = uint64_t(st.st_size);
    uint32_t flags = 0;
    if (now.mode != stored.mode)
        flags |= FS_OCL_MODE_CHANGED;
    if (now.uid != stored.uid)
        flags |= FS_OCL_UID_CHANGED;
    if (now.gid != stored.gid)
        flags |= FS_OCL_GID_CHANGED;
    if (form == FS_OCL_FORM_1 ? uint32_t(size) != uint32_t(stored.size) || size > UINT32_MAX
                              : size != stored.size || stored.size >= FS_OCL_SIZE_LIMIT)
        flags |= FS_OCL_SIZE_CHANGED;
    if (now.mtime != stored.mtime)
        flags |= FS_OCL_MTIME_CHANGED;
    return flags;
}

// What one file was recorded with: its content hash (null when contents
// are not controlled), its attributes (null when they are not).
struct stored_file {
    const uint8_t *hash;
    const fs_ocl_file_attrs *attrs;
    uint16_t form;
};

// Compares the file entry name of dirfd, not followed, with what was
// stored; st is its lstat result when taken already (link then follows
// from it), else link says what the scan saw.  A file whose size is known
// to differ is not read.  FS_OCL_OK with *flags (FS_OCL_FILE_MISSING when
// it is no longer a regular file or a link), or an error code.
int compare_file(int dirfd, const char *name, const struct stat *st, bool link, const stored_file &s,
                 uint8_t *block, const char *path, uint32_t *flags)
{
    *flags = 0;
    struct stat own;
    if (!st && s.attrs) {
        const int rc = stat_file(dirfd, name, &own);
        if (rc == GONE) {
            *flags = FS_OCL_FILE_MISSING;
            return FS_OCL_OK;
        }
        if (rc != FS_OCL_OK)
            return rc;
        st = &own;
    }
    if (st)
        link = S_ISLNK(st->st_mode);
    if (s.attrs)
        *flags = attr_flags(*s.attrs, s.form, *st);
    if (!s.hash)
        return FS_OCL_OK;
    if (*flags & FS_OCL_SIZE_CHANGED) {
        *flags |= FS_OCL_DATA_CHANGED;
        return FS_OCL_OK;
    }
    uint8_t digest[FS_OCL_HASH_SIZE];
    const int rc = hash_entry(dirfd, name, link, block, path, digest);
    if (rc == GONE) {
        *flags = FS_OCL_FILE_MISSING;
        return FS_OCL_OK;
    }
    if (rc > 0)
        return rc;
    if (rc == UNREADABLE || std::memcmp(digest, s.hash, FS_OCL_HASH_SIZE) != 0)
        *flags |= FS_OCL_DATA_CHANGED;
    return FS_OCL_OK;
}

class checker {
public:
    walker w;

    // Checks one object; a difference goes into info.
    int object(int root, const char *mount_dir, const fs_ocl_object *o, fs_ocl_check_info *info);

private:
    fs_ocl_check_dir *dir_ = nullptr; // result of the directory object being checked

    int file_object(int root, const char *mount_dir, const fs_ocl_file *f, uint32_t *flags);
    int dir_object(int root, const char *mount_dir, const fs_ocl_dir *d);
    int compare_listing(int fd, const fs_ocl_dir_info &stored, const fs_ocl_dir_attrs *attrs);
    int report_new(int fd);
    // An item for the current path (with a trailing "/" for a directory).
    int item(bool directory, uint32_t flags);
};

int checker::item(bool directory, uint32_t flags)
{
    const char *rel = w.relative();
    size_t length = std::strlen(rel);
    auto *i = static_cast<fs_ocl_check_dir_item *>(std::malloc(sizeof(fs_ocl_check_dir_item) + length + 2));
    if (!i)
        return FS_OCL_ERR_NOMEM;
    i->next = nullptr;
    i->flags = flags;
    i->path = reinterpret_cast<char *>(i + 1);
    std::memcpy(i->path, rel, length);
    if (directory)
        i->path[length++] = '/';
    i->path[length] = '\0';
    if (dir_->last)
        dir_->last->next = i;
    else
        dir_->first = i;
    dir_->last = i;
    ++dir_->count;
    return FS_OCL_OK;
}

int checker::file_object(int root, const char *mount_dir, const fs_ocl_file *f, uint32_t *flags)
{
    const fs_ocl_object &o = f->object;
    ic_util::unique_fd parent;
    const char *name;
    struct stat st;
    const int rc = lookup_file(root, mount_dir, o.path, parent, &name, &st);
    if (rc == FS_OCL_ERR_IO || rc == FS_OCL_ERR_NOMEM)
        return rc;
    if (rc != FS_OCL_OK) {
        *flags = FS_OCL_FILE_MISSING;
        return FS_OCL_OK;
    }
    const stored_file s{(o.flags & FS_OCL_CONTROL_DATA) ? f->hash : nullptr,
                        (o.flags & FS_OCL_CONTROL_ATTRS) ? &f->attrs : nullptr, o.form};
    return compare_file(parent.get(), name, &st, false, s, w.block, w.path.str, flags);
}

// Every file that matches the masks in and below the new directory open at
// fd: the files of its subdirectories first.
int checker::report_new(int fd)
{
    level lv;
    int rc = scan_level(w, fd, lv);
    for (size_t i = 0; rc == FS_OCL_OK && i < lv.dirs.size(); ++i) {
        size_t mark;
        ic_util::unique_fd sub;
        rc = w.enter(fd, lv.name(lv.dirs[i]), lv.dirs[i].length, &mark, sub);
        if (rc == FS_OCL_OK)
            rc = report_new(sub.get());
        else if (rc == GONE) // gone again
            rc = FS_OCL_OK;
        w.pop(mark);
    }
    for (size_t i = 0; rc == FS_OCL_OK && i < lv.files.size(); ++i) {
        size_t mark;
        if ((rc = w.push(lv.name(lv.files[i]), lv.files[i].length, &mark)) != FS_OCL_OK)
            break;
        rc = item(false, FS_OCL_NEW_FILE);
        w.pop(mark);
    }
    return rc;
}

// Merges a stored listing with the directory open at fd, both sorted.
int checker::compare_listing(int fd, const fs_ocl_dir_info &stored, const fs_ocl_dir_attrs *attrs)
{
    int rc;
    const uint16_t want = w.flags;
    if (attrs) {
        struct stat st;
        if (fstat(fd, &st) != 0)
            return FS_OCL_ERR_IO;
        const fs_ocl_dir_attrs now = dir_attrs_of(st);
        uint32_t flags = 0;
        if (now.mode != attrs->mode)
            flags |= FS_OCL_DIR_MODE_CHANGED;
        if (now.uid != attrs->uid)
            flags |= FS_OCL_DIR_UID_CHANGED;
        if (now.gid != attrs->gid)
            flags |= FS_OCL_DIR_GID_CHANGED;
        if (flags && (rc = item(true, flags)) != FS_OCL_OK)
            return rc;
    }
    level lv;
    if ((rc = scan_level(w, fd, lv)) != FS_OCL_OK)
        return rc;

    if (want & FS_OCL_RECURSIVE) {
        const size_t ns = size_t(stored.dir_count), nc = lv.dirs.size();
        for (size_t i = 0, j = 0; rc == FS_OCL_OK && (i < ns || j < nc);) {
            const char *s = i < ns ? stored.dir_names[i] : nullptr;
            const char *c = j < nc ? lv.name(lv.dirs[j]) : nullptr;
            const int order = !s ? 1 : !c ? -1 : std::strcmp(s, c);
            const char *name = order > 0 ? c : s;
            size_t mark;
            ic_util::unique_fd sub;
            if (order < 0) {
                if ((rc = w.push(name, std::strlen(name), &mark)) == FS_OCL_OK)
                    rc = item(true, FS_OCL_DIR_MISSING);
            } else {
                rc = w.enter(fd, name, std::strlen(name), &mark, sub);
                if (rc == GONE) // since the scan
                    rc = order > 0 ? FS_OCL_OK : item(true, FS_OCL_DIR_MISSING);
                else if (rc == FS_OCL_OK)
                    rc = order > 0 ? report_new(sub.get())
                                   : compare_listing(sub.get(), stored.dirs[i], attrs ? &stored.dir_attrs[i] : nullptr);
            }
            w.pop(mark);
            i += order <= 0;
            j += order >= 0;
        }
    }

    const size_t ns = size_t(stored.file_count), nc = lv.files.size();
    for (size_t i = 0, j = 0; rc == FS_OCL_OK && (i < ns || j < nc);) {
        const char *s = i < ns ? stored.file_names[i] : nullptr;
        const char *c = j < nc ? lv.name(lv.files[j]) : nullptr;
        const int order = !s ? 1 : !c ? -1 : std::strcmp(s, c);
        const char *name = order > 0 ? c : s;
        size_t mark;
        if ((rc = w.push(name, std::strlen(name), &mark)) != FS_OCL_OK)
            break;
        uint32_t flags = order < 0 ? FS_OCL_FILE_MISSING : FS_OCL_NEW_FILE;
        if (order == 0) {
            const stored_file s{(want & FS_OCL_CONTROL_DATA) ? stored.file_hashes[i] : nullptr,
                                (want & FS_OCL_CONTROL_ATTRS) ? &stored.file_attrs[i] : nullptr, w.form};
            rc = compare_file(fd, name, nullptr, lv.files[j].link, s, w.block, w.path.str, &flags);
        }
        if (rc == FS_OCL_OK && flags)
            rc = item(false, flags);
        w.pop(mark);
        i += order <= 0;
        j += order >= 0;
    }
    return rc;
}

int checker::dir_object(int root, const char *mount_dir, const fs_ocl_dir *d)
{
    const char *path = d->object.path;
    const uint16_t want = d->object.flags;
    int rc = w.init(mount_dir, &d->object, d->masks, true);
    if (rc != FS_OCL_OK)
        return rc;
    ic_util::unique_fd target, fd;
    struct stat st;
    rc = lookup(root, mount_dir, path, target, &st);
    if (rc == FS_OCL_ERR_IO || rc == FS_OCL_ERR_NOMEM)
        return rc;
    if (rc != FS_OCL_OK || !S_ISDIR(st.st_mode))
        return item(true, FS_OCL_DIR_MISSING);
    fd.reset(open_dir_at(target.get(), "."));
    if (!fd.valid())
        return errno == ENOENT ? item(true, FS_OCL_DIR_MISSING) : FS_OCL_ERR_IO;
    if (want & FS_OCL_EACH_FILE)
        return compare_listing(fd.get(), d->info, (want & FS_OCL_CONTROL_ATTRS) ? &d->attrs : nullptr);
    uint8_t digest[FS_OCL_HASH_SIZE];
    rc = dir_hash(w, fd.get(), st, digest);
    if (rc > 0)
        return rc;
    if (rc < 0 || std::memcmp(digest, d->hash, FS_OCL_HASH_SIZE) != 0) {
        _fs_str_buf_truncate(&w.path, w.base);
        return item(true, FS_OCL_DIR_HASH_CHANGED);
    }
    return FS_OCL_OK;
}

const char *result_path(const rb_node *node)
{
    return rb_entry(const_cast<rb_node *>(node), fs_ocl_check_object, node)->object->path;
}

bool insert_result(fs_ocl_check_info *info, check_ptr &result)
{
    if (link_by_path(&info->root, &result->node, result_path)) {
        IC_LOG(ic_log_fs_ocl, IC_LOG_FATAL, "Internal error!\n");
        return false;
    }
    result.release();
    ++info->count;
    return true;
}

int checker::object(int root, const char *mount_dir, const fs_ocl_object *o, fs_ocl_check_info *info)
{
    OCL_ENTER();
    const bool debug = ic_log_enabled(&ic_log_fs_ocl, IC_LOG_DEBUG);
    check_ptr result;
    int rc;
    if (o->type == FS_OCL_TYPE_FILE) {
        if (debug)
            IC_LOG(ic_log_fs_ocl, IC_LOG_DEBUG, "file: %s%s\n", mount_dir, o->path);
        auto *f = static_cast<fs_ocl_check_file *>(std::calloc(1, sizeof(fs_ocl_check_file)));
        if (!f)
            OCL_RETURN(FS_OCL_ERR_NOMEM);
        result.reset(&f->head);
        f->head.variant = FS_OCL_CHECK_FILE;
        f->head.object = o;
        if ((rc = w.init(mount_dir, o, nullptr, true)) != FS_OCL_OK ||
            (rc = file_object(root, mount_dir, reinterpret_cast<const fs_ocl_file *>(o), &f->flags)) != FS_OCL_OK)
            OCL_RETURN(rc);
        if (!f->flags)
            OCL_RETURN(FS_OCL_OK);
    } else if (o->type == FS_OCL_TYPE_DIR) {
        if (debug)
            IC_LOG(ic_log_fs_ocl, IC_LOG_DEBUG, " dir: %s%s\n", mount_dir, o->path);
        auto *d = static_cast<fs_ocl_check_dir *>(std::calloc(1, sizeof(fs_ocl_check_dir)));
        if (!d)
            OCL_RETURN(FS_OCL_ERR_NOMEM);
        result.reset(&d->head);
        d->head.variant = FS_OCL_CHECK_DIR;
        d->head.object = o;
        dir_ = d;
        rc = dir_object(root, mount_dir, reinterpret_cast<const fs_ocl_dir *>(o));
        dir_ = nullptr;
        if (rc != FS_OCL_OK)
            OCL_RETURN(rc);
        if (!d->count)
            OCL_RETURN(FS_OCL_OK);
    } else {
        IC_LOG(ic_log_fs_ocl, IC_LOG_FATAL, "Internal error!\n");
        OCL_RETURN(FS_OCL_ERR_IO);
    }
    OCL_RETURN(insert_result(info, result) ? FS_OCL_OK : FS_OCL_ERR_IO);
}

int check_info_create(const fs_ocl *ocl, const char *mount_dir, fs_ocl_check_info **check)
{
    if (!ocl || !mount_dir || !check)
        return FS_OCL_ERR_INVAL;
    ic_util::unique_fd root;
    int rc = open_root(mount_dir, root);
    if (rc != FS_OCL_OK)
        return rc;
    auto *info = static_cast<fs_ocl_check_info *>(std::calloc(1, sizeof(fs_ocl_check_info)));
    if (!info)
        return FS_OCL_ERR_NOMEM;
    std::unique_ptr<fs_ocl_check_info, void (*)(fs_ocl_check_info *)> guard(info, fs_ocl_check_info_destroy);
    checker c;
    for (const fs_ocl_object *o = fs_ocl_first_object(ocl); o; o = fs_ocl_next_object(ocl, o))
        if ((rc = c.object(root.get(), mount_dir, o, info)) != FS_OCL_OK)
            return rc;
    *check = guard.release();
    return FS_OCL_OK;
}

} // namespace
} // namespace ocl

int fs_ocl_check_info_create(const fs_ocl *ocl, const char *mount_dir, fs_ocl_check_info **check)
{
    OCL_ENTER();
    try {
        OCL_RETURN(ocl::check_info_create(ocl, mount_dir, check));
    } catch (const std::bad_alloc &) {
        OCL_RETURN(FS_OCL_ERR_NOMEM);
    }
}

void fs_ocl_check_info_destroy(fs_ocl_check_info *check)
{
    if (!check)
        return;
    ocl::destroy_tree(&check->root, [](rb_node *n) {
        ocl::check_object_destroy(rb_entry(n, fs_ocl_check_object, node));
    });
    std::free(check);
}

fs_ocl_check_object *fs_ocl_check_find_object(const fs_ocl_check_info *check, const char *path)
{
    rb_node *n = check ? ocl::find_by_path(&check->root, path, ocl::result_path) : nullptr;
    return n ? rb_entry(n, fs_ocl_check_object, node) : nullptr;
}

fs_ocl_check_object *fs_ocl_check_first_object(const fs_ocl_check_info *check)
{
    rb_node *n = check ? rb_first(&check->root) : nullptr;
    return n ? rb_entry(n, fs_ocl_check_object, node) : nullptr;
}

fs_ocl_check_object *fs_ocl_check_next_object(const fs_ocl_check_info *, const fs_ocl_check_object *object)
{
    rb_node *n = object ? rb_next(&object->node) : nullptr;
    return n ? rb_entry(n, fs_ocl_check_object, node) : nullptr;
}

fs_ocl_check_dir_item *fs_ocl_check_first_dir_item(const fs_ocl_check_object *object)
{
    if (!object || object->variant != FS_OCL_CHECK_DIR)
        return nullptr;
    return reinterpret_cast<const fs_ocl_check_dir *>(object)->first;
}

fs_ocl_check_dir_item *fs_ocl_check_next_dir_item(const fs_ocl_check_dir_item *item)
{
    return item ? item->next : nullptr;
}
