// Disk contents: the MBR and the chain of extended boot records built from
// the partitions, seeded boot sectors, and disks copied from image files,
// written into the device node files (/dev/NAME is the disk).
#include "description.h"
#include "internal.h"
#include "tree.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/stat.h>

namespace simcomputer {
namespace {

constexpr uint64_t sector = 512;
constexpr unsigned boot_sectors = 62;
constexpr size_t table_offset = 446;
constexpr size_t disk_id_offset = 440;

[[noreturn]] void fail(int line, const std::string &message)
{
    throw description_error{line, message};
}

// Logical partitions in chain order.
std::vector<const Partition *> logicals(const BlockDevice &b)
{
    std::vector<const Partition *> l;
    for (const auto &p : b.partitions)
        if (p.number >= 5)
            l.push_back(&p);
    std::sort(l.begin(), l.end(), [](const Partition *x, const Partition *y) { return x->number < y->number; });
    return l;
}

const Partition *extended(const BlockDevice &b)
{
    for (const auto &p : b.partitions)
        if (p.number <= 4 && extended_type(p.type))
            return &p;
    return nullptr;
}

// Sector of the extended boot record in front of the i-th logical partition:
// the extended partition's first sector, then the sector after the previous
// logical partition.
uint64_t record_of(const Partition &ext, const std::vector<const Partition *> &l, size_t i)
{
    return i == 0 ? ext.start : l[i - 1]->start + l[i - 1]->sectors;
}

// Cylinder, head and sector bytes of an LBA (255 heads, 63 sectors), capped
// as partitioning tools do beyond cylinder 1023.
void put_chs(uint8_t *p, uint64_t lba)
{
    uint64_t c = lba / (255 * 63), h = (lba / 63) % 255, s = lba % 63 + 1;
    if (c > 1023)
        c = 1023, h = 254, s = 63;
    p[0] = uint8_t(h);
    p[1] = uint8_t((s & 0x3F) | ((c >> 2) & 0xC0));
    p[2] = uint8_t(c);
}

void put_entry(uint8_t *e, uint8_t boot, uint8_t type, uint64_t abs_start, uint32_t rel_start, uint32_t count)
{
    e[0] = boot;
    put_chs(e + 1, abs_start);
    e[4] = type;
    put_chs(e + 5, abs_start + (count ? count - 1 : 0));
    put32(e + 8, rel_start);
    put32(e + 12, count);
}

// The disk's sectors that get contents, zero-filled when first touched.
class Sectors {
public:
    explicit Sectors(uint64_t disk_sectors) : count_(disk_sectors) {}
    uint8_t *at(uint64_t lba)
    {
        auto &s = map_[lba];
        if (s.empty())
            s.assign(sector, 0);
        return s.data();
    }
    // n sectors from lba (cut at the end of the disk) from seeded bytes.
    void seed(uint64_t lba, uint64_t n, const std::string &text)
    {
        SeedBytes rng(text);
        for (uint64_t i = 0; i < n && lba + i < count_; ++i) {
            uint8_t *s = at(lba + i);
            for (size_t j = 0; j < sector; j += 8)
                put64(s + j, rng.next());
        }
    }
    std::vector<std::pair<uint64_t, const std::vector<uint8_t> *>> pieces() const
    {
        std::vector<std::pair<uint64_t, const std::vector<uint8_t> *>> out;
        for (const auto &[lba, bytes] : map_)
            if (lba < count_)
                out.emplace_back(lba * sector, &bytes);
        return out;
    }

private:
    static void put64(uint8_t *p, uint64_t v)
    {
        put32(p, uint32_t(v));
        put32(p + 4, uint32_t(v >> 32));
    }
    uint64_t count_;
    std::map<uint64_t, std::vector<uint8_t>> map_;
};

void sign(uint8_t *record, bool yes)
{
    put16(record + 510, yes ? 0xAA55 : 0);
}

void write_tables(const BlockDevice &b, Sectors &s)
{
    uint8_t *mbr = s.at(0);
    std::memset(mbr + table_offset, 0, sector - table_offset);
    if (b.label_id)
        put32(mbr + disk_id_offset, *b.label_id);
    for (const auto &p : b.partitions)
        if (p.number <= 4)
            put_entry(mbr + table_offset + 16 * (p.number - 1), p.boot, p.type, p.start, uint32_t(p.start),
                      uint32_t(p.sectors));
    sign(mbr, b.signature);

    const Partition *ext = extended(b);
    const auto l = logicals(b);
    for (size_t i = 0; ext && i < l.size(); ++i) {
        const Partition &p = *l[i];
        const uint64_t at = record_of(*ext, l, i);
        uint8_t *record = s.at(at);
        std::memset(record + table_offset, 0, sector - table_offset);
        put_entry(record + table_offset, p.boot, p.type, p.start, uint32_t(p.start - at), uint32_t(p.sectors));
        // The link: the next record, another logical's record, or an offset.
        uint64_t next = 0, end = 0;
        bool link = true;
        if (p.next_at) {
            next = ext->start + *p.next_at / sector;
            end = next + 1;
        } else if (p.next) {
            size_t k = 0;
            while (l[k]->number != p.next)
                ++k;
            next = record_of(*ext, l, k);
            end = l[k]->start + l[k]->sectors;
        } else if (i + 1 < l.size()) {
            next = record_of(*ext, l, i + 1);
            end = l[i + 1]->start + l[i + 1]->sectors;
        } else {
            link = false;
        }
        if (link)
            put_entry(record + table_offset + 16, 0, 0x05, next, uint32_t(next - ext->start), uint32_t(end - next));
        sign(record, p.ebr_signature);
    }
}

} // namespace

uint32_t mbr_disk_id(const BlockDevice &b)
{
    if (b.label_id)
        return *b.label_id;
    if (b.seed.empty())
        return 0;
    // Seeded sectors take one value per 8 bytes.
    SeedBytes rng(b.seed);
    for (size_t i = 0; i < disk_id_offset / 8; ++i)
        rng.next();
    return uint32_t(rng.next());
}

void check_disk(const BlockDevice &b, int line)
{
    if (b.label_id && !b.table)
        fail(line, b.name + ": label_id= needs a partition table");
    const auto l = logicals(b);
    const Partition *ext = extended(b);
    if (!b.image.empty()) {
        if (b.table || !b.seed.empty() || !b.signature)
            fail(line, b.name + ": table=, seed= and signature= do not go with image=");
        return;
    }
    if (!b.table)
        return;
    if (b.size / sector > UINT32_MAX && !b.partitions.empty())
        fail(line, b.name + ": an MBR addresses at most 2T");
    int extended_count = 0;
    for (const auto &p : b.partitions)
        extended_count += p.number <= 4 && extended_type(p.type);
    if (extended_count > 1)
        fail(line, b.name + ": more than one extended partition");
    if (!l.empty() && !ext)
        fail(line, b.name + ": logical partitions need an extended partition (type 5, f or 85)");
    for (size_t i = 0; i < l.size(); ++i) {
        const Partition &p = *l[i];
        const std::string name = b.name + " part " + std::to_string(p.number);
        if (p.number != 5 + i)
            fail(line, name + ": logical partitions are numbered 5, 6, ... in chain order");
        if (p.start < ext->start || p.start + p.sectors > ext->start + ext->sectors)
            fail(line, name + ": lies outside the extended partition");
        const uint64_t at = record_of(*ext, l, i);
        if (at >= p.start)
            fail(line, name + ": no room for its extended boot record before it");
        if (p.next && (p.next < 5 || p.next >= 5 + l.size()))
            fail(line, name + ": next= names no logical partition");
        if (p.next && p.next_at)
            fail(line, name + ": next= and next_at= exclude each other");
        if (p.next_at && (*p.next_at % sector || *p.next_at / sector > UINT32_MAX))
            fail(line, name + ": next_at= is a sector offset below 2T");
    }
    for (const auto &p : b.partitions)
        if (p.number <= 4 && (p.next || p.next_at || !p.ebr_signature))
            fail(line, b.name + " part " + std::to_string(p.number) + ": next=, next_at= and ebr_signature= are for logical partitions");
}

uint64_t image_size(std::string &path, int line)
{
    char resolved[PATH_MAX];
    struct stat st;
    if (!realpath(path.c_str(), resolved) || stat(resolved, &st) != 0)
        fail(line, "image " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        fail(line, "image " + path + ": not a file");
    path = resolved;
    return (uint64_t(st.st_size) + sector - 1) / sector * sector;
}

void write_disks(const Computer &computer, Tree &tree)
{
    for (const auto &b : computer.blocks) {
        const std::string node = "/dev/" + b.name;
        if (!b.image.empty()) {
            tree.copy_into(node, b.image);
            continue;
        }
        Sectors s(b.size / sector);
        if (!b.seed.empty()) {
            s.seed(0, 1 + boot_sectors, b.seed);
            std::memset(s.at(0) + table_offset, 0, sector - table_offset);
        }
        for (const auto &p : b.partitions)
            if (!p.seed.empty())
                s.seed(p.start, 1 + boot_sectors, p.seed);
        if (b.table)
            write_tables(b, s);
        tree.patch(node, s.pieces());
    }
}

} // namespace simcomputer
