// Walking a volume: object lookup below the mount directory, directory
// levels read with getdents64 into the walker's block buffer, streaming
// content hashes and the directory hash.
#include "ocl_internal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

namespace ocl {
namespace {

bool matches(const char *const *masks, const char *name)
{
    if (!masks)
        return true;
    for (; *masks; ++masks)
        if (fnmatch(*masks, name, 0) == 0)
            return true;
    return false;
}

// Errors of open/readlink/fstatat that mean the entry is no longer there
// in the expected form.
bool gone_errno(int err)
{
    return err == ENOENT || err == ENOTDIR || err == ELOOP || err == EISDIR || err == EINVAL ||
           err == ENXIO;
}

// Errors that are the system's, not the file's.
bool system_errno(int err)
{
    return err == EMFILE || err == ENFILE || err == ENOMEM;
}

} // namespace

walker::~walker()
{
    _fs_str_buf_free(&path);
    std::free(block);
}

int walker::init(const char *mount_dir, const fs_ocl_object *object, const char *const *m, bool c)
{
    masks = m;
    run = std::make_shared<object_run>();
    flags = object->flags;
    form = object->form;
    check = c;
    if (!block && !(block = static_cast<uint8_t *>(std::malloc(FS_OCL_BLOCK_SIZE))))
        return FS_OCL_ERR_NOMEM;
    if (!path.str && _fs_str_buf_init(&path, nullptr) != IC_OK)
        return FS_OCL_ERR_NOMEM;
    _fs_str_buf_truncate(&path, 0);
    if (_fs_str_buf_append(&path, mount_dir, object->path, nullptr) != IC_OK)
        return FS_OCL_ERR_NOMEM;
    const size_t mount_length = std::strlen(mount_dir);
    size_t n = path.length;
    while (n > mount_length && path.str[n - 1] == '/')
        --n;
    _fs_str_buf_truncate(&path, n);
    base = n;
    return FS_OCL_OK;
}

int walker::push(const char *name, size_t length, size_t *mark)
{
    *mark = path.length;
    if (path.length + 1 + length >= PATH_MAX) {
        IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "name too long: '%s/%s'\n", path.str, name);
        return FS_OCL_ERR_NAME_TOO_LONG;
    }
    return _fs_str_buf_append(&path, "/", name, nullptr) == IC_OK ? FS_OCL_OK : FS_OCL_ERR_NOMEM;
}

int walker::enter(int dirfd, const char *name, size_t length, size_t *mark, ic_util::unique_fd &sub)
{
    const int rc = push(name, length, mark);
    if (rc != FS_OCL_OK)
        return rc;
    sub.reset(open_dir_at(dirfd, name));
    if (sub.valid())
        return FS_OCL_OK;
    return gone_errno(errno) ? GONE : FS_OCL_ERR_IO;
}

int walker::end(int rc)
{
    const int failed = pool->finish();
    if (failed != FS_OCL_OK)
        return failed;
    if (run->status == FS_OCL_OK)
        run->status = rc;
    return ENDED;
}

int walker::queue(hash_pool::step_fn step)
{
    return pool->then([r = run, step = std::move(step)]() -> int { return r->status == FS_OCL_OK ? step() : FS_OCL_OK; });
}

int stat_file(int dirfd, const char *name, struct stat *st)
{
    if (fstatat(dirfd, name, st, AT_SYMLINK_NOFOLLOW) != 0)
        return gone_errno(errno) ? GONE : FS_OCL_ERR_IO;
    return S_ISREG(st->st_mode) || S_ISLNK(st->st_mode) ? FS_OCL_OK : GONE;
}

namespace {

void feed(gost_r3411_94_ctx *ctx, uint64_t v, unsigned bytes)
{
    uint8_t le[8];
    for (unsigned i = 0; i < bytes; ++i)
        le[i] = uint8_t(v >> (8 * i));
    gost_r3411_94_update(ctx, le, bytes);
}

void feed_dir_attrs(gost_r3411_94_ctx *ctx, const fs_ocl_dir_attrs &a)
{
    feed(ctx, a.mode, 4);
    feed(ctx, a.uid, 2);
    feed(ctx, a.gid, 2);
}

// Kinds of entries as form 2 feeds them before their names.
enum : uint8_t { KIND_DIR = 1, KIND_FILE = 2, KIND_LINK = 3 };

// An entry's name: form 1 feeds the bytes alone, form 2 the kind and the
// length first, so that no two sequences of entries feed the same bytes.
void feed_name(gost_r3411_94_ctx *ctx, uint16_t form, uint8_t kind, const char *name, size_t length)
{
    if (form != FS_OCL_FORM_1) {
        feed(ctx, kind, 1);
        feed(ctx, length, 2);
    }
    gost_r3411_94_update(ctx, name, length);
}

void feed_file_attrs(gost_r3411_94_ctx *ctx, uint16_t form, const fs_ocl_file_attrs &a, uint64_t size)
{
    feed(ctx, a.mode, 4);
    feed(ctx, a.uid, 2);
    feed(ctx, a.gid, 2);
    feed(ctx, size, form == FS_OCL_FORM_1 ? 4 : 8);
    feed(ctx, a.mtime, 4);
}

// One directory level's inner hash, fed by the steps of its entries.
struct level_hash {
    gost_r3411_94_ctx ctx;
    level_hash() { gost_r3411_94_init(&ctx, GOST_R3411_94_PARAMS_CRYPTOPRO); }
};
using level_hash_ptr = std::shared_ptr<level_hash>;

// Queues the feeding of the directory open at fd into h; *empty when no
// file and no non-empty subdirectory takes part (known from the walk).
int inner_hash(walker &w, int fd, const level_hash_ptr &h, bool *empty)
{
    level lv;
    int rc = scan_level(w, fd, lv);
    if (rc != FS_OCL_OK)
        return w.end(rc);
    const bool attrs = w.flags & FS_OCL_CONTROL_ATTRS;
    const uint16_t form = w.form;
    // In a check a vanished or unreadable entry changes the hash; in an
    // add it is an error.
    const auto gone = [&w](int outcome) { return w.check ? outcome : FS_OCL_ERR_IO; };
    *empty = true;
    for (const level::entry &e : lv.dirs) {
        if (w.ended())
            return ENDED;
        const char *name = lv.name(e);
        size_t mark;
        ic_util::unique_fd sub;
        if ((rc = w.enter(fd, name, e.length, &mark, sub)) != FS_OCL_OK)
            return w.end(rc == GONE ? gone(rc) : rc);
        const level_hash_ptr sub_hash = std::make_shared<level_hash>();
        bool sub_empty;
        if ((rc = inner_hash(w, sub.get(), sub_hash, &sub_empty)) != FS_OCL_OK)
            return rc;
        if (!sub_empty) {
            fs_ocl_dir_attrs a{};
            if (attrs) {
                struct stat st;
                if (fstat(sub.get(), &st) != 0)
                    return w.end(FS_OCL_ERR_IO);
                a = dir_attrs_of(st);
            }
            rc = w.queue([h, sub_hash, n = std::string(name, e.length), a, attrs, form] {
                uint8_t sub_digest[FS_OCL_HASH_SIZE];
                gost_r3411_94_final(&sub_hash->ctx, sub_digest);
                feed_name(&h->ctx, form, KIND_DIR, n.data(), n.size());
                gost_r3411_94_update(&h->ctx, sub_digest, sizeof sub_digest);
                if (attrs)
                    feed_dir_attrs(&h->ctx, a);
                return FS_OCL_OK;
            });
            if (rc != FS_OCL_OK)
                return rc;
            *empty = false;
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
        bool link = e.link;
        fs_ocl_file_attrs a{};
        uint64_t size = 0;
        if (attrs) {
            struct stat st;
            if ((rc = stat_file(fd, name, &st)) != FS_OCL_OK)
                return w.end(rc == GONE ? gone(rc) : rc);
            link = S_ISLNK(st.st_mode);
            a = file_attrs_of(st);
            size = uint64_t(st.st_size);
        }
        // The entry's name, its content hash, its attributes.
        const auto feed_entry = [h, n = std::string(name, e.length), kind = link ? KIND_LINK : KIND_FILE, a, size,
                                 attrs, form](const uint8_t *digest) -> int {
            feed_name(&h->ctx, form, kind, n.data(), n.size());
            if (digest)
                gost_r3411_94_update(&h->ctx, digest, FS_OCL_HASH_SIZE);
            if (attrs)
                feed_file_attrs(&h->ctx, form, a, size);
            return FS_OCL_OK;
        };
        if (w.flags & FS_OCL_CONTROL_DATA)
            rc = w.hash(fd, name, link, [run = w.run, feed_entry, check = w.check](const content &c) -> int {
                if (c.status != FS_OCL_OK) {
                    run->status = check ? c.status : FS_OCL_ERR_IO;
                    return FS_OCL_OK;
                }
                return feed_entry(c.digest);
            });
        else
            rc = w.queue([feed_entry] { return feed_entry(nullptr); });
        if (rc != FS_OCL_OK)
            return rc;
        *empty = false;
        w.pop(mark);
    }
    return FS_OCL_OK;
}

// The directory-entry type of name in dirfd when getdents64 did not say.
int entry_type(walker &w, int dirfd, const char *name, unsigned char *type)
{
    struct stat st;
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        *type = IFTODT(st.st_mode);
        return FS_OCL_OK;
    }
    const int err = errno;
    if (w.check && err == ENOENT) {
        *type = DT_UNKNOWN; // vanished: not there any more
        return FS_OCL_OK;
    }
    if (err == ELOOP) {
        IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "loop path: '%s/%s'\n", w.path.str, name);
        return FS_OCL_ERR_LOOP;
    }
    return err == ENAMETOOLONG ? FS_OCL_ERR_NAME_TOO_LONG : FS_OCL_ERR_IO;
}

} // namespace

int open_dir_at(int dirfd, const char *name)
{
    return openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

int scan_level(walker &w, int fd, level &lv)
{
    const bool recursive = w.flags & FS_OCL_RECURSIVE;
    for (;;) {
        const ssize_t n = getdents64(fd, w.block, FS_OCL_BLOCK_SIZE);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "getdents64 '%s': %s\n", w.path.str, std::strerror(errno));
            return FS_OCL_ERR_IO;
        }
        for (ssize_t off = 0; off < n;) {
            const dirent64 *d = reinterpret_cast<const dirent64 *>(w.block + off);
            off += d->d_reclen;
            const char *name = d->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            unsigned char type = d->d_type;
            if (type == DT_UNKNOWN) {
                const int rc = entry_type(w, fd, name, &type);
                if (rc != FS_OCL_OK)
                    return rc;
            }
            std::vector<level::entry> *list;
            if (type == DT_DIR && recursive)
                list = &lv.dirs;
            else if ((type == DT_REG || type == DT_LNK) && matches(w.masks, name))
                list = &lv.files;
            else
                continue;
            const size_t length = std::strlen(name);
            list->push_back({lv.pool.size(), length, type == DT_LNK});
            lv.pool.append(name, length + 1);
        }
    }
    const char *pool = lv.pool.data();
    auto by_name = [pool](const level::entry &a, const level::entry &b) {
        return std::strcmp(pool + a.name, pool + b.name) < 0;
    };
    std::sort(lv.dirs.begin(), lv.dirs.end(), by_name);
    std::sort(lv.files.begin(), lv.files.end(), by_name);
    return FS_OCL_OK;
}

namespace {

int open_failure(int err)
{
    return gone_errno(err) ? GONE : system_errno(err) ? FS_OCL_ERR_IO : UNREADABLE;
}

} // namespace

int walker::hash(int dirfd, const char *name, bool link, hash_pool::then_fn then)
{
    // Steps of an object that has ended do not run.
    hash_pool::then_fn step = [r = run, then = std::move(then)](const content &c) -> int {
        return r->status == FS_OCL_OK ? then(c) : FS_OCL_OK;
    };
    content c;
    if (link) {
        const ssize_t n = readlinkat(dirfd, name, reinterpret_cast<char *>(block), FS_OCL_BLOCK_SIZE);
        if (n < 0)
            c.status = open_failure(errno);
        else
            gost_r3411_94_digest(GOST_R3411_94_PARAMS_CRYPTOPRO, block, size_t(n), c.digest);
    } else {
        ic_util::unique_fd fd(openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (!fd.valid())
            c.status = open_failure(errno);
        else if (fstat(fd.get(), &st) != 0)
            c.status = UNREADABLE;
        else if (!S_ISREG(st.st_mode))
            c.status = GONE;
        else
            return pool->hash(std::move(fd), uint64_t(st.st_size), path.str, std::move(step));
    }
    if (c.status > 0)
        return end(c.status);
    return pool->done(c, std::move(step));
}

int dir_hash(walker &w, int fd, const struct stat &st, std::function<int(const uint8_t *digest)> done)
{
    const level_hash_ptr top = std::make_shared<level_hash>();
    bool empty;
    const int rc = inner_hash(w, fd, top, &empty);
    if (rc != FS_OCL_OK)
        return rc;
    return w.queue([top, a = dir_attrs_of(st), attrs = bool(w.flags & FS_OCL_CONTROL_ATTRS), done = std::move(done)] {
        uint8_t inner[FS_OCL_HASH_SIZE], digest[FS_OCL_HASH_SIZE];
        gost_r3411_94_final(&top->ctx, inner);
        gost_r3411_94_ctx ctx;
        gost_r3411_94_init(&ctx, GOST_R3411_94_PARAMS_CRYPTOPRO);
        gost_r3411_94_update(&ctx, inner, sizeof inner);
        if (attrs)
            feed_dir_attrs(&ctx, a);
        gost_r3411_94_final(&ctx, digest);
        return done(digest);
    });
}

int open_root(const char *mount_dir, ic_util::unique_fd &root)
{
    root.reset(open(mount_dir, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (root.valid())
        return FS_OCL_OK;
    IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "open '%s': %s\n", mount_dir, std::strerror(errno));
    return FS_OCL_ERR_IO;
}

int lookup_code(int err, const char *mount_dir, const char *path)
{
    if (err == ELOOP) {
        IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "loop path: '%s%s'\n", mount_dir, path);
        return FS_OCL_ERR_LOOP;
    }
    if (err == ENAMETOOLONG)
        return FS_OCL_ERR_NAME_TOO_LONG;
    if (system_errno(err))
        return FS_OCL_ERR_IO;
    return FS_OCL_ERR_MISSING;
}

int lookup(int root, const char *mount_dir, const char *path, ic_util::unique_fd &object, struct stat *st)
{
    const int err = ic_fs::open_in_volume(root, path, O_PATH | O_NOFOLLOW, object);
    if (err)
        return lookup_code(err, mount_dir, path);
    return fstat(object.get(), st) == 0 ? FS_OCL_OK : FS_OCL_ERR_IO;
}

int lookup_file(int root, const char *mount_dir, const char *path, ic_util::unique_fd &parent, const char **name,
                struct stat *st)
{
    const char *slash = std::strrchr(path, '/');
    const char *last = slash ? slash + 1 : path;
    if (!*last || std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0)
        return FS_OCL_ERR_MISSING;
    const std::string dir(path, size_t(last - path));
    int err = ic_fs::open_in_volume(root, dir.c_str(), O_PATH | O_DIRECTORY, parent);
    if (!err && fstatat(parent.get(), last, st, AT_SYMLINK_NOFOLLOW) != 0)
        err = errno;
    if (err)
        return lookup_code(err, mount_dir, path);
    *name = last;
    return S_ISREG(st->st_mode) || S_ISLNK(st->st_mode) ? FS_OCL_OK : FS_OCL_ERR_MISSING;
}

int check_path(const char *mount_dir, const char *path)
{
    if (!mount_dir || !path || path[0] != '/')
        return FS_OCL_ERR_INVAL;
    const size_t n = std::strlen(path);
    if (n > UINT16_MAX || std::strlen(mount_dir) + n >= PATH_MAX)
        return FS_OCL_ERR_NAME_TOO_LONG;
    return FS_OCL_OK;
}

} // namespace ocl
