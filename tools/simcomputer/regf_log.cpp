// Transaction logs of a hive and the hive file Windows leaves beside them.
//
// A base block copy (512 bytes: the hive's base block with the log's file
// type, both sequence numbers alike, its own checksum) starts every log.
// Old format (type 1): at 512 "DIRT" and a bitmap, one bit per 512-byte
// page of the hive bins (bits from the least significant of each byte),
// padded to a sector; then each dirty page (512 bytes) in bit order.  Pages
// go dirty in 4096-byte blocks, so the bitmap holds 0x00 and 0xFF bytes.
// New format (type 6): from 512 log entries, each a multiple of 512 bytes:
// "HvLE", size, flags, sequence number, hive bins size, page count, the
// Marvin32 of everything after the 40-byte header, the Marvin32 of the first
// 32 bytes, (offset, size) per run of dirty pages, then the runs' bytes.
#include "regf_image.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace simcomputer {
namespace {

using regf::put32;
using regf::put64;

constexpr uint64_t kEntrySeed = 0xC5554E7A884DEF82ull; // bytes 82 EF 4D 88 7A 4E 55 C5
constexpr size_t kPage = 4096, kSector = 512, kEntryHeader = 40;
constexpr uint32_t kStaleGap = 16; // stale entries end this far before the base
constexpr uint64_t kHour = 36000000000ull;

bool same_values(const std::vector<RegValue> &a, const std::vector<RegValue> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const RegValue &x, const RegValue &y) {
        return x.name == y.name && x.form == y.form && x.type == y.type && x.data == y.data && x.raw_size == y.raw_size;
    });
}

const RegKey *namesake(const RegKey &parent, const std::u16string &name)
{
    for (const RegKey &k : parent.subkeys)
        if (regf::same_name(k.name, name))
            return &k;
    return nullptr;
}

void touch_new(RegKey &key, uint64_t time)
{
    if (key.timestamp == RegKey::kDefaultTimestamp)
        key.timestamp = time;
    for (RegKey &k : key.subkeys)
        touch_new(k, time);
}

// An entry's time: its own, or an hour per entry after the base block's.
uint64_t log_entry_time(const RegHive &hive, size_t index)
{
    const uint64_t own = hive.logs.entries.at(index).time;
    return own ? own : regf::written_time(hive) + (index + 1) * kHour;
}

// Gives time to every key of after that is new or whose values or subkey
// names differ from its namesake in before, unless its timestamp was
// changed already: the last-written times a write leaves.
void touch_keys(const RegKey &before, RegKey &after, uint64_t time)
{
    bool changed = !same_values(before.values, after.values) || before.subkeys.size() != after.subkeys.size();
    for (RegKey &k : after.subkeys) {
        const RegKey *old = namesake(before, k.name);
        changed = changed || !old;
        if (old)
            touch_keys(*old, k, time);
        else
            touch_new(k, time);
    }
    if (changed && after.timestamp == before.timestamp)
        after.timestamp = time;
}

// A hive with logs as Windows has it: the states its writes lead to, their
// sequence numbers and the fields of the base blocks.
class Plan {
public:
    explicit Plan(const RegHive &hive) : h_(hive), s_(hive.sequence)
    {
        for (size_t i = 0; i < hive.logs.entries.size(); ++i)
            (hive.logs.entries[i].stale ? stale_ : current_).push_back(i);
        dirty_ = hive.logs.dirty.value_or(!current_.empty());
        old_ = hive.logs.format != RegLogFormat::new_;
        // The old format stamps the hive and its log with the time of the write.
        time_ = old_ && !current_.empty() ? log_entry_time(hive, current_.back()) : regf::written_time(hive);
    }

    bool dirty() const { return dirty_; }
    bool old() const { return old_; }
    uint64_t time() const { return time_; }
    uint32_t sequence() const { return s_; }
    const std::vector<size_t> &current() const { return current_; }

    uint32_t entry_sequence(size_t index) const
    {
        auto at = std::find(current_.begin(), current_.end(), index);
        if (at != current_.end())
            return s_ + uint32_t(at - current_.begin());
        at = std::find(stale_.begin(), stale_.end(), index);
        return s_ - kStaleGap - uint32_t(stale_.size()) + uint32_t(at - stale_.begin());
    }

    // The hive holding root, with the base blocks' time in its first bin.
    RegHive state(const RegKey &root) const
    {
        RegHive s;
        s.root = root;
        s.major = h_.major;
        s.minor = h_.minor;
        s.ri_threshold = h_.ri_threshold;
        s.file_name = h_.file_name;
        s.written = time_;
        s.bin_written = true;
        return s;
    }
    regf::Bins bins(const RegKey &root) const { return regf::write_bins(state(root)); }

    // The state before an entry: the previous one of its kind, or the base.
    const RegKey &before(size_t index) const
    {
        const std::vector<size_t> &chain = h_.logs.entries[index].stale ? stale_ : current_;
        auto at = std::find(chain.begin(), chain.end(), index);
        return at == chain.begin() ? h_.root : h_.logs.entries[*(at - 1)].root;
    }

    // The current writes that apply: up to the first damaged one.
    size_t applied() const
    {
        size_t n = 0;
        while (n < current_.size() && h_.logs.entries[current_[n]].damage == RegLogDamage::none)
            ++n;
        return n;
    }

    // The hive bins the old format's log leads to: those of its last write.
    const RegKey &old_target() const
    {
        return current_.empty() ? h_.root : h_.logs.entries[current_.back()].root;
    }

private:
    const RegHive &h_;
    uint32_t s_;
    std::vector<size_t> current_, stale_;
    bool dirty_ = false, old_ = false;
    uint64_t time_ = 0;
};

// Runs of 4096-byte pages of to that differ from from or lie beyond it:
// (offset, size).
std::vector<std::pair<uint32_t, uint32_t>> dirty_runs(const std::vector<uint8_t> &from, const std::vector<uint8_t> &to)
{
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (size_t at = 0; at < to.size(); at += kPage) {
        const bool dirty = at + kPage > from.size() || !std::equal(to.begin() + long(at), to.begin() + long(at + kPage),
                                                                   from.begin() + long(at));
        if (!dirty)
            continue;
        if (!runs.empty() && runs.back().first + runs.back().second == at)
            runs.back().second += uint32_t(kPage);
        else
            runs.emplace_back(uint32_t(at), uint32_t(kPage));
    }
    return runs;
}

std::vector<uint8_t> log_start(const RegHive &hive, const regf::Block &fields)
{
    std::vector<uint8_t> block = regf::base_block(hive, fields);
    block.resize(kSector);
    return block;
}

// One new-format entry leading from the hive bins from to to.
std::vector<uint8_t> log_entry(uint32_t sequence, const std::vector<uint8_t> &from, const std::vector<uint8_t> &to,
                               RegLogDamage damage)
{
    const auto runs = dirty_runs(from, to);
    size_t size = kEntryHeader + 8 * runs.size();
    for (const auto &r : runs)
        size += r.second;
    size = (size + kSector - 1) / kSector * kSector;
    std::vector<uint8_t> e(size, 0);
    std::memcpy(e.data(), damage == RegLogDamage::signature ? "HvLF" : "HvLE", 4);
    put32(e, 4, uint32_t(size));
    put32(e, 12, sequence);
    put32(e, 16, uint32_t(to.size()) + (damage == RegLogDamage::bins_size ? kSector : 0));
    put32(e, 20, uint32_t(runs.size()));
    size_t at = kEntryHeader + 8 * runs.size();
    for (size_t i = 0; i < runs.size(); ++i) {
        put32(e, kEntryHeader + 8 * i, runs[i].first);
        put32(e, kEntryHeader + 8 * i + 4, runs[i].second);
        std::copy(to.begin() + runs[i].first, to.begin() + runs[i].first + runs[i].second, e.begin() + long(at));
        at += runs[i].second;
    }
    put64(e, 24, marvin32(kEntrySeed, e.data() + kEntryHeader, size - kEntryHeader));
    put64(e, 32, marvin32(kEntrySeed, e.data(), 32) ^ (damage == RegLogDamage::hash2 ? 1 : 0));
    if (damage == RegLogDamage::hash1)
        e.back() ^= 0x5A; // torn after it was hashed
    return e;
}

// The old format's bitmap and pages leading from the hive bins from to to.
void append_dirty_pages(std::vector<uint8_t> &log, const std::vector<uint8_t> &from, const std::vector<uint8_t> &to)
{
    std::vector<uint8_t> vector(4 + to.size() / kPage, 0);
    std::memcpy(vector.data(), "DIRT", 4);
    const auto runs = dirty_runs(from, to);
    for (const auto &r : runs)
        for (size_t page = r.first / kPage; page < (r.first + r.second) / kPage; ++page)
            vector[4 + page] = 0xFF; // eight 512-byte pages
    vector.resize((vector.size() + kSector - 1) / kSector * kSector, 0);
    log.insert(log.end(), vector.begin(), vector.end());
    for (const auto &r : runs)
        log.insert(log.end(), to.begin() + r.first, to.begin() + r.first + r.second);
}

// Hive bins grown to size by one empty bin, as the file grows before a write.
void grow_bins(std::vector<uint8_t> &bins, size_t size)
{
    if (bins.size() >= size)
        return;
    const size_t at = bins.size();
    bins.resize(size, 0);
    std::memcpy(&bins[at], "hbin", 4);
    put32(bins, at + 4, uint32_t(at));
    put32(bins, at + 8, uint32_t(size - at));
    put32(bins, at + 32, uint32_t(size - at - 32)); // one free cell
}

void check_logs(const RegHive &hive)
{
    const std::string error = regf_log_error(hive);
    if (!error.empty())
        throw std::invalid_argument(error);
}

} // namespace

uint64_t marvin32(uint64_t seed, const uint8_t *data, size_t size)
{
    uint32_t lo = uint32_t(seed), hi = uint32_t(seed >> 32);
    const auto rotl = [](uint32_t v, int k) { return v << k | v >> (32 - k); };
    const auto mix = [&](uint32_t v) {
        lo += v;
        hi ^= lo;
        lo = rotl(lo, 20);
        lo += hi;
        hi = rotl(hi, 9);
        hi ^= lo;
        lo = rotl(lo, 27);
        lo += hi;
        hi = rotl(hi, 19);
    };
    for (; size >= 4; data += 4, size -= 4)
        mix(uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24);
    uint32_t last = 0x80; // the 0-3 bytes left, then 0x80
    for (size_t i = size; i-- > 0;)
        last = last << 8 | data[i];
    mix(last);
    mix(0);
    return uint64_t(hi) << 32 | lo;
}

RegLogEntry &add_log_entry(RegHive &hive, RegLogEntry entry, const std::function<void(RegKey &)> &change)
{
    const RegKey *before = &hive.root;
    for (const RegLogEntry &earlier : hive.logs.entries)
        if (earlier.stale == entry.stale)
            before = &earlier.root;
    const RegKey start = *before;
    entry.root = start;
    change(entry.root);
    hive.logs.entries.push_back(std::move(entry));
    RegLogEntry &added = hive.logs.entries.back();
    touch_keys(start, added.root, log_entry_time(hive, hive.logs.entries.size() - 1));
    return added;
}

std::string regf_log_error(const RegHive &hive)
{
    const RegLogs &logs = hive.logs;
    if (logs.format == RegLogFormat::none)
        return logs.entries.empty() && !logs.dirty && !logs.torn && !logs.empty_files ? ""
                                                                                      : "logs without a log format";
    const Plan plan(hive);
    if (logs.torn && !plan.dirty())
        return "a torn base block makes the hive dirty";
    const unsigned files = logs.format == RegLogFormat::old_single ? 1 : 2;
    size_t stale = 0;
    for (const RegLogEntry &e : logs.entries) {
        if (e.file < 1 || e.file > files)
            return files == 1 ? "the single-log form has one log" : "a log entry goes to log 1 or 2";
        if (e.damage != RegLogDamage::none && plan.old())
            return "only the new format's entries carry checks to damage";
        stale += e.stale;
    }
    if (stale && hive.sequence < kStaleGap + stale)
        return "the sequence number leaves no room for the stale entries before it";
    if (hive.sequence > UINT32_MAX - 1 - logs.entries.size())
        return "the sequence number leaves no room for the entries after it";
    const std::vector<size_t> &current = plan.current();
    for (unsigned f = 1; f <= files; ++f) {
        bool seen_stale = false, seen_current = false;
        for (const RegLogEntry &e : logs.entries) {
            if (e.file != f)
                continue;
            if (!e.stale && seen_stale)
                return "stale entries of a log follow its current ones";
            if (plan.old() && e.stale && seen_current)
                return "an old-format log holds either current writes or stale ones";
            if (plan.old() && e.stale && plan.time() == log_entry_time(hive, size_t(&e - logs.entries.data())))
                return "a stale old-format log has a time of its own";
            seen_stale = seen_stale || e.stale;
            seen_current = seen_current || !e.stale;
        }
    }
    size_t switches = 0;
    for (size_t i = 1; i < current.size(); ++i)
        switches += logs.entries[current[i]].file != logs.entries[current[i - 1]].file;
    if (switches > (logs.torn || plan.old() ? 0 : 1))
        return logs.torn || plan.old() ? "the current writes go to one log"
                                       : "the current entries continue from one log into the other once";
    return "";
}

namespace regf {

std::vector<uint8_t> write_dirty_base(const RegHive &hive)
{
    check_logs(hive);
    const Plan plan(hive);
    const uint32_t s = plan.sequence();
    Bins base = plan.bins(hive.root);
    const uint32_t base_size = uint32_t(base.bytes.size());
    Block fields{plan.dirty() ? s + 1 : s, s, plan.time(), 0, base.root, base_size};
    if (plan.old() && plan.dirty()) {
        // The file has grown and its base block holds the new hive bins' size.
        const Bins target = plan.bins(plan.old_target());
        grow_bins(base.bytes, target.bytes.size());
        fields.root = target.root;
        fields.bins_size = uint32_t(target.bytes.size());
    }
    std::vector<uint8_t> block;
    if (hive.logs.torn) {
        // Of the write's base block only the new primary sequence number
        // reached the disk: the checksum is still the old block's.
        block = base_block(hive, Block{s, s, written_time(hive), 0, base.root, base_size});
        put32(block, 4, s + 1);
    } else {
        block = base_block(hive, fields);
    }
    block.insert(block.end(), base.bytes.begin(), base.bytes.end());
    return block;
}

} // namespace regf

std::vector<std::pair<std::string, std::vector<uint8_t>>> write_regf_logs(const RegHive &hive)
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
    if (hive.logs.format == RegLogFormat::none)
        return out;
    check_logs(hive);
    const Plan plan(hive);
    const RegLogs &logs = hive.logs;
    const bool single = logs.format == RegLogFormat::old_single;
    const std::vector<uint8_t> file = write_regf(hive);
    const std::vector<uint8_t> base_bins(file.begin() + kPage, file.end());
    for (unsigned f = 1; f <= (single ? 1u : 2u); ++f) {
        std::vector<size_t> mine;
        for (size_t i = 0; i < logs.entries.size(); ++i)
            if (logs.entries[i].file == f)
                mine.push_back(i);
        const std::string suffix = single ? ".LOG" : ".LOG" + std::to_string(f);
        if (mine.empty()) {
            if (logs.empty_files)
                out.emplace_back(suffix, std::vector<uint8_t>());
            continue;
        }
        const RegLogEntry &first = logs.entries[mine.front()];
        const uint32_t sequence = plan.entry_sequence(mine.front());
        std::vector<uint8_t> log;
        if (plan.old()) {
            // One write: every entry of the log merged into the last one's state.
            const RegLogEntry &last = logs.entries[mine.back()];
            const regf::Bins target = plan.bins(last.root);
            const uint64_t time = first.stale ? log_entry_time(hive, mine.back()) : plan.time();
            log = log_start(hive, {sequence + (first.stale ? 0 : 1), sequence + (first.stale ? 0 : 1), time, 1,
                                   target.root, uint32_t(target.bytes.size())});
            append_dirty_pages(log, base_bins, target.bytes);
        } else {
            // The base block as it was when the log's first entry was written.
            const regf::Bins start = plan.bins(plan.before(mine.front()));
            log = log_start(hive, {sequence, sequence, plan.time(), 6, start.root, uint32_t(start.bytes.size())});
            for (size_t i : mine) {
                const RegLogEntry &e = logs.entries[i];
                const std::vector<uint8_t> from = plan.bins(plan.before(i)).bytes;
                const std::vector<uint8_t> entry =
                    log_entry(plan.entry_sequence(i), from, plan.bins(e.root).bytes, e.damage);
                log.insert(log.end(), entry.begin(), entry.end());
            }
        }
        out.emplace_back(suffix, std::move(log));
    }
    return out;
}

std::optional<RegHive> final_state(const RegHive &hive)
{
    if (hive.logs.format == RegLogFormat::none)
        return hive;
    check_logs(hive);
    const Plan plan(hive);
    const RegKey *root = &hive.root;
    uint32_t sequence = hive.sequence;
    if (plan.dirty()) {
        const size_t n = plan.old() ? plan.current().size() : plan.applied();
        if (n == 0)
            return std::nullopt;
        root = &hive.logs.entries[plan.current()[n - 1]].root;
        sequence += uint32_t(n);
    }
    RegHive out = plan.state(*root);
    out.sequence = sequence;
    return out;
}

} // namespace simcomputer
