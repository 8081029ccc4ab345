// Internals of the object check list: object records, listings, and the
// directory walker shared by adding and checking.
#ifndef IC_FS_OCL_INTERNAL_H
#define IC_FS_OCL_INTERNAL_H

#include <ic/fs/fs_ocl.h>
#include <ic/fs/fs_ocl_check.h>
#include <ic/util/log.h>
#include <ic/util/result.h>
#include <ic/util/str_buf.h>
#include <ic/util/unique_fd.h>

#include "hash_pool.h"
#include "in_volume.h"

#include <gost/gost_r3411_94.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#define OCL_ENTER() IC_LOG(ic_log_fs_ocl, IC_LOG_TRACE, "entering\n")
#define OCL_RETURN(expr)                                                   \
    do {                                                                   \
        int ocl_ret_ = (expr);                                             \
        if (ocl_ret_ != FS_OCL_OK)                                         \
            IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "ret = %d\n", ocl_ret_);   \
        IC_LOG(ic_log_fs_ocl, IC_LOG_TRACE, "returning\n");                \
        return ocl_ret_;                                                   \
    } while (0)

namespace ocl {

// While checking, an entry that vanished (or changed its type) or cannot be
// read is a result, not an error.  Negative so as not to meet the codes.
constexpr int GONE = -1;
constexpr int UNREADABLE = -2;

// Frees every node of a tree, children before their parent, without
// rebalancing.
template <typename Destroy>
void destroy_tree(rb_root *root, Destroy destroy)
{
    rb_node *n = root->rb_node;
    while (n) {
        if (n->rb_left) {
            n = n->rb_left;
        } else if (n->rb_right) {
            n = n->rb_right;
        } else {
            rb_node *parent = rb_parent(n);
            if (parent)
                (parent->rb_left == n ? parent->rb_left : parent->rb_right) = nullptr;
            destroy(n);
            n = parent;
        }
    }
    root->rb_node = nullptr;
}

// Links node (a red leaf) into a tree ordered by path_of(node), or returns
// the node that already has its path.
template <typename PathOf>
rb_node *link_by_path(rb_root *root, rb_node *node, PathOf path_of)
{
    const char *path = path_of(node);
    rb_node **link = &root->rb_node, *parent = nullptr;
    while (*link) {
        parent = *link;
        const int c = std::strcmp(path, path_of(parent));
        if (c == 0)
            return parent;
        link = c < 0 ? &parent->rb_left : &parent->rb_right;
    }
    rb_link_node(node, parent, link);
    rb_insert_color(node, root);
    return nullptr;
}

// The node whose path_of is path, or null.
template <typename PathOf>
rb_node *find_by_path(const rb_root *root, const char *path, PathOf path_of)
{
    rb_node *n = path ? root->rb_node : nullptr;
    while (n) {
        const int c = std::strcmp(path, path_of(n));
        if (c == 0)
            return n;
        n = c < 0 ? n->rb_left : n->rb_right;
    }
    return nullptr;
}

void object_destroy(fs_ocl_object *object);
struct object_deleter {
    void operator()(fs_ocl_object *object) const { object_destroy(object); }
};
using object_ptr = std::unique_ptr<fs_ocl_object, object_deleter>;

// Allocates a file or directory record with a copy of path.
int file_create(const char *path, uint16_t flags, uint16_t form, object_ptr &object);
int dir_create(const char *path, const char *const *masks, uint16_t flags, uint16_t form, object_ptr &object);

// Path of the fs_ocl_object holding node.
const char *object_path(const rb_node *node);

// Links the object into the list, replacing one with the same path.
void insert(fs_ocl *ocl, object_ptr object);

// Frees what a listing holds and leaves it empty.
void listing_clear(fs_ocl_dir_info *info);
struct listing_guard {
    fs_ocl_dir_info *info;
    ~listing_guard()
    {
        if (info)
            listing_clear(info);
    }
};

// Collects one listing level; finish() moves it into an fs_ocl_dir_info.
class listing_builder {
public:
    explicit listing_builder(uint16_t flags) : flags_(flags) {}
    ~listing_builder();
    listing_builder(const listing_builder &) = delete;
    listing_builder &operator=(const listing_builder &) = delete;

    // The builder takes the child listing over (also on failure).
    void add_dir(const char *name, size_t length, fs_ocl_dir_info *child, const fs_ocl_dir_attrs *attrs);
    void add_file(const char *name, size_t length, const uint8_t *hash, const fs_ocl_file_attrs *attrs);
    bool empty() const { return dir_names_.empty() && file_names_.empty(); }
    int finish(fs_ocl_dir_info *out);

private:
    uint16_t flags_;
    std::string pool_;
    std::vector<size_t> dir_names_, file_names_;
    std::vector<fs_ocl_dir_info> dirs_;
    std::vector<fs_ocl_dir_attrs> dir_attrs_;
    std::vector<uint8_t> hashes_;
    std::vector<fs_ocl_file_attrs> file_attrs_;
};

// Attributes as form 2 records them.
fs_ocl_file_attrs file_attrs_of(const struct stat &st);
fs_ocl_dir_attrs dir_attrs_of(const struct stat &st);

// Entries of one directory level, names sorted byte-wise.
struct level {
    struct entry {
        size_t name;  // offset into pool
        size_t length;
        bool link;
    };
    std::string pool;
    std::vector<entry> dirs, files;
    const char *name(const entry &e) const { return pool.data() + e.name; }
};

// Where the walk of one object stands, shared by the steps it queued: the
// first outcome that ended it (FS_OCL_OK while it goes on).  Steps queued
// through the walker do nothing once it has ended; the object's last step
// reads the outcome.
struct object_run {
    int status = FS_OCL_OK;
};
using run_ptr = std::shared_ptr<object_run>;

// Returned up a walk whose object has ended (the outcome is in its run).
constexpr int ENDED = -3;

// State of one add or check: what to take, the path of the current entry,
// one block buffer for directory entries and link texts, and the pool that
// reads and hashes file contents.  A walk returns FS_OCL_OK, ENDED, or the
// code that ended the pool.
struct walker {
    const char *const *masks = nullptr; // null: every file
    uint16_t flags = 0;
    uint16_t form = FS_OCL_FORM_2;
    bool check = false;      // vanished or unreadable entries are results
    fs_str_buf path{};       // mount_dir + object path + names below
    size_t base = 0;         // length of mount_dir + object path
    uint8_t *block = nullptr;
    hash_pool *pool = nullptr;
    run_ptr run;             // of the object being walked

    ~walker();
    // Sets up the path, the block buffer (kept from an earlier object) and
    // a new run for the object.
    int init(const char *mount_dir, const fs_ocl_object *object, const char *const *masks, bool check);
    // Appends "/" and name; FS_OCL_ERR_NAME_TOO_LONG when the path would
    // reach PATH_MAX.  The previous length is kept in *mark.
    int push(const char *name, size_t length, size_t *mark);
    void pop(size_t mark) { _fs_str_buf_truncate(&path, mark); }
    // push, then opens the subdirectory name of dirfd into sub: FS_OCL_OK,
    // GONE when it is no longer there as a directory, or an error code.
    int enter(int dirfd, const char *name, size_t length, size_t *mark, ic_util::unique_fd &sub);
    // Path relative to the object (begins with "/", empty for the object).
    const char *relative() const { return path.str + base; }

    // Ends the object's walk with outcome rc, after every step queued
    // before (an outcome of theirs comes first): ENDED, or the pool's code.
    int end(int rc);
    bool ended() const { return run->status != FS_OCL_OK; }
    // Queues step for its turn; it does not run once the object has ended.
    int queue(hash_pool::step_fn step);
    // Content hash of the file entry name of dirfd, not followed: a
    // symbolic link's text (link) or a regular file's bytes.  A regular file
    // is opened here, without waiting, and must still be one; the pool reads
    // it.  then gets FS_OCL_OK and the digest, GONE or UNREADABLE in its turn
    // (not once the object has ended); a failure of the system ends the
    // object's walk with its code.
    int hash(int dirfd, const char *name, bool link, hash_pool::then_fn then);
};

// lstat of the entry name in dirfd, which must be a regular file or a
// symbolic link: FS_OCL_OK, GONE (not there, or another kind) or
// FS_OCL_ERR_IO.
int stat_file(int dirfd, const char *name, struct stat *st);

// Reads and sorts the level open at fd.
int scan_level(walker &w, int fd, level &out);

// Opens the directory name in dirfd for reading, without following a link
// and without waiting on whatever is there instead.
int open_dir_at(int dirfd, const char *name);

// Queues the directory hash of the directory open at fd (attributes of the
// top from st), in the walker's form; done gets it in its turn.
int dir_hash(walker &w, int fd, const struct stat &st, std::function<int(const uint8_t *digest)> done);

// Opens the root of a mounted volume.
int open_root(const char *mount_dir, ic_util::unique_fd &root);
// Code of a failed object lookup: 11 for a link loop, 12 for a name too
// long, 1 for a failure of the system, else missing.
int lookup_code(int err, const char *mount_dir, const char *path);

// The directory object at path below root, not followed, with its lstat
// result; lookup_code's codes when it is not there.
int lookup(int root, const char *mount_dir, const char *path, ic_util::unique_fd &object, struct stat *st);

// A file object: its parent directory (links inside the volume followed),
// its last component and its lstat result.  FS_OCL_OK; FS_OCL_ERR_MISSING
// when it is not there as a regular file or a symbolic link; lookup_code's
// codes.
int lookup_file(int root, const char *mount_dir, const char *path, ic_util::unique_fd &parent, const char **name,
                struct stat *st);

// Checks the arguments shared by the adds; the full path must stay below
// PATH_MAX.
int check_path(const char *mount_dir, const char *path);

// Adds every object of stored again into ocl from the volume mounted at
// mount_dir, with the same flags and masks, hashing on every worker; an
// object that is not there (or whose path cannot be followed) is left out.
int add_again(fs_ocl *ocl, const char *mount_dir, const fs_ocl *stored);

// fs_ocl_check_info_create, calling p on this thread now and then.
int check_info_create(const fs_ocl *ocl, const char *mount_dir, const progress &p, fs_ocl_check_info **check);

} // namespace ocl

#endif
