// Hive files: the base block checks, positioned reads through a small page
// cache, and cells.
#include "reg_internal.h"

#include "ic/util/le.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint64_t kBinsStart = 4096;

int bad_format(const char *what)
{
    IC_LOG(ic_log_reg, IC_LOG_ERROR, "%s\n", what);
    return REG_ERR_FORMAT;
}

} // namespace

reg_hive *reg_hive_new(reg_hive_kind kind, const reg_hive_ops *ops);
const reg_hive_ops *reg_common_hive_ops();

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
            ssize_t n;
            do
                n = pread(hive->fd, data, reg_page_cache::page_size, off_t(page * reg_page_cache::page_size));
            while (n < 0 && errno == EINTR);
            if (n < 0) {
                IC_LOG(ic_log_reg, IC_LOG_ERROR, "can't read hive hbin data: %s\n", std::strerror(errno));
                return REG_ERR_IO;
            }
            c.tags[slot] = page;
            c.valid[slot] = uint32_t(n);
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

int reg_create_file_hive(const char *file_path, reg_hive **hive)
{
    if (!file_path || !hive)
        return REG_ERR_INVAL;
    const int fd = open(file_path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        IC_LOG(ic_log_reg, IC_LOG_ERROR, "can't open hive file %s: %s\n", file_path, std::strerror(errno));
        return REG_ERR_IO;
    }
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
    const uint64_t pages = (uint64_t(st.st_size) + reg_page_cache::page_size - 1) / reg_page_cache::page_size;
    h->cache.used = unsigned(pages < reg_page_cache::slots ? (pages ? pages : 1) : reg_page_cache::slots);
    h->cache.pages = new (std::nothrow) uint8_t[size_t(h->cache.used) * reg_page_cache::page_size];
    if (!h->cache.pages)
        return fail(REG_ERR_NOMEM);
    for (auto &t : h->cache.tags)
        t = UINT64_MAX;
    uint8_t base[512];
    if (st.st_size < off_t(kBinsStart) || reg_file_read(h, 0, base, sizeof base))
        return fail(bad_format("invalid hive file format"));
    uint32_t x = 0;
    for (unsigned i = 0; i < 128; ++i)
        x ^= ic_le32(base + 4 * i);
    h->major = ic_le32(base + 20);
    h->minor = ic_le32(base + 24);
    h->root_cell = ic_le32(base + 36);
    h->bins_size = ic_le32(base + 40);
    if (std::memcmp(base, "regf", 4) != 0 || x != 0 || kBinsStart + h->bins_size > uint64_t(st.st_size))
        return fail(bad_format("invalid hive file format"));
    reg_key *root;
    int rc = reg_stable_key_load(h, nullptr, h->root_cell, &root);
    if (rc)
        return fail(rc);
    h->root = root;
    reg_hive_object_gone(h);
    *hive = h;
    return REG_OK;
}
