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

// The result of one object, built by the steps of its walk and taken into
// the check info by its last step when it holds a difference.
struct pending {
    check_ptr result;
    bool hashed = false; // a directory hash was computed, into digest
    uint8_t digest[FS_OCL_HASH_SIZE];

    fs_ocl_check_file *file() { return reinterpret_cast<fs_ocl_check_file *>(result.get()); }
    fs_ocl_check_dir *dir() { return reinterpret_cast<fs_ocl_check_dir *>(result.get()); }
};
using pending_ptr = std::shared_ptr<pending>;

// Appends an item for rel (with a trailing "/" for a directory).
int append_item(fs_ocl_check_dir *dir, const std::string &rel, bool directory, uint32_t flags)
{
    size_t length = rel.size();
    auto *i = static_cast<fs_ocl_check_dir_item *>(std::malloc(sizeof(fs_ocl_check_dir_item) + length + 2));
    if (!i)
        return FS_OCL_ERR_NOMEM;
    i->next = nullptr;
    i->flags = flags;
    i->path = reinterpret_cast<char *>(i + 1);
    std::memcpy(i->path, rel.data(), length);
    if (directory)
        i->path[length++] = '/';
    i->path[length] = '\0';
    if (dir->last)
        dir->last->next = i;
    else
        dir->first = i;
    dir->last = i;
    ++dir->count;
    return FS_OCL_OK;
}

class checker {
public:
    walker w;

    // Queues the check of one object; its last step puts a difference into
    // info.
    int object(int root, const char *mount_dir, const fs_ocl_object *o, fs_ocl_check_info *info);

private:
    pending_ptr p_; // of the object being checked

    using flags_fn = std::function<int(uint32_t)>;
    // Compares the file entry name of dirfd, not followed, with what was
    // stored; st is its lstat result when taken already (link then follows
    // from it), else link says what the scan saw.  A file whose size is
    // known to differ is not read.  done gets the result flags in its turn
    // (FS_OCL_FILE_MISSING when it is no longer a regular file or a link).
    int compare_file(int dirfd, const char *name, const struct stat *st, bool link, const stored_file &s,
                     flags_fn done);
    int file_object(int root, const char *mount_dir, const fs_ocl_file *f);
    int dir_object(int root, const char *mount_dir, const fs_ocl_dir *d);
    int compare_listing(int fd, const fs_ocl_dir_info &stored, const fs_ocl_dir_attrs *attrs);
    int report_new(int fd);
    // Queues an item for the current path.
    int item(bool directory, uint32_t flags);
};

int checker::item(bool directory, uint32_t flags)
{
    return w.queue([p = p_, rel = std::string(w.relative()), directory, flags] {
        return append_item(p->dir(), rel, directory, flags);
    });
}

int checker::compare_file(int dirfd, const char *name, const struct stat *st, bool link, const stored_file &s,
                          flags_fn done)
{
    struct stat own;
    if (!st && s.attrs) {
        const int rc = stat_file(dirfd, name, &own);
        if (rc == GONE)
            return w.queue([done] { return done(FS_OCL_FILE_MISSING); });
        if (rc != FS_OCL_OK)
            return w.end(rc);
        st = &own;
    }
    if (st)
        link = S_ISLNK(st->st_mode);
    const uint32_t flags = s.attrs ? attr_flags(*s.attrs, s.form, *st) : 0;
    if (!s.hash || (flags & FS_OCL_SIZE_CHANGED))
        return w.queue([done, flags = s.hash ? flags | FS_OCL_DATA_CHANGED : flags] { return done(flags); });
    return w.hash(dirfd, name, link, [done, flags, hash = s.hash](const content &c) -> int {
        if (c.status == GONE)
            return done(FS_OCL_FILE_MISSING);
        if (c.status == UNREADABLE || std::memcmp(c.digest, hash, FS_OCL_HASH_SIZE) != 0)
            return done(flags | FS_OCL_DATA_CHANGED);
        return done(flags);
    });
}

int checker::file_object(int root, const char *mount_dir, const fs_ocl_file *f)
{
    const fs_ocl_object &o = f->object;
    ic_util::unique_fd parent;
    const char *name;
    struct stat st;
    const int rc = lookup_file(root, mount_dir, o.path, parent, &name, &st);
    const auto set = [p = p_](uint32_t flags) -> int {
        p->file()->flags = flags;
        return FS_OCL_OK;
    };
    if (rc == FS_OCL_ERR_IO || rc == FS_OCL_ERR_NOMEM)
        return w.end(rc);
    if (rc != FS_OCL_OK)
        return w.queue([set] { return set(FS_OCL_FILE_MISSING); });
    const stored_file s{(o.flags & FS_OCL_CONTROL_DATA) ? f->hash : nullptr,
                        (o.flags & FS_OCL_CONTROL_ATTRS) ? &f->attrs : nullptr, o.form};
    return compare_file(parent.get(), name, &st, false, s, set);
}

// Every file that matches the masks in and below the new directory open at
// fd: the files of its subdirectories first.
int checker::report_new(int fd)
{
    level lv;
    int rc = scan_level(w, fd, lv);
    if (rc != FS_OCL_OK)
        return w.end(rc);
    for (const level::entry &e : lv.dirs) {
        size_t mark;
        ic_util::unique_fd sub;
        rc = w.enter(fd, lv.name(e), e.length, &mark, sub);
        if (rc == FS_OCL_OK)
            rc = report_new(sub.get());
        else if (rc == GONE) // gone again
            rc = FS_OCL_OK;
        else
            rc = w.end(rc);
        if (rc != FS_OCL_OK)
            return rc;
        w.pop(mark);
    }
    for (const level::entry &e : lv.files) {
        size_t mark;
        if ((rc = w.push(lv.name(e), e.length, &mark)) != FS_OCL_OK)
            return w.end(rc);
        if ((rc = item(false, FS_OCL_NEW_FILE)) != FS_OCL_OK)
            return rc;
        w.pop(mark);
    }
    return FS_OCL_OK;
}

// Merges a stored listing with the directory open at fd, both sorted.
int checker::compare_listing(int fd, const fs_ocl_dir_info &stored, const fs_ocl_dir_attrs *attrs)
{
    int rc;
    const uint16_t want = w.flags;
    if (attrs) {
        struct stat st;
        if (fstat(fd, &st) != 0)
            return w.end(FS_OCL_ERR_IO);
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
        return w.end(rc);

    if (want & FS_OCL_RECURSIVE) {
        const size_t ns = size_t(stored.dir_count), nc = lv.dirs.size();
        for (size_t i = 0, j = 0; i < ns || j < nc;) {
            if (w.ended())
                return ENDED;
            const char *s = i < ns ? stored.dir_names[i] : nullptr;
            const char *c = j < nc ? lv.name(lv.dirs[j]) : nullptr;
            const int order = !s ? 1 : !c ? -1 : std::strcmp(s, c);
            const char *name = order > 0 ? c : s;
            size_t mark;
            ic_util::unique_fd sub;
            if (order < 0) {
                if ((rc = w.push(name, std::strlen(name), &mark)) != FS_OCL_OK)
                    return w.end(rc);
                rc = item(true, FS_OCL_DIR_MISSING);
            } else {
                rc = w.enter(fd, name, std::strlen(name), &mark, sub);
                if (rc == GONE) // since the scan
                    rc = order > 0 ? FS_OCL_OK : item(true, FS_OCL_DIR_MISSING);
                else if (rc != FS_OCL_OK)
                    rc = w.end(rc);
                else
                    rc = order > 0 ? report_new(sub.get())
                                   : compare_listing(sub.get(), stored.dirs[i], attrs ? &stored.dir_attrs[i] : nullptr);
            }
            if (rc != FS_OCL_OK)
                return rc;
            w.pop(mark);
            i += order <= 0;
            j += order >= 0;
        }
    }

    const size_t ns = size_t(stored.file_count), nc = lv.files.size();
    for (size_t i = 0, j = 0; i < ns || j < nc;) {
        if (w.ended())
            return ENDED;
        const char *s = i < ns ? stored.file_names[i] : nullptr;
        const char *c = j < nc ? lv.name(lv.files[j]) : nullptr;
        const int order = !s ? 1 : !c ? -1 : std::strcmp(s, c);
        const char *name = order > 0 ? c : s;
        size_t mark;
        if ((rc = w.push(name, std::strlen(name), &mark)) != FS_OCL_OK)
            return w.end(rc);
        if (order != 0) {
            rc = item(false, order < 0 ? FS_OCL_FILE_MISSING : FS_OCL_NEW_FILE);
        } else {
            const stored_file sf{(want & FS_OCL_CONTROL_DATA) ? stored.file_hashes[i] : nullptr,
                                 (want & FS_OCL_CONTROL_ATTRS) ? &stored.file_attrs[i] : nullptr, w.form};
            rc = compare_file(fd, name, nullptr, lv.files[j].link, sf,
                              [p = p_, rel = std::string(w.relative())](uint32_t flags) -> int {
                                  return flags ? append_item(p->dir(), rel, false, flags) : FS_OCL_OK;
                              });
        }
        if (rc != FS_OCL_OK)
            return rc;
        w.pop(mark);
        i += order <= 0;
        j += order >= 0;
    }
    return FS_OCL_OK;
}

int checker::dir_object(int root, const char *mount_dir, const fs_ocl_dir *d)
{
    const char *path = d->object.path;
    const uint16_t want = d->object.flags;
    ic_util::unique_fd target, fd;
    struct stat st;
    int rc = lookup(root, mount_dir, path, target, &st);
    if (rc == FS_OCL_ERR_IO || rc == FS_OCL_ERR_NOMEM)
        return w.end(rc);
    if (rc != FS_OCL_OK || !S_ISDIR(st.st_mode))
        return item(true, FS_OCL_DIR_MISSING);
    fd.reset(open_dir_at(target.get(), "."));
    if (!fd.valid())
        return errno == ENOENT ? item(true, FS_OCL_DIR_MISSING) : w.end(FS_OCL_ERR_IO);
    if (want & FS_OCL_EACH_FILE)
        return compare_listing(fd.get(), d->info, (want & FS_OCL_CONTROL_ATTRS) ? &d->attrs : nullptr);
    return dir_hash(w, fd.get(), st, [p = p_](const uint8_t *digest) -> int {
        std::memcpy(p->digest, digest, FS_OCL_HASH_SIZE);
        p->hashed = true;
        return FS_OCL_OK;
    });
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
    p_ = std::make_shared<pending>();
    int rc;
    if (o->type == FS_OCL_TYPE_FILE) {
        if (debug)
            IC_LOG(ic_log_fs_ocl, IC_LOG_DEBUG, "file: %s%s\n", mount_dir, o->path);
        auto *f = static_cast<fs_ocl_check_file *>(std::calloc(1, sizeof(fs_ocl_check_file)));
        if (!f)
            OCL_RETURN(FS_OCL_ERR_NOMEM);
        p_->result.reset(&f->head);
        f->head.variant = FS_OCL_CHECK_FILE;
        f->head.object = o;
        if ((rc = w.init(mount_dir, o, nullptr, true)) == FS_OCL_OK)
            rc = file_object(root, mount_dir, reinterpret_cast<const fs_ocl_file *>(o));
    } else if (o->type == FS_OCL_TYPE_DIR) {
        if (debug)
            IC_LOG(ic_log_fs_ocl, IC_LOG_DEBUG, " dir: %s%s\n", mount_dir, o->path);
        auto *d = static_cast<fs_ocl_check_dir *>(std::calloc(1, sizeof(fs_ocl_check_dir)));
        if (!d)
            OCL_RETURN(FS_OCL_ERR_NOMEM);
        p_->result.reset(&d->head);
        d->head.variant = FS_OCL_CHECK_DIR;
        d->head.object = o;
        const fs_ocl_dir *stored = reinterpret_cast<const fs_ocl_dir *>(o);
        if ((rc = w.init(mount_dir, o, stored->masks, true)) == FS_OCL_OK)
            rc = dir_object(root, mount_dir, stored);
    } else {
        IC_LOG(ic_log_fs_ocl, IC_LOG_FATAL, "Internal error!\n");
        OCL_RETURN(FS_OCL_ERR_IO);
    }
    if (rc > 0)
        OCL_RETURN(rc);
    // The object's last step: its outcome, then its difference into info.
    // A directory hash that could not be computed differs.
    const uint8_t *stored_hash = o->type == FS_OCL_TYPE_DIR && !(o->flags & FS_OCL_EACH_FILE)
                                     ? reinterpret_cast<const fs_ocl_dir *>(o)->hash
                                     : nullptr;
    OCL_RETURN(w.pool->then([run = w.run, p = p_, info, stored_hash]() -> int {
        if (run->status > 0)
            return run->status;
        if (stored_hash && (run->status < 0 || (p->hashed && std::memcmp(p->digest, stored_hash, FS_OCL_HASH_SIZE))))
            if (const int rc = append_item(p->dir(), std::string(), true, FS_OCL_DIR_HASH_CHANGED); rc != FS_OCL_OK)
                return rc;
        const bool differs = p->result->variant == FS_OCL_CHECK_FILE ? p->file()->flags != 0 : p->dir()->count != 0;
        if (!differs)
            return FS_OCL_OK;
        return insert_result(info, p->result) ? FS_OCL_OK : FS_OCL_ERR_IO;
    }));
}

} // namespace

int check_info_create(const fs_ocl *ocl, const char *mount_dir, const progress &progress, fs_ocl_check_info **check)
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
    hash_pool pool;
    if ((rc = pool.start(hash_workers(), progress)) != FS_OCL_OK)
        return rc;
    checker c;
    c.w.pool = &pool;
    for (const fs_ocl_object *o = fs_ocl_first_object(ocl); o; o = fs_ocl_next_object(ocl, o))
        if ((rc = c.object(root.get(), mount_dir, o, info)) != FS_OCL_OK)
            return rc;
    if ((rc = pool.finish()) != FS_OCL_OK)
        return rc;
    *check = guard.release();
    return FS_OCL_OK;
}

} // namespace ocl

int fs_ocl_check_info_create(const fs_ocl *ocl, const char *mount_dir, fs_ocl_check_info **check)
{
    OCL_ENTER();
    try {
        OCL_RETURN(ocl::check_info_create(ocl, mount_dir, ocl::progress(), check));
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
