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
#include <linux/openat2.h>
#include <sys/syscall.h>
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

int walker::init(const char *mount_dir, const char *object_path, const char *const *m, uint16_t f, bool c)
{
    masks = m;
    flags = f;
    check = c;
    if (!block && !(block = static_cast<uint8_t *>(std::malloc(FS_OCL_BLOCK_SIZE))))
        return FS_OCL_ERR_NOMEM;
    if (!path.str && _fs_str_buf_init(&path, nullptr) != IC_OK)
        return FS_OCL_ERR_NOMEM;
    _fs_str_buf_truncate(&path, 0);
    if (_fs_str_buf_append(&path, mount_dir, object_path, nullptr) != IC_OK)
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

int stat_file(walker &w, int dirfd, const char *name, struct stat *st, bool *link)
{
    if (fstatat(dirfd, name, st, AT_SYMLINK_NOFOLLOW) != 0)
        return w.check && gone_errno(errno) ? GONE : FS_OCL_ERR_IO;
    if (!S_ISREG(st->st_mode) && !S_ISLNK(st->st_mode))
        return w.check ? GONE : FS_OCL_ERR_IO;
    *link = S_ISLNK(st->st_mode);
    return FS_OCL_OK;
}

namespace {

void feed(gost_r3411_94_ctx *ctx, uint32_t v, unsigned bytes)
{
    const uint8_t le[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    gost_r3411_94_update(ctx, le, bytes);
}

void feed_dir_attrs(gost_r3411_94_ctx *ctx, const fs_ocl_dir_attrs &a)
{
    feed(ctx, a.mode, 4);
    feed(ctx, a.uid, 2);
    feed(ctx, a.gid, 2);
}

// Inner hash of the directory open at fd; *empty when no file and no
// non-empty subdirectory took part.
int inner_hash(walker &w, int fd, uint8_t digest[FS_OCL_HASH_SIZE], bool *empty)
{
    level lv;
    int rc = scan_level(w, fd, lv);
    if (rc != FS_OCL_OK)
        return rc;
    gost_r3411_94_ctx ctx;
    gost_r3411_94_init(&ctx, GOST_R3411_94_PARAMS_CRYPTOPRO);
    const bool attrs = w.flags & FS_OCL_CONTROL_ATTRS;
    *empty = true;
    for (const level::entry &e : lv.dirs) {
        const char *name = lv.name(e);
        size_t mark;
        ic_util::unique_fd sub;
        if ((rc = w.enter(fd, name, e.length, &mark, sub)) != FS_OCL_OK)
            return rc == GONE && !w.check ? FS_OCL_ERR_IO : rc;
        uint8_t sub_digest[FS_OCL_HASH_SIZE];
        bool sub_empty;
        if ((rc = inner_hash(w, sub.get(), sub_digest, &sub_empty)) != FS_OCL_OK)
            return rc;
        if (!sub_empty) {
            gost_r3411_94_update(&ctx, name, e.length);
            gost_r3411_94_update(&ctx, sub_digest, sizeof sub_digest);
            if (attrs) {
                struct stat st;
                if (fstat(sub.get(), &st) != 0)
                    return FS_OCL_ERR_IO;
                feed_dir_attrs(&ctx, dir_attrs_of(st));
            }
            *empty = false;
        }
        w.pop(mark);
    }
    for (const level::entry &e : lv.files) {
        const char *name = lv.name(e);
        size_t mark;
        if ((rc = w.push(name, e.length, &mark)) != FS_OCL_OK)
            return rc;
        gost_r3411_94_update(&ctx, name, e.length);
        bool link = e.link;
        struct stat st;
        if (attrs && (rc = stat_file(w, fd, name, &st, &link)) != FS_OCL_OK)
            return rc;
        if (w.flags & FS_OCL_CONTROL_DATA) {
            uint8_t file_digest[FS_OCL_HASH_SIZE];
            rc = hash_entry(w, fd, name, link, file_digest);
            if (rc != FS_OCL_OK)
                return rc < 0 && !w.check ? FS_OCL_ERR_IO : rc;
            gost_r3411_94_update(&ctx, file_digest, sizeof file_digest);
        }
        if (attrs) {
            const fs_ocl_file_attrs a = file_attrs_of(st);
            feed(&ctx, a.mode, 4);
            feed(&ctx, a.uid, 2);
            feed(&ctx, a.gid, 2);
            feed(&ctx, a.size, 4);
            feed(&ctx, a.mtime, 4);
        }
        *empty = false;
        w.pop(mark);
    }
    gost_r3411_94_final(&ctx, digest);
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
    return openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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

int hash_fd(walker &w, int fd, uint8_t digest[FS_OCL_HASH_SIZE])
{
    gost_r3411_94_ctx ctx;
    gost_r3411_94_init(&ctx, GOST_R3411_94_PARAMS_CRYPTOPRO);
    for (;;) {
        const ssize_t n = read(fd, w.block, FS_OCL_BLOCK_SIZE);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "read '%s': %s\n", w.path.str, std::strerror(errno));
            return UNREADABLE;
        }
        gost_r3411_94_update(&ctx, w.block, size_t(n));
    }
    gost_r3411_94_final(&ctx, digest);
    return FS_OCL_OK;
}

int hash_entry(walker &w, int dirfd, const char *name, bool link, uint8_t digest[FS_OCL_HASH_SIZE])
{
    if (link) {
        const ssize_t n = readlinkat(dirfd, name, reinterpret_cast<char *>(w.block), FS_OCL_BLOCK_SIZE);
        if (n < 0)
            return gone_errno(errno) ? GONE : system_errno(errno) ? FS_OCL_ERR_IO : UNREADABLE;
        gost_r3411_94_digest(GOST_R3411_94_PARAMS_CRYPTOPRO, w.block, size_t(n), digest);
        return FS_OCL_OK;
    }
    ic_util::unique_fd fd(openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return gone_errno(errno) ? GONE : system_errno(errno) ? FS_OCL_ERR_IO : UNREADABLE;
    struct stat st;
    if (fstat(fd.get(), &st) != 0)
        return UNREADABLE;
    if (!S_ISREG(st.st_mode))
        return GONE;
    return hash_fd(w, fd.get(), digest);
}

int dir_hash(walker &w, int fd, const struct stat &st, uint8_t digest[FS_OCL_HASH_SIZE])
{
    uint8_t inner[FS_OCL_HASH_SIZE];
    bool empty;
    const int rc = inner_hash(w, fd, inner, &empty);
    if (rc != FS_OCL_OK)
        return rc;
    gost_r3411_94_ctx ctx;
    gost_r3411_94_init(&ctx, GOST_R3411_94_PARAMS_CRYPTOPRO);
    gost_r3411_94_update(&ctx, inner, sizeof inner);
    if (w.flags & FS_OCL_CONTROL_ATTRS)
        feed_dir_attrs(&ctx, dir_attrs_of(st));
    gost_r3411_94_final(&ctx, digest);
    return FS_OCL_OK;
}

int open_root(const char *mount_dir, ic_util::unique_fd &root)
{
    root.reset(open(mount_dir, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (root.valid())
        return FS_OCL_OK;
    IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "open '%s': %s\n", mount_dir, std::strerror(errno));
    return FS_OCL_ERR_IO;
}

int resolve(int root, const char *path, int open_flags, ic_util::unique_fd &fd)
{
    while (*path == '/')
        ++path;
    if (!*path)
        path = ".";
    open_how how{};
    how.flags = uint64_t(open_flags | O_CLOEXEC);
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0;; ++attempt) {
        const long r = syscall(SYS_openat2, root, path, &how, sizeof how);
        if (r >= 0) {
            fd.reset(int(r));
            return 0;
        }
        if (errno == EAGAIN && attempt < 16)
            continue; // a rename raced with ".." resolution
        if (errno != ENOSYS)
            return errno;
        break;
    }
    // Kernels before 5.6: plain lookup relative to the root.
    const int r = openat(root, path, open_flags | O_CLOEXEC);
    if (r < 0)
        return errno;
    fd.reset(r);
    return 0;
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

// The object at path, not followed, with its lstat result.
int lookup(const char *mount_dir, const char *path, ic_util::unique_fd &root, ic_util::unique_fd &object,
           struct stat *st)
{
    int rc = open_root(mount_dir, root);
    if (rc != FS_OCL_OK)
        return rc;
    const int err = resolve(root.get(), path, O_PATH | O_NOFOLLOW, object);
    if (err)
        return lookup_code(err, mount_dir, path);
    return fstat(object.get(), st) == 0 ? FS_OCL_OK : FS_OCL_ERR_IO;
}

// Content hash of a file object: a link's text, a regular file's bytes.
int hash_object(walker &w, int root, const char *path, int object, const struct stat &st,
                uint8_t digest[FS_OCL_HASH_SIZE])
{
    if (S_ISLNK(st.st_mode))
        return hash_entry(w, object, "", true, digest);
    ic_util::unique_fd fd;
    const int err = resolve(root, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, fd);
    if (err)
        return err == ENOENT || err == ENOTDIR || err == ELOOP ? GONE : UNREADABLE;
    struct stat now;
    if (fstat(fd.get(), &now) != 0)
        return UNREADABLE;
    if (!S_ISREG(now.st_mode))
        return GONE;
    return hash_fd(w, fd.get(), digest);
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
