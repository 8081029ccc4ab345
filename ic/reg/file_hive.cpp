// Hive files: the base block checks, positioned reads through a small page
// cache, and cells.
#include "reg_internal.h"

#include "ic/util/le.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int bad_format(const char *what)
{
    IC_LOG(ic_log_reg, IC_LOG_ERROR, "%s\n", what);
    return REG_ERR_FORMAT;
}

} // namespace

reg_hive *reg_hive_new(reg_hive_kind kind, const reg_hive_ops *ops);
const reg_hive_ops *reg_common_hive_ops();

namespace {

// Patches the units of the overlay that fall in the cache page at file
// offset start (valid bytes long).
void patch_page(const reg_overlay &o, uint64_t start, uint32_t valid, uint8_t *data)
{
    if (start + valid <= kBinsStart)
        return;
    const uint64_t from = start < kBinsStart ? 0 : (start - kBinsStart) / reg_overlay::unit;
    auto it = std::lower_bound(o.units.begin(), o.units.end(), from);
    for (; it != o.units.end(); ++it) {
        const uint64_t at = kBinsStart + uint64_t(*it) * reg_overlay::unit;
        if (at + reg_overlay::unit > start + valid)
            break;
        const size_t i = size_t(it - o.units.begin());
        std::memcpy(data + (at - start), o.slot(o.slots[i]), reg_overlay::unit);
    }
}

} // namespace

int reg_file_read(reg_hive *hive, uint64_t offset, void *buffer, uint32_t length)
{
    reg_page_cache &c = hive->cache;
    auto *out = static_cast<uint8_t *>(buffer);
    while (length) {
        const uint64_t page = offset / reg_page_cache::page_size;
        const unsigned slot = unsigned(page % c.used);
        uint8_t *data = c.pages + size_t(slot) * reg_page_cache::page_size;
        if (c.tags[slot] != page) {
            c.tags[slot] = UINT64_MAX;
            const uint64_t start = page * reg_page_cache::page_size;
            ssize_t n;
            do
                n = pread(hive->fd, data, reg_page_cache::page_size, off_t(start));
            while (n < 0 && errno == EINTR);
            if (n < 0) {
                IC_LOG(ic_log_reg, IC_LOG_ERROR, "can't read hive hbin data: %s\n", std::strerror(errno));
                return REG_ERR_IO;
            }
            uint32_t valid = uint32_t(n);
            if (const reg_overlay *o = hive->overlay) {
                // Past the file's end the recovered bins read as zeros, then the logs' pages.
                const uint64_t end = std::max<uint64_t>(o->file_end, kBinsStart + hive->bins_size);
                valid = start < end ? uint32_t(std::min<uint64_t>(reg_page_cache::page_size, end - start)) : 0;
                if (uint32_t(n) < valid)
                    std::memset(data + n, 0, valid - uint32_t(n));
                patch_page(*o, start, valid, data);
            }
            c.tags[slot] = page;
            c.valid[slot] = valid;
        }
        const uint32_t in_page = uint32_t(offset % reg_page_cache::page_size);
        if (in_page >= c.valid[slot]) {
            IC_LOG(ic_log_reg, IC_LOG_ERROR, "can't read hive hbin data: %s\n", "unexpected end of file");
            return REG_ERR_IO;
        }
        uint32_t n = c.valid[slot] - in_page;
        if (n > length)
            n = length;
        std::memcpy(out, data + in_page, n);
        out += n;
        offset += n;
        length -= n;
    }
    return REG_OK;
}

int reg_file_read_cell(reg_hive *hive, uint32_t offset, uint32_t max, std::vector<uint8_t> &out,
                       uint32_t *data_size)
{
    if (offset > hive->bins_size || hive->bins_size - offset < 4)
        return REG_ERR_INVAL;
    uint8_t head[4];
    int rc = reg_file_read(hive, kBinsStart + offset, head, 4);
    if (rc)
        return rc;
    const int64_t size = int32_t(ic_le32(head));
    if (size >= 0)
        return bad_format("can't read cell: sell is empty");
    if (-size <= 4)
        return bad_format("can't read cell: incorrect cell size");
    if (uint64_t(offset) + uint64_t(-size) > hive->bins_size)
        return REG_ERR_INVAL;
    const uint32_t full = uint32_t(-size - 4);
    const uint32_t n = full < max ? full : max;
    try {
        out.resize(n);
    } catch (const std::bad_alloc &) {
        return REG_ERR_NOMEM;
    }
    if (data_size)
        *data_size = full;
    return n ? reg_file_read(hive, kBinsStart + offset + 4, out.data(), n) : REG_OK;
}

namespace {

int file_root(reg_hive *hive, reg_key **key)
{
    if (!hive->root)
        return REG_ERR_INVAL;
    reg_key_add_ref_common(hive->root);
    *key = hive->root;
    return REG_OK;
}

} // namespace

namespace {

void clear_recovery(reg_recovery *info)
{
    std::memset(info, 0, sizeof *info);
}

// Opens the hive file fd (taken over) called name in directory dir below
// root_fd, where its logs are looked for.
int open_hive(int fd, int root_fd, const std::string &dir, const std::string &name, unsigned flags, reg_hive **hive,
              reg_recovery *info)
{
    static const reg_hive_ops file_hive_ops = {reg_common_hive_ops()->add_ref, reg_common_hive_ops()->release,
                                               file_root};
    reg_hive *h = reg_hive_new(REG_HIVE_FILE, &file_hive_ops);
    if (!h) {
        close(fd);
        return REG_ERR_NOMEM;
    }
    h->fd = fd;
    ++h->objects; // held while opening
    auto fail = [h](int rc) {
        h->users = 0;
        reg_hive_object_gone(h);
        return rc;
    };
    struct stat st;
    if (fstat(fd, &st) != 0) {
        IC_LOG(ic_log_reg, IC_LOG_ERROR, "can't set hive file read position: %s\n", std::strerror(errno));
        return fail(REG_ERR_IO);
    }
    const uint64_t file_size = uint64_t(st.st_size);
    uint8_t base[512];
    ssize_t got;
    do
        got = pread(fd, base, sizeof base, 0);
    while (got < 0 && errno == EINTR);
    if (file_size < kBinsStart || got != ssize_t(sizeof base))
        return fail(bad_format("invalid hive file format"));
    reg_base_fields f;
    reg_parse_base(base, f);
    info->sequence = f.sequence1;
    const bool dirty = !f.checksum_ok || f.sequence1 != f.sequence2;
    if (dirty && !(flags & REG_HIVE_NO_LOGS)) {
        info->dirty = 1;
        int rc = reg_recover_hive(fd, root_fd, dir, name, f, &h->overlay, info);
        if (rc == REG_ERR_DIRTY && !f.checksum_ok)
            rc = bad_format("invalid hive file format");
        else if (rc == REG_ERR_DIRTY)
            IC_LOG(ic_log_reg, IC_LOG_ERROR, "dirty hive %s without a usable transaction log\n", name.c_str());
        if (rc)
            return fail(rc);
        h->overlay->file_end = file_size;
        info->sequence = f.sequence1;
    } else if (!f.checksum_ok || kBinsStart + f.bins_size > file_size) {
        return fail(bad_format("invalid hive file format"));
    }
    h->major = f.major;
    h->minor = f.minor;
    h->root_cell = f.root_cell;
    h->bins_size = f.bins_size;
    const uint64_t end = std::max<uint64_t>(file_size, kBinsStart + f.bins_size);
    const uint64_t pages = (end + reg_page_cache::page_size - 1) / reg_page_cache::page_size;
    h->cache.used = unsigned(pages < reg_page_cache::slots ? (pages ? pages : 1) : reg_page_cache::slots);
    h->cache.pages = new (std::nothrow) uint8_t[size_t(h->cache.used) * reg_page_cache::page_size];
    if (!h->cache.pages)
        return fail(REG_ERR_NOMEM);
    for (auto &t : h->cache.tags)
        t = UINT64_MAX;
    reg_key *root;
    int rc = reg_stable_key_load(h, nullptr, h->root_cell, &root);
    if (rc)
        return fail(rc);
    h->root = root;
    reg_hive_object_gone(h);
    *hive = h;
    return REG_OK;
}

// dir and name of a path ("" for the root).
void split_path(const std::string &path, std::string &dir, std::string &name)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const size_t slash = p.rfind('/');
    dir = slash == std::string::npos ? std::string() : p.substr(0, slash);
    name = slash == std::string::npos ? p : p.substr(slash + 1);
}

} // namespace

int reg_create_file_hive_ex(const char *file_path, unsigned flags, reg_hive **hive, reg_recovery *recovery)
{
    reg_recovery scratch;
    reg_recovery *info = recovery ? recovery : &scratch;
    clear_recovery(info);
    if (!file_path || !hive)
        return REG_ERR_INVAL;
    // The file as named; its logs inside its directory only.
    const int fd = open(file_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        IC_LOG(ic_log_reg, IC_LOG_ERROR, "can't open hive file %s: %s\n", file_path, std::strerror(errno));
        return REG_ERR_IO;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        IC_LOG(ic_log_reg, IC_LOG_ERROR, "hive file %s is not a regular file\n", file_path);
        close(fd);
        return REG_ERR_NOT_REGULAR;
    }
    std::string dir, name;
    split_path(file_path, dir, name);
    if (dir.empty() && file_path[0] == '/')
        dir = "/";
    const int dir_fd = open(dir.empty() ? "." : dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
        close(fd);
        return REG_ERR_IO;
    }
    const int rc = open_hive(fd, dir_fd, ".", name, flags, hive, info);
    close(dir_fd);
    return rc;
}

int reg_create_file_hive_at(int root_fd, const char *path, unsigned flags, reg_hive **hive, reg_recovery *recovery)
{
    reg_recovery scratch;
    reg_recovery *info = recovery ? recovery : &scratch;
    clear_recovery(info);
    if (root_fd < 0 || !path || !hive)
        return REG_ERR_INVAL;
    int fd;
    int rc = reg_open_regular_below(root_fd, path, fd);
    if (rc) {
        IC_LOG(ic_log_reg, IC_LOG_ERROR, "can't open hive file %s: code %d\n", path, rc);
        return rc;
    }
    std::string dir, name;
    split_path(path, dir, name);
    return open_hive(fd, root_fd, dir, name, flags, hive, info);
}

int reg_create_file_hive(const char *file_path, reg_hive **hive)
{
    return reg_create_file_hive_ex(file_path, 0, hive, nullptr);
}
