// Recovery of a half-written hive from its transaction logs, in memory: the
// logs beside the hive are read, checked and replayed into an overlay of
// replaced pages; the hive file and the logs are only read.
//
// Two formats.  The older one: a copy of the base block, the dirty-page
// bitmap "DIRT" (one bit per 512 bytes of the bins) and the dirty pages in
// bit order.  The newer one: a copy of the base block, then entries "HvLE",
// each with its sequence number, bins size, page references and pages, and
// two Marvin32 checksums.
#include "reg_internal.h"

#include "ic/util/le.h"
#include "ic/util/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kPage = 4096;
// Cell offsets of stable storage stay below 2^31: no hive is larger.
constexpr uint32_t kMaxBinsSize = 0x80000000u - kPage;
// Marvin32 seed of log entries, the bytes 82 EF 4D 88 7A 4E 55 C5.
constexpr uint64_t kEntrySeed = 0xC5554E7A884DEF82ull;
constexpr uint32_t kEntryHeader = 40;
// Replay reads no log past this, far above what Windows writes between
// two flushes of a hive: entries padded out over a sparse log would
// otherwise be hashed for hours. A chain that goes on beyond it refuses the
// log instead of stopping short of it.
constexpr uint64_t kMaxLogReplay = uint64_t(256) << 20;
constexpr uint32_t kTypeOld = 1, kTypeOld2000 = 2, kTypeNew = 6;

int format_error(const char *what)
{
    IC_LOG(ic_log_reg, IC_LOG_ERROR, "%s\n", what);
    return REG_ERR_FORMAT;
}

// Positioned reads of a log through a window of its bytes: entries are read
// in order, so most reads are served from memory.
class log_reader {
public:
    log_reader(int fd, uint64_t size) : fd_(fd), size_(size) {}
    uint64_t size() const { return size_; }
    // REG_OK, REG_ERR_IO, or REG_ERR_FORMAT when the range passes the end.
    int read(uint64_t offset, void *out, size_t n)
    {
        if (offset > size_ || size_ - offset < n)
            return REG_ERR_FORMAT;
        auto *to = static_cast<uint8_t *>(out);
        while (n) {
            if (offset < start_ || offset >= start_ + filled_) {
                int rc = fill(offset);
                if (rc)
                    return rc;
            }
            const size_t at = size_t(offset - start_);
            const size_t take = std::min(n, filled_ - at);
            std::memcpy(to, window_.data() + at, take);
            to += take;
            offset += take;
            n -= take;
        }
        return REG_OK;
    }

private:
    static constexpr size_t kWindow = 1u << 20;
    int fill(uint64_t offset)
    {
        try {
            window_.resize(kWindow);
        } catch (const std::bad_alloc &) {
            return REG_ERR_NOMEM;
        }
        filled_ = 0;
        start_ = offset;
        const size_t want = size_t(std::min<uint64_t>(kWindow, size_ - offset));
        while (filled_ < want) {
            const ssize_t n = pread(fd_, window_.data() + filled_, want - filled_, off_t(offset + filled_));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                IC_LOG(ic_log_reg, IC_LOG_ERROR, "can't read transaction log: %s\n", std::strerror(errno));
                return REG_ERR_IO;
            }
            if (n == 0)
                return format_error("transaction log ends early");
            filled_ += size_t(n);
        }
        return REG_OK;
    }
    int fd_;
    uint64_t size_;
    std::vector<uint8_t> window_;
    uint64_t start_ = 0;
    size_t filled_ = 0;
};

// Collects replaced 512-byte units; a later write of a unit replaces an
// earlier one, so the memory taken never exceeds the largest bins size met.
class overlay_builder {
public:
    explicit overlay_builder(reg_overlay *o) : o_(o) {}
    int put(uint32_t bins_offset, const uint8_t *data)
    {
        const uint32_t u = bins_offset / reg_overlay::unit;
        try {
            auto it = where_.find(u);
            uint32_t slot;
            if (it != where_.end()) {
                slot = it->second;
            } else {
                slot = uint32_t(where_.size());
                if (slot % reg_overlay::chunk_units == 0)
                    o_->chunks.emplace_back(new uint8_t[size_t(reg_overlay::chunk_units) * reg_overlay::unit]);
                where_.emplace(u, slot);
            }
            std::memcpy(o_->slot(slot), data, reg_overlay::unit);
        } catch (const std::bad_alloc &) {
            return REG_ERR_NOMEM;
        }
        return REG_OK;
    }
    size_t units() const { return where_.size(); }
    // The sorted index of the read path.
    int finish()
    {
        try {
            std::vector<std::pair<uint32_t, uint32_t>> sorted(where_.begin(), where_.end());
            std::sort(sorted.begin(), sorted.end());
            o_->units.resize(sorted.size());
            o_->slots.resize(sorted.size());
            for (size_t i = 0; i < sorted.size(); ++i) {
                o_->units[i] = sorted[i].first;
                o_->slots[i] = sorted[i].second;
            }
        } catch (const std::bad_alloc &) {
            return REG_ERR_NOMEM;
        }
        return REG_OK;
    }

private:
    reg_overlay *o_;
    std::unordered_map<uint32_t, uint32_t> where_;
};

struct log_file {
    std::string name;
    int order = 0; // LOG1, LOG2, LOG: the order of preference among equals
    ic_util::unique_fd fd;
    uint64_t size = 0;
    uint8_t base[kSector] = {};
    reg_base_fields fields{};
    uint32_t type = 0;
    int status = REG_ERR_NOT_FOUND;
    uint32_t entries = 0, pages = 0;
};

bool valid_bins_size(uint32_t size)
{
    return size && size % kPage == 0 && size <= kMaxBinsSize;
}

// Reads and checks the base block copy of a log; sets its status.
void read_log_base(log_file &log)
{
    struct stat st;
    if (fstat(log.fd.get(), &st) != 0) {
        log.status = REG_ERR_IO;
        return;
    }
    log.size = uint64_t(st.st_size);
    // The base block alone: a log_reader would fill a whole window here that
    // the replay reads again.
    ssize_t got;
    do
        got = pread(log.fd.get(), log.base, kSector, 0);
    while (got < 0 && errno == EINTR);
    if (log.size < kSector || got != ssize_t(kSector)) {
        log.status = REG_ERR_FORMAT; // empty or cut short
        return;
    }
    reg_parse_base(log.base, log.fields);
    log.type = ic_le32(log.base + 28);
    const bool old = log.type == kTypeOld || log.type == kTypeOld2000;
    if (!log.fields.checksum_ok || (!old && log.type != kTypeNew) || !valid_bins_size(log.fields.bins_size)
        || (old && log.fields.sequence1 != log.fields.sequence2)) {
        log.status = REG_ERR_FORMAT;
        return;
    }
    log.status = REG_ERR_NOT_FOUND; // valid, not applied yet
}

bool is_new(const log_file &log)
{
    return log.type == kTypeNew;
}

/* The newer format. */

struct entry {
    uint32_t size, sequence, bins_size, count;
};

// Checks the entry at pos completely (header, checksums, page references)
// and gives its fields; the references go to refs. REG_ERR_DIRTY for a
// sound header whose entry ends past kMaxLogReplay (nothing hashed).
int check_entry(log_reader &r, uint64_t pos, entry &e, std::vector<uint8_t> &refs)
{
    uint8_t h[kEntryHeader];
    int rc = r.read(pos, h, sizeof h);
    if (rc)
        return rc;
    if (std::memcmp(h, "HvLE", 4))
        return REG_ERR_FORMAT;
    e.size = ic_le32(h + 4);
    e.sequence = ic_le32(h + 12);
    e.bins_size = ic_le32(h + 16);
    e.count = ic_le32(h + 20);
    if (e.size < kEntryHeader || e.size % kSector || pos + e.size > r.size() || !valid_bins_size(e.bins_size))
        return REG_ERR_FORMAT;
    // At least 512 bytes per page: no more references than that.
    const uint64_t room = e.size - kEntryHeader;
    if (e.count > e.bins_size / kSector || uint64_t(e.count) * 8 > room)
        return REG_ERR_FORMAT;
    if (reg_marvin32_digest(kEntrySeed, h, 32) != ic_load_le(h + 32, 8))
        return REG_ERR_FORMAT;
    if (pos + e.size > kMaxLogReplay)
        return REG_ERR_DIRTY;
    reg_marvin32 m;
    reg_marvin32_init(&m, kEntrySeed);
    uint8_t piece[65536];
    for (uint64_t at = kEntryHeader; at < e.size;) {
        const size_t n = size_t(std::min<uint64_t>(sizeof piece, e.size - at));
        rc = r.read(pos + at, piece, n);
        if (rc)
            return rc;
        reg_marvin32_update(&m, piece, n);
        at += n;
    }
    if (reg_marvin32_final(&m) != ic_load_le(h + 24, 8))
        return REG_ERR_FORMAT;
    try {
        refs.resize(size_t(e.count) * 8);
    } catch (const std::bad_alloc &) {
        return REG_ERR_NOMEM;
    }
    rc = r.read(pos + kEntryHeader, refs.data(), refs.size());
    if (rc)
        return rc;
    uint64_t total = 0;
    for (uint32_t i = 0; i < e.count; ++i) {
        const uint32_t offset = ic_le32(refs.data() + 8 * i), size = ic_le32(refs.data() + 8 * i + 4);
        if (offset % kSector || size % kSector || !size || uint64_t(offset) + size > e.bins_size)
            return REG_ERR_FORMAT;
        total += size;
    }
    if (total > room - uint64_t(e.count) * 8)
        return REG_ERR_FORMAT;
    return REG_OK;
}

int apply_entry(log_reader &r, uint64_t pos, const entry &e, const std::vector<uint8_t> &refs, overlay_builder &out)
{
    uint64_t data = pos + kEntryHeader + uint64_t(e.count) * 8;
    uint8_t unit[reg_overlay::unit];
    for (uint32_t i = 0; i < e.count; ++i) {
        const uint32_t offset = ic_le32(refs.data() + 8 * i), size = ic_le32(refs.data() + 8 * i + 4);
        for (uint32_t at = 0; at < size; at += reg_overlay::unit) {
            int rc = r.read(data + at, unit, sizeof unit);
            if (!rc)
                rc = out.put(offset + at, unit);
            if (rc)
                return rc;
        }
        data += size;
    }
    return REG_OK;
}

// Applies the entries of log from its start: the first must carry
// *expected, each next one the number after.  Stops at the first entry
// that does not check; *expected is then the number still wanted.
int replay_entries(log_file &log, uint32_t *expected, uint32_t *bins_size, overlay_builder &out)
{
    log_reader r(log.fd.get(), log.size);
    std::vector<uint8_t> refs;
    for (uint64_t pos = kSector; pos + kEntryHeader <= log.size;) {
        entry e;
        int rc = check_entry(r, pos, e, refs);
        if (rc == REG_ERR_NOMEM || rc == REG_ERR_IO || (rc == REG_ERR_DIRTY && e.sequence == *expected)) {
            if (rc == REG_ERR_DIRTY)
                IC_LOG(ic_log_reg, IC_LOG_ERROR, "transaction log entries go on past %llu bytes\n",
                       static_cast<unsigned long long>(kMaxLogReplay));
            return rc;
        }
        if (rc || e.sequence != *expected)
            break;
        rc = apply_entry(r, pos, e, refs, out);
        if (rc)
            return rc;
        ++log.entries;
        log.pages += e.count;
        *bins_size = e.bins_size;
        *expected = e.sequence + 1;
        pos += e.size;
    }
    log.status = log.entries ? REG_OK : REG_ERR_NOT_FOUND;
    return REG_OK;
}

int recover_new(std::vector<log_file *> logs, reg_base_fields &fields, overlay_builder &out, reg_recovery *info)
{
    if (!fields.checksum_ok) {
        // A broken base block: the log with the latest entries alone, and its copy of the base block.
        auto latest = std::max_element(logs.begin(), logs.end(), [](const log_file *a, const log_file *b) {
            return a->fields.sequence1 < b->fields.sequence1
                   || (a->fields.sequence1 == b->fields.sequence1 && a->order > b->order);
        });
        log_file &log = **latest;
        fields = log.fields;
        fields.checksum_ok = true;
        uint32_t expected = log.fields.sequence1, bins = fields.bins_size;
        int rc = replay_entries(log, &expected, &bins, out);
        if (rc)
            return rc;
        log.status = REG_OK;
        fields.bins_size = bins;
        fields.sequence1 = fields.sequence2 = expected - (log.entries ? 1 : 0);
        info->base_repaired = 1;
        return REG_OK;
    }
    // Logs older than the hive are not used; the others in the order of
    // their entries, each continuing the sequence where the last stopped.
    std::vector<log_file *> usable;
    for (log_file *l : logs)
        if (l->fields.sequence1 >= fields.sequence2)
            usable.push_back(l);
    std::stable_sort(usable.begin(), usable.end(), [](const log_file *a, const log_file *b) {
        return a->fields.sequence1 < b->fields.sequence1;
    });
    bool started = false;
    uint32_t expected = 0, bins = fields.bins_size;
    for (log_file *l : usable) {
        if (!started)
            expected = l->fields.sequence1;
        int rc = replay_entries(*l, &expected, &bins, out);
        if (rc)
            return rc;
        started = started || l->entries;
    }
    if (!started)
        return REG_ERR_DIRTY;
    fields.bins_size = bins;
    fields.sequence1 = fields.sequence2 = expected - 1;
    return REG_OK;
}

/* The older format. */

// Applies the dirty pages of an old-format log; a dirty page that holds a
// hive bin's header must hold a sound one (its own offset, a size of whole
// pages inside the bins), else recovery stops before it.
int apply_dirty_pages(log_file &log, overlay_builder &out)
{
    log_reader r(log.fd.get(), log.size);
    const uint32_t bins = log.fields.bins_size, bitmap_size = bins / kPage; // bins / 512 bits
    uint8_t sig[4];
    if (r.read(kSector, sig, 4) || std::memcmp(sig, "DIRT", 4))
        return REG_ERR_FORMAT;
    std::vector<uint8_t> bitmap;
    try {
        bitmap.resize(bitmap_size);
    } catch (const std::bad_alloc &) {
        return REG_ERR_NOMEM;
    }
    int rc = r.read(kSector + 4, bitmap.data(), bitmap.size());
    if (rc)
        return rc;
    uint64_t count = 0;
    for (uint8_t b : bitmap)
        count += unsigned(__builtin_popcount(b));
    const uint64_t first = (uint64_t(kSector) + 4 + bitmap_size + kSector - 1) / kSector * kSector;
    if (first + count * kSector > log.size)
        return REG_ERR_FORMAT; // cut short
    uint8_t page[kSector];
    uint64_t at = first;
    for (uint32_t bit = 0; bit < bins / kSector; ++bit) {
        if (!(bitmap[bit / 8] & (1u << (bit % 8))))
            continue;
        const uint32_t offset = bit * kSector;
        rc = r.read(at, page, sizeof page);
        if (rc)
            return rc;
        at += kSector;
        if (offset % kPage == 0 && !std::memcmp(page, "hbin", 4)) {
            const uint32_t size = ic_le32(page + 8);
            if (ic_le32(page + 4) != offset || size < kPage || size % kPage || size > bins - offset)
                break; // an unsound bin: recovery stops here
        }
        rc = out.put(offset, page);
        if (rc)
            return rc;
        ++log.pages;
    }
    log.status = REG_OK;
    return REG_OK;
}

int recover_old(std::vector<log_file *> logs, int hive_fd, reg_base_fields &fields, overlay_builder &out,
                reg_recovery *info)
{
    // A log applies to the hive whose last-written time it carries (the
    // first bin's copy of it when the base block is broken), and not when
    // it is older than the hive.
    uint64_t timestamp = fields.timestamp;
    if (!fields.checksum_ok) {
        uint8_t t[8];
        if (pread(hive_fd, t, sizeof t, off_t(kBinsStart + 20)) != ssize_t(sizeof t))
            return REG_ERR_DIRTY;
        timestamp = ic_load_le(t, 8);
    }
    std::vector<log_file *> usable;
    for (log_file *l : logs)
        if (l->fields.timestamp == timestamp && (!fields.checksum_ok || l->fields.sequence1 >= fields.sequence2))
            usable.push_back(l);
    // The most recent first (a log written after a failed write holds all that the other holds).
    std::stable_sort(usable.begin(), usable.end(), [](const log_file *a, const log_file *b) {
        return a->fields.sequence1 > b->fields.sequence1;
    });
    for (log_file *l : usable) {
        int rc = apply_dirty_pages(*l, out);
        if (rc == REG_ERR_NOMEM || rc == REG_ERR_IO)
            return rc;
        if (rc) {
            l->status = rc;
            continue;
        }
        if (!fields.checksum_ok) {
            fields = l->fields;
            info->base_repaired = 1;
        }
        fields.bins_size = l->fields.bins_size;
        fields.sequence1 = fields.sequence2 = l->fields.sequence1;
        return REG_OK;
    }
    return REG_ERR_DIRTY;
}

// Finds and opens the logs of the hive; a log that is not a regular file,
// or whose path leaves the root, is listed with that status.
int find_logs(int root_fd, const std::string &dir, const std::string &name, std::vector<log_file> &logs)
{
    int raw;
    int err = reg_open_below(root_fd, dir, O_RDONLY | O_DIRECTORY, raw);
    if (err)
        return reg_below_error(err);
    ic_util::unique_fd dir_fd(raw);
    static const char *const suffixes[] = {".LOG1", ".LOG2", ".LOG"};
    for (int i = 0; i < 3; ++i) {
        std::string found;
        err = reg_find_name_ci(dir_fd.get(), name + suffixes[i], found);
        if (err == ENOENT)
            continue;
        if (err)
            return REG_ERR_IO;
        logs.emplace_back();
        log_file &log = logs.back();
        log.name = found;
        log.order = i;
        int fd;
        log.status = reg_open_regular_below(root_fd, dir + "/" + found, fd);
        if (log.status == REG_OK) {
            log.fd.reset(fd);
            read_log_base(log);
        }
    }
    return REG_OK;
}

void report(const std::vector<log_file> &logs, reg_recovery *info)
{
    // Applied logs first, in the order applied (sequence numbers rise).
    std::vector<const log_file *> order;
    for (const log_file &l : logs)
        order.push_back(&l);
    std::stable_sort(order.begin(), order.end(), [](const log_file *a, const log_file *b) {
        const bool ua = a->status == REG_OK, ub = b->status == REG_OK;
        return ua != ub ? ua : ua && a->fields.sequence1 < b->fields.sequence1;
    });
    info->log_count = 0;
    for (const log_file *l : order) {
        if (info->log_count == REG_MAX_HIVE_LOGS)
            break;
        reg_log_info &out = info->logs[info->log_count++];
        std::snprintf(out.name, sizeof out.name, "%s", l->name.c_str());
        out.status = l->status;
        out.entries = l->entries;
        out.pages = l->pages;
    }
}

} // namespace

void reg_parse_base(const uint8_t *block, reg_base_fields &f)
{
    // The XOR of the first 127 dwords; Windows stores 0 as 1 and -1 as -2.
    uint32_t x = 0;
    for (unsigned i = 0; i < 127; ++i)
        x ^= ic_le32(block + 4 * i);
    const uint32_t stored = ic_le32(block + 508);
    const uint32_t adjusted = x == 0 ? 1 : x == 0xFFFFFFFFu ? 0xFFFFFFFEu : x;
    f.checksum_ok = (stored == x || stored == adjusted) && std::memcmp(block, "regf", 4) == 0;
    f.sequence1 = ic_le32(block + 4);
    f.sequence2 = ic_le32(block + 8);
    f.timestamp = ic_load_le(block + 12, 8);
    f.major = ic_le32(block + 20);
    f.minor = ic_le32(block + 24);
    f.root_cell = ic_le32(block + 36);
    f.bins_size = ic_le32(block + 40);
}

void reg_overlay_free(reg_overlay *overlay)
{
    delete overlay;
}

int reg_recover_hive(int hive_fd, int root_fd, const std::string &dir,
                     const std::string &name, reg_base_fields &fields, reg_overlay **overlay, reg_recovery *info)
{
    std::vector<log_file> logs;
    int rc = find_logs(root_fd, dir, name, logs);
    if (rc)
        return rc;
    std::vector<log_file *> fresh, old;
    for (log_file &l : logs)
        if (l.status == REG_ERR_NOT_FOUND)
            (is_new(l) ? fresh : old).push_back(&l);
    std::unique_ptr<reg_overlay> o(new (std::nothrow) reg_overlay);
    if (!o)
        return REG_ERR_NOMEM;
    overlay_builder builder(o.get());
    reg_base_fields recovered = fields;
    rc = REG_ERR_DIRTY;
    if (!fresh.empty()) {
        rc = recover_new(fresh, recovered, builder, info);
        if (!rc)
            info->format = REG_LOG_NEW;
    }
    if (rc == REG_ERR_DIRTY && !old.empty()) {
        recovered = fields;
        rc = recover_old(old, hive_fd, recovered, builder, info);
        if (!rc)
            info->format = REG_LOG_OLD;
    }
    report(logs, info);
    if (!rc)
        rc = builder.finish();
    if (rc)
        return rc;
    fields = recovered;
    *overlay = o.release();
    return REG_OK;
}
