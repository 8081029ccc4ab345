// The REGF writer: base block, hive bins and cells ("nk", "vk", "sk", the
// subkey lists "li"/"lf"/"lh"/"ri", value lists, data cells and "db" big data).
#include "regf_image.h"

#include "ic/reg/reg.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace simcomputer {
namespace {

using regf::put16;
using regf::put32;
using regf::put64;

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kSegment = 16344;
constexpr uint32_t kBigDataFrom = 16345;

int compare(const std::u16string &a, const std::u16string &b)
{
    return reg_u16strncasecmp2(reinterpret_cast<const reg_char *>(a.data()), a.size(),
                               reinterpret_cast<const reg_char *>(b.data()), b.size());
}

bool narrow(const std::u16string &name, RegNameForm form)
{
    if (form != RegNameForm::auto_)
        return form == RegNameForm::narrow;
    return std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 256; });
}

// Name bytes as stored: one byte per unit, or UTF-16LE.
std::vector<uint8_t> name_bytes(const std::u16string &name, bool is_narrow)
{
    std::vector<uint8_t> out;
    for (char16_t c : name) {
        out.push_back(uint8_t(c));
        if (!is_narrow)
            out.push_back(uint8_t(c >> 8));
    }
    return out;
}

class Writer {
public:
    explicit Writer(const RegHive &hive) : hive_(hive) {}

    // The hive bins; root gets the root key's cell.
    std::vector<uint8_t> run(uint32_t &root)
    {
        root = write_key(hive_.root, kNone, true);
        link_security();
        if (next_ < bin_end_)
            put32(bins_, next_, bin_end_ - next_); // the rest of the last bin is free
        return std::move(bins_);
    }

private:
    // A used cell with room for size data bytes; returns its offset.
    uint32_t alloc(size_t size)
    {
        const uint32_t cell = uint32_t((size + 4 + 7) & ~size_t(7));
        if (next_ + cell > bin_end_) {
            if (next_ < bin_end_)
                put32(bins_, next_, bin_end_ - next_);
            const uint32_t bin = bin_end_;
            const uint32_t bin_size = (cell + 32 + 4095) & ~4095u;
            bins_.resize(size_t(bin) + bin_size, 0);
            std::memcpy(&bins_[bin], "hbin", 4);
            put32(bins_, bin + 4, bin);
            put32(bins_, bin + 8, bin_size);
            bin_end_ = bin + bin_size;
            next_ = bin + 32;
        }
        const uint32_t at = next_;
        put32(bins_, at, uint32_t(-int32_t(cell)));
        next_ += cell;
        return at;
    }

    uint32_t cell_with(const std::vector<uint8_t> &data)
    {
        const uint32_t at = alloc(data.size());
        std::copy(data.begin(), data.end(), bins_.begin() + at + 4);
        return at;
    }

    uint32_t security(const std::vector<uint8_t> &sd)
    {
        auto it = sk_.find(sd);
        if (it != sk_.end()) {
            ++sk_refs_[it->second];
            return it->second;
        }
        std::vector<uint8_t> d(20 + sd.size(), 0);
        std::memcpy(d.data(), "sk", 2);
        put32(d, 16, uint32_t(sd.size()));
        std::copy(sd.begin(), sd.end(), d.begin() + 20);
        const uint32_t at = cell_with(d);
        sk_[sd] = at;
        sk_order_.push_back(at);
        sk_refs_[at] = 1;
        return at;
    }

    // Security records form a ring (flink at 4, blink at 8), reference count at 12.
    void link_security()
    {
        const size_t n = sk_order_.size();
        for (size_t i = 0; i < n; ++i) {
            const uint32_t at = sk_order_[i];
            put32(bins_, at + 4 + 4, sk_order_[(i + 1) % n]);
            put32(bins_, at + 4 + 8, sk_order_[(i + n - 1) % n]);
            put32(bins_, at + 4 + 12, sk_refs_[at]);
        }
    }

    uint32_t write_data(const std::vector<uint8_t> &data)
    {
        const size_t n = data.size();
        if ((hive_.major == 1 && hive_.minor < 4) || n < kBigDataFrom)
            return cell_with(data);
        const uint32_t count = uint32_t((n + kSegment - 1) / kSegment);
        std::vector<uint8_t> list(4 * size_t(count));
        for (uint32_t i = 0; i < count; ++i) {
            const size_t from = size_t(i) * kSegment, len = std::min<size_t>(kSegment, n - from);
            put32(list, 4 * i, cell_with(std::vector<uint8_t>(data.begin() + long(from), data.begin() + long(from + len))));
        }
        const uint32_t list_cell = cell_with(list);
        std::vector<uint8_t> db(12, 0);
        std::memcpy(db.data(), "db", 2);
        put16(db, 2, uint16_t(count));
        put32(db, 4, list_cell);
        return cell_with(db);
    }

    uint32_t write_value(const RegValue &v)
    {
        const bool is_narrow = narrow(v.name, v.form);
        const std::vector<uint8_t> name = name_bytes(v.name, is_narrow);
        const uint32_t at = alloc(20 + name.size());
        std::vector<uint8_t> d(20 + name.size(), 0);
        std::memcpy(d.data(), "vk", 2);
        put16(d, 2, uint16_t(name.size()));
        uint32_t size, field = 0;
        if (v.raw_size || v.data.size() <= 4) {
            size = v.raw_size ? *v.raw_size : 0x80000000u | uint32_t(v.data.size());
            for (size_t i = 0; i < 4 && i < v.data.size(); ++i)
                field |= uint32_t(v.data[i]) << (8 * i);
        } else {
            size = uint32_t(v.data.size());
            field = write_data(v.data);
        }
        put32(d, 4, size);
        put32(d, 8, field);
        put32(d, 12, v.type);
        put16(d, 16, is_narrow ? 1 : 0);
        std::copy(name.begin(), name.end(), d.begin() + 20);
        std::copy(d.begin(), d.end(), bins_.begin() + at + 4);
        return at;
    }

    RegList leaf_kind(RegList kind) const
    {
        if (kind == RegList::auto_ || kind == RegList::ri)
            return hive_.major == 1 && hive_.minor < 4 ? RegList::lf : RegList::lh;
        return kind;
    }

    uint32_t write_list(RegList kind, const std::vector<const RegKey *> &keys,
                        const std::vector<uint32_t> &cells, size_t from, size_t count)
    {
        const size_t elem = kind == RegList::li ? 4 : 8;
        std::vector<uint8_t> d(4 + elem * count, 0);
        std::memcpy(d.data(), kind == RegList::li ? "li" : kind == RegList::lf ? "lf" : "lh", 2);
        put16(d, 2, uint16_t(count));
        for (size_t i = 0; i < count; ++i) {
            const size_t at = 4 + elem * i;
            put32(d, at, cells[from + i]);
            const std::u16string &name = keys[from + i]->name;
            if (kind == RegList::lf) {
                for (size_t j = 0; j < 4 && j < name.size() && name[j] < 256; ++j)
                    d[at + 4 + j] = uint8_t(name[j]);
            } else if (kind == RegList::lh) {
                uint32_t h = 0;
                for (char16_t c : name)
                    h = h * 37 + reg_u16uppercase(reg_char(c));
                put32(d, at + 4, h);
            }
        }
        return cell_with(d);
    }

    uint32_t write_key(const RegKey &k, uint32_t parent, bool root)
    {
        const bool is_narrow = narrow(k.name, k.form);
        const std::vector<uint8_t> name = name_bytes(k.name, is_narrow);
        const uint32_t at = alloc(76 + name.size());
        std::vector<uint8_t> d(76 + name.size(), 0);
        std::memcpy(d.data(), "nk", 2);
        put16(d, 2, uint16_t((root ? 0x2C : 0) | (is_narrow ? 0x20 : 0) | (k.symlink ? 0x10 : 0)));
        put64(d, 4, k.timestamp);
        put32(d, 16, root ? 0 : parent);
        put32(d, 28, kNone);
        put32(d, 32, kNone);
        put32(d, 40, kNone);
        put32(d, 44, k.security ? security(*k.security) : kNone);
        put32(d, 48, kNone);
        if (k.class_name) {
            std::vector<uint8_t> c = name_bytes(*k.class_name, false);
            put32(d, 48, cell_with(c));
            put16(d, 74, uint16_t(c.size()));
        }
        uint32_t max_value_name = 0, max_data = 0;
        if (!k.values.empty()) {
            std::vector<uint8_t> list(4 * k.values.size());
            for (size_t i = 0; i < k.values.size(); ++i) {
                put32(list, 4 * i, write_value(k.values[i]));
                max_value_name = std::max<uint32_t>(max_value_name, uint32_t(2 * k.values[i].name.size()));
                max_data = std::max<uint32_t>(max_data, uint32_t(k.values[i].data.size()));
            }
            put32(d, 36, uint32_t(k.values.size()));
            put32(d, 40, cell_with(list));
        }
        uint32_t max_subkey_name = 0, max_class = 0;
        if (!k.subkeys.empty()) {
            std::vector<const RegKey *> sorted;
            for (const RegKey &s : k.subkeys)
                sorted.push_back(&s);
            std::stable_sort(sorted.begin(), sorted.end(),
                             [](const RegKey *a, const RegKey *b) { return compare(a->name, b->name) < 0; });
            std::vector<uint32_t> cells;
            for (const RegKey *s : sorted) {
                cells.push_back(write_key(*s, at, false));
                max_subkey_name = std::max<uint32_t>(max_subkey_name, uint32_t(2 * s->name.size()));
                if (s->class_name)
                    max_class = std::max<uint32_t>(max_class, uint32_t(2 * s->class_name->size()));
            }
            RegList kind = k.list;
            if (kind == RegList::auto_ && sorted.size() > hive_.ri_threshold)
                kind = RegList::ri;
            uint32_t list;
            if (kind == RegList::ri) {
                const size_t chunk = k.ri_chunk ? k.ri_chunk : 500;
                const RegList leaf = leaf_kind(k.sublist);
                std::vector<uint32_t> subs;
                for (size_t from = 0; from < sorted.size(); from += chunk)
                    subs.push_back(write_list(leaf, sorted, cells, from, std::min(chunk, sorted.size() - from)));
                std::vector<uint8_t> ri(4 + 4 * subs.size());
                std::memcpy(ri.data(), "ri", 2);
                put16(ri, 2, uint16_t(subs.size()));
                for (size_t i = 0; i < subs.size(); ++i)
                    put32(ri, 4 + 4 * i, subs[i]);
                list = cell_with(ri);
            } else {
                list = write_list(leaf_kind(kind), sorted, cells, 0, sorted.size());
            }
            put32(d, 20, uint32_t(sorted.size()));
            put32(d, 28, list);
        }
        put32(d, 52, max_subkey_name);
        put32(d, 56, max_class);
        put32(d, 60, max_value_name);
        put32(d, 64, max_data);
        put16(d, 72, uint16_t(name.size()));
        std::copy(name.begin(), name.end(), d.begin() + 76);
        std::copy(d.begin(), d.end(), bins_.begin() + at + 4);
        return at;
    }

    const RegHive &hive_;
    std::vector<uint8_t> bins_;
    uint32_t next_ = 0, bin_end_ = 0;
    std::map<std::vector<uint8_t>, uint32_t> sk_;
    std::vector<uint32_t> sk_order_;
    std::map<uint32_t, uint32_t> sk_refs_;
};

std::vector<RegKey>::iterator find_subkey(RegKey &k, const std::u16string &name)
{
    return std::find_if(k.subkeys.begin(), k.subkeys.end(), [&](const RegKey &s) { return !s.literal && regf::same_name(s.name, name); });
}

// The key at path below k (components separated by backslashes); missing
// ones are made when make is set, else the result is null.
RegKey *walk(RegKey *k, const std::u16string &path, bool make)
{
    size_t pos = 0;
    while (k && pos < path.size()) {
        size_t end = path.find(u'\\', pos);
        if (end == std::u16string::npos)
            end = path.size();
        const std::u16string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty())
            continue;
        auto it = find_subkey(*k, part);
        if (it != k->subkeys.end()) {
            k = &*it;
        } else if (make) {
            k->subkeys.push_back(RegKey{});
            k->subkeys.back().name = part;
            k = &k->subkeys.back();
        } else {
            k = nullptr;
        }
    }
    return k;
}

} // namespace

std::vector<uint8_t> RegKey::default_security()
{
    // Self-relative descriptor: owner and group S-1-5-32-544, no ACLs.
    return {1, 0, 0x00, 0x80, 20, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
            1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0,  // owner
            1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0}; // group
}

RegKey &RegKey::child(const std::u16string &path)
{
    return *walk(this, path, true);
}

RegKey *RegKey::find(const std::u16string &path)
{
    return walk(this, path, false);
}

const RegKey *RegKey::find(const std::u16string &path) const
{
    return walk(const_cast<RegKey *>(this), path, false);
}

RegValue &RegKey::value(const std::u16string &name)
{
    for (RegValue &v : values)
        if (regf::same_name(v.name, name))
            return v;
    values.push_back(RegValue{});
    values.back().name = name;
    return values.back();
}

bool RegKey::remove(const std::u16string &path)
{
    const size_t cut = path.find_last_of(u'\\');
    RegKey *parent = cut == std::u16string::npos ? this : find(path.substr(0, cut));
    if (!parent)
        return false;
    auto it = find_subkey(*parent, cut == std::u16string::npos ? path : path.substr(cut + 1));
    if (it == parent->subkeys.end())
        return false;
    parent->subkeys.erase(it);
    return true;
}

bool RegKey::remove_value(const std::u16string &name)
{
    auto it = std::find_if(values.begin(), values.end(), [&](const RegValue &v) { return regf::same_name(v.name, name); });
    if (it == values.end())
        return false;
    values.erase(it);
    return true;
}

namespace regf {

void put16(std::vector<uint8_t> &b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

void put64(std::vector<uint8_t> &b, size_t at, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

bool same_name(const std::u16string &a, const std::u16string &b)
{
    return compare(a, b) == 0;
}

uint32_t get32(const std::vector<uint8_t> &b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

Bins write_bins(const RegHive &hive)
{
    Bins bins;
    bins.bytes = Writer(hive).run(bins.root);
    if (hive.bin_written)
        put64(bins.bytes, 20, written_time(hive));
    return bins;
}

uint64_t written_time(const RegHive &hive)
{
    return hive.written ? hive.written : hive.root.timestamp;
}

std::vector<uint8_t> base_block(const RegHive &hive, const Block &f)
{
    std::vector<uint8_t> block(4096, 0);
    std::memcpy(block.data(), "regf", 4);
    put32(block, 4, f.primary);
    put32(block, 8, f.secondary);
    put64(block, 12, f.time);
    put32(block, 20, hive.major);
    put32(block, 24, hive.minor);
    put32(block, 28, f.type);
    put32(block, 32, 1);
    put32(block, 36, f.root);
    put32(block, 40, f.bins_size);
    put32(block, 44, 1);
    for (size_t i = 0; i < hive.file_name.size() && i < 31; ++i)
        put16(block, 48 + 2 * i, uint16_t(hive.file_name[i]));
    set_checksum(block);
    return block;
}

void set_checksum(std::vector<uint8_t> &block)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < 127; ++i)
        sum ^= get32(block, 4 * i);
    // Windows never stores 0 or 0xFFFFFFFF.
    if (sum == 0)
        sum = 1;
    else if (sum == 0xFFFFFFFFu)
        sum = 0xFFFFFFFEu;
    put32(block, 508, sum);
}

} // namespace regf

std::vector<uint8_t> write_regf(const RegHive &hive)
{
    if (hive.logs.format != RegLogFormat::none)
        return regf::write_dirty_base(hive);
    regf::Bins bins = regf::write_bins(hive);
    const regf::Block fields{hive.sequence, hive.sequence, regf::written_time(hive), 0, bins.root,
                             uint32_t(bins.bytes.size())};
    std::vector<uint8_t> file = regf::base_block(hive, fields);
    file.insert(file.end(), bins.bytes.begin(), bins.bytes.end());
    return file;
}

std::vector<uint8_t> reg_sz(const std::u16string &s)
{
    std::vector<uint8_t> out;
    for (char16_t c : s) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::vector<uint8_t> reg_dword(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::vector<uint8_t> reg_qword(uint64_t v)
{
    std::vector<uint8_t> out(8);
    for (int i = 0; i < 8; ++i)
        out[i] = uint8_t(v >> (8 * i));
    return out;
}

std::vector<uint8_t> reg_multi_sz(const std::vector<std::u16string> &strings)
{
    std::vector<uint8_t> out;
    for (const auto &s : strings) {
        std::vector<uint8_t> one = reg_sz(s);
        out.insert(out.end(), one.begin(), one.end());
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::u16string utf16(const std::string &utf8)
{
    reg_char *wide = nullptr;
    if (reg_utf8_to_utf16_alloc(utf8.c_str(), &wide) != REG_OK)
        return {};
    std::u16string out(reinterpret_cast<const char16_t *>(wide));
    reg_free_string(wide);
    return out;
}

} // namespace simcomputer
