// Reading one disk: the MBR and its boot area, the primary partitions and
// the chains of extended boot records, from raw 512-byte sectors.  Reads are
// cut at the end of the disk: a digest covers the bytes of its sectors that
// lie on the disk, so a table pointing past the end is recorded, not fatal.
#include "hd_internal.h"

#include <gost/gost_r3411_94.h>
#include <ic/util/le.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr uint32_t sector = HD_SECTOR_SIZE;
constexpr uint32_t area_sectors = 1 + HD_BOOT_SECTORS;
constexpr uint32_t table_offset = 446;
constexpr uint32_t entry_size = 16;
constexpr uint16_t signature = 0xAA55;
// Four entries per record: the logical partitions of a walk fit the image.
static_assert(4 * HD_MAX_CHAIN_RECORDS <= HD_MAX_LOGICAL, "logical count fits 16 bits");

struct disk_reader {
    int fd;
    uint64_t size; // bytes
    const char *name;
};

// Up to n bytes at byte offset, cut at the end of the disk; *got is what was
// read.  1 when the device fails or ends early.
int read_at(const disk_reader &d, uint64_t offset, uint8_t *buf, uint32_t n, uint32_t *got)
{
    *got = 0;
    if (offset >= d.size)
        return IC_OK;
    if (n > d.size - offset)
        n = uint32_t(d.size - offset);
    while (*got < n) {
        const ssize_t r = pread(d.fd, buf + *got, n - *got, off_t(offset + *got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "%s: read at byte %llu: %s\n", d.name,
                   (unsigned long long)(offset + *got), r < 0 ? std::strerror(errno) : "end of device");
            return IC_ERR_IO;
        }
        *got += uint32_t(r);
    }
    return IC_OK;
}

void digest(const uint8_t *data, uint32_t n, uint8_t out[HD_HASH_SIZE])
{
    gost_r3411_94_digest(GOST_R3411_94_PARAMS_CRYPTOPRO, data, n, out);
}

// First sector and the 62 after it at lba: their two digests; area holds the
// bytes and *got their number.
int read_area(const disk_reader &d, uint64_t lba, uint8_t *area, uint32_t *got, uint8_t first[HD_HASH_SIZE],
              uint8_t boot[HD_HASH_SIZE])
{
    int rc = read_at(d, lba * sector, area, area_sectors * sector, got);
    if (rc != IC_OK)
        return rc;
    if (*got < area_sectors * sector)
        IC_LOG(ic_log_fs, IC_LOG_WARN, "%s: sectors %llu-%llu reach past the end of the disk\n", d.name,
               (unsigned long long)lba, (unsigned long long)(lba + area_sectors - 1));
    const uint32_t head = *got < sector ? *got : sector;
    digest(area, head, first);
    digest(area + head, *got - head, boot);
    return IC_OK;
}

bool signed_record(const uint8_t *record, uint32_t got)
{
    return got >= sector && ic_le16(record + 510) == signature;
}

const uint8_t *entry(const uint8_t *record, unsigned k)
{
    return record + table_offset + k * entry_size;
}

// A partition from a table entry at absolute start, its area read and hashed.
int make_partition(const disk_reader &d, const uint8_t *e, uint64_t start, uint32_t index, hd_partition **out,
                   uint8_t *area, uint32_t *got)
{
    hd_partition *p = hd_partition_alloc();
    if (!p)
        return IC_ERR_NOMEM;
    p->index = index;
    p->boot_indicator = e[0];
    p->type = e[4];
    p->start = uint32_t(start);
    p->count = ic_le32(e + 12);
    int rc = read_area(d, start, area, got, p->pbr_hash, p->boot_hash);
    if (rc != IC_OK) {
        hd_partition_destroy(p);
        return rc;
    }
    *out = p;
    return IC_OK;
}

// Logical partitions of one extended boot record at lba.
int take_logicals(const disk_reader &d, hd_partition *ext, const uint8_t *record, uint64_t lba, uint64_t bound,
                  uint8_t *area)
{
    const uint64_t ext_end = uint64_t(ext->start) + ext->count;
    for (unsigned k = 0; k < 4; ++k) {
        const uint8_t *e = entry(record, k);
        const uint32_t rel = ic_le32(e + 8), count = ic_le32(e + 12);
        if (count == 0 || hd_partition_type_is_extended(e[4]))
            continue;
        const uint64_t start = lba + rel;
        if (k >= 2 && (uint64_t(rel) + count > bound || start < ext->start || start + count > ext_end))
            continue;
        if (start > UINT32_MAX) {
            IC_LOG(ic_log_fs, IC_LOG_WARN, "%s: logical partition at sector %llu is beyond 32-bit addressing; left out\n",
                   d.name, (unsigned long long)start);
            continue;
        }
        hd_partition *l = nullptr;
        uint32_t got;
        int rc = make_partition(d, e, start, ext->logical_count, &l, area, &got);
        if (rc != IC_OK)
            return rc;
        hd_partition_add_logical(ext, l);
    }
    return IC_OK;
}

// The chain of extended boot records of ext, whose first record (its first
// sector) is in first.  The walk ends at a record without signature, without
// a link, outside the disk, or one already visited.
int walk_chain(const disk_reader &d, hd_partition *ext, const uint8_t *first, uint32_t first_got, uint8_t *area)
{
    uint64_t visited[HD_MAX_CHAIN_RECORDS];
    uint32_t nvisited = 0;
    uint8_t record[sector];
    uint32_t got = first_got < sector ? first_got : sector;
    std::memcpy(record, first, got);
    uint64_t lba = ext->start;
    uint64_t bound = ext->count;
    for (;;) {
        if (got < sector) {
            IC_LOG(ic_log_fs, IC_LOG_WARN, "%s: extended boot record at sector %llu lies outside the disk; the chain ends\n",
                   d.name, (unsigned long long)lba);
            return IC_OK;
        }
        visited[nvisited++] = lba;
        if (!signed_record(record, got))
            return IC_OK;
        int rc = take_logicals(d, ext, record, lba, bound, area);
        if (rc != IC_OK)
            return rc;
        const uint8_t *link = nullptr;
        for (unsigned k = 0; k < 4 && !link; ++k)
            if (hd_partition_type_is_extended(entry(record, k)[4]))
                link = entry(record, k);
        if (!link)
            return IC_OK;
        lba = uint64_t(ext->start) + ic_le32(link + 8);
        bound = uint64_t(ext->start) + ic_le32(link + 12);
        for (uint32_t i = 0; i < nvisited; ++i)
            if (visited[i] == lba) {
                IC_LOG(ic_log_fs, IC_LOG_WARN, "%s: extended boot record at sector %llu links back to sector %llu; the chain ends\n",
                       d.name, (unsigned long long)visited[nvisited - 1], (unsigned long long)lba);
                return IC_OK;
            }
        if (nvisited == HD_MAX_CHAIN_RECORDS) {
            IC_LOG(ic_log_fs, IC_LOG_WARN, "%s: more than %u extended boot records; the chain ends\n", d.name,
                   unsigned(HD_MAX_CHAIN_RECORDS));
            return IC_OK;
        }
        rc = read_at(d, lba * sector, record, sector, &got);
        if (rc != IC_OK)
            return rc;
    }
}

// Partitions of the MBR: none without a signature or with a boot indicator
// other than 0x00 and 0x80 in any entry.
int read_table(const disk_reader &d, hd_disk *disk, const uint8_t *mbr, uint32_t got)
{
    if (!signed_record(mbr, got))
        return IC_OK;
    for (unsigned i = 0; i < HD_PRIMARY_SLOTS; ++i)
        if (entry(mbr, i)[0] & 0x7F)
            return IC_OK;
    uint8_t area[area_sectors * sector];
    for (unsigned i = 0; i < HD_PRIMARY_SLOTS; ++i) {
        const uint8_t *e = entry(mbr, i);
        if (ic_le32(e + 12) == 0)
            continue;
        uint32_t area_got;
        int rc = make_partition(d, e, ic_le32(e + 8), i, &disk->primary[i], area, &area_got);
        if (rc == IC_OK && hd_partition_type_is_extended(e[4]))
            rc = walk_chain(d, disk->primary[i], area, area_got, area);
        if (rc != IC_OK)
            return rc;
    }
    return IC_OK;
}

} // namespace

int hd_disk_read_fd(int fd, const char *name, hd_disk **disk)
{
    HD_ENTER();
    if (fd < 0 || !name || !disk)
        HD_RETURN(IC_ERR_INVAL);
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "%s: size: %s\n", name, std::strerror(errno));
        HD_RETURN(IC_ERR_IO);
    }
    const disk_reader d{fd, uint64_t(end), name};
    hd_disk *out = hd_disk_alloc(name, std::strlen(name));
    if (!out)
        HD_RETURN(IC_ERR_NOMEM);
    uint8_t mbr[area_sectors * sector];
    uint32_t got;
    int rc = read_area(d, 0, mbr, &got, out->mbr_hash, out->boot_hash);
    if (rc == IC_OK)
        rc = read_table(d, out, mbr, got);
    if (rc != IC_OK) {
        hd_disk_destroy(out);
        HD_RETURN(rc);
    }
    *disk = out;
    HD_RETURN(IC_OK);
}
