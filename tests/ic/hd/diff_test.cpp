// Comparison of two partition-table inventories: disks paired by name in
// order, partitions by start sector, the status and flags of each difference.
#include "hd_support.h"

#include <ic/hd/hd_diff.h>

#include <gtest/gtest.h>

namespace {

using hdtest::Disk;
using hdtest::Part;

// A difference as text: one line per disk ("name status/flags") and per
// partition ("  start status/flags", logical ones indented further).
std::string describe(const hd_diff *diff)
{
    std::string out = "changed=" + std::to_string(diff->flags & HD_DIFF_CHANGED) + "\n";
    auto item = [](uint32_t status, uint32_t flags) { return std::to_string(status) + "/" + std::to_string(flags); };
    for (const hd_disk_diff *dd = hd_diff_get_first_disk(diff); dd; dd = hd_diff_get_next_disk(diff, dd)) {
        const hd_disk *d = dd->current ? dd->current : dd->reference;
        out += std::string(d->name) + " " + item(dd->status, dd->flags) + "\n";
        for (const hd_partition_diff *pd = hd_disk_diff_get_first_partition(dd); pd;
             pd = hd_disk_diff_get_next_partition(dd, pd)) {
            const hd_partition *p = pd->current ? pd->current : pd->reference;
            out += "  " + std::to_string(p->start) + " " + item(pd->status, pd->flags) + "\n";
            for (const hd_partition_diff *c = hd_partition_diff_get_first_partition(pd); c;
                 c = hd_partition_diff_get_next_partition(pd, c)) {
                EXPECT_EQ(c->parent, pd);
                const hd_partition *l = c->current ? c->current : c->reference;
                out += "    " + std::to_string(l->start) + " " + item(c->status, c->flags) + "\n";
            }
        }
    }
    return out;
}

std::string diff_of(const std::vector<Disk> &reference, const std::vector<Disk> &current)
{
    auto ref = hdtest::make_info(reference);
    auto cur = hdtest::make_info(current);
    hd_diff *diff = nullptr;
    EXPECT_EQ(hd_diff_create(ref.get(), cur.get(), &diff), IC_OK);
    ic_hd::diff_ptr owner(diff);
    return describe(diff);
}

const Part kSystem{2048, 1000, 0x07, 0x80, 1};
const Part kExtended{4096, 9000, 0x0F, 0, 2, {Part{4160, 100, 0x83, 0, 3}, Part{5000, 100, 0x0B, 0, 4}}};

TEST(HdDiff, StatusAndFlagsOfEachKindOfChange)
{
    const Disk base{"S1", 9, {{0, kSystem}, {1, kExtended}}};
    auto with = [&base](auto change) {
        Disk d = base;
        change(d);
        return d;
    };
    struct Case {
        const char *what;
        Disk current;
        const char *expected;
    } cases[] = {
        {"identical", base, "changed=0\nS1 0/0\n  2048 0/0\n  4096 0/0\n    4160 0/0\n    5000 0/0\n"},
        {"MBR and boot area", with([](Disk &d) { d.mark = 1; }),
         "changed=1\nS1 1/3\n  2048 0/0\n  4096 0/0\n    4160 0/0\n    5000 0/0\n"},
        {"boot sectors, boot indicator and type",
         with([](Disk &d) {
             d.slots[0].second.mark = 5;
             d.slots[0].second.boot = 0;
             d.slots[1].second.logical[1].type = 0x07;
         }),
         "changed=1\nS1 1/0\n  2048 1/7\n  4096 0/0\n    4160 0/0\n    5000 1/8\n"},
        // Moved: the same partition at another start is removed and new.
        {"moved partition", with([](Disk &d) { d.slots[0].second.start = 3000; }),
         "changed=1\nS1 1/0\n  2048 3/0\n  3000 2/0\n  4096 0/0\n    4160 0/0\n    5000 0/0\n"},
        {"resized partition", with([](Disk &d) { d.slots[0].second.count = 999; }),
         "changed=1\nS1 1/0\n  2048 3/0\n  2048 2/0\n  4096 0/0\n    4160 0/0\n    5000 0/0\n"},
        // A new logical partition: the extended one itself stays unchanged.
        {"logical added", with([](Disk &d) { d.slots[1].second.logical.push_back(Part{6000, 10}); }),
         "changed=1\nS1 1/0\n  2048 0/0\n  4096 0/0\n    4160 0/0\n    5000 0/0\n    6000 2/0\n"},
        {"logical moved", with([](Disk &d) { d.slots[1].second.logical[0].start = 4200; }),
         "changed=1\nS1 1/0\n  2048 0/0\n  4096 0/0\n    4160 3/0\n    4200 2/0\n    5000 0/0\n"},
        {"extended removed", with([](Disk &d) { d.slots.pop_back(); }),
         "changed=1\nS1 1/0\n  2048 0/0\n  4096 3/0\n    4160 3/0\n    5000 3/0\n"},
        // Slots are walked in order as sequences sorted by start: a partition
        // that changes its place in that order is removed and new.
        {"same partition in another slot", with([](Disk &d) { d.slots[0].first = 2; std::swap(d.slots[0], d.slots[1]); }),
         "changed=1\nS1 1/0\n  2048 3/0\n  4096 0/0\n    4160 0/0\n    5000 0/0\n  2048 2/0\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(diff_of({base}, {c.current}), c.expected) << c.what;
}

TEST(HdDiff, DisksPairedByNameInOrder)
{
    // Two disks with one serial pair in order of appearance; a disk with
    // another name is new, a reference disk left over is removed, and new
    // and removed disks carry all their partitions.
    const Disk a{"TWIN", 1, {{0, kSystem}}};
    const Disk b{"TWIN", 2, {{1, kExtended}}};
    const Disk c{"OTHER", 3, {{0, kSystem}}};
    EXPECT_EQ(diff_of({a, b}, {a, b}),
              "changed=0\nTWIN 0/0\n  2048 0/0\nTWIN 0/0\n  4096 0/0\n    4160 0/0\n    5000 0/0\n");
    EXPECT_EQ(diff_of({a, b}, {b, a}),
              "changed=1\nTWIN 1/3\n  2048 3/0\n  4096 2/0\n    4160 2/0\n    5000 2/0\n"
              "TWIN 1/3\n  2048 2/0\n  4096 3/0\n    4160 3/0\n    5000 3/0\n");
    EXPECT_EQ(diff_of({a, b}, {c, a}),
              "changed=1\nTWIN 0/0\n  2048 0/0\nTWIN 3/0\n  4096 3/0\n    4160 3/0\n    5000 3/0\nOTHER 2/0\n  2048 2/0\n");
    EXPECT_EQ(diff_of({}, {}), "changed=0\n");
}

TEST(HdDiff, PartitionsOutOfControlCountWithTheirTableEntriesOnly)
{
    const Disk base{"S1", 9, {{0, kSystem}, {1, kExtended}}};
    auto with = [&base](auto change) {
        Disk d = base;
        change(d);
        return d;
    };
    const struct {
        const char *what;
        std::vector<uint32_t> controlled; // start sectors of the partitions under control
        Disk current;
        int counts;
    } cases[] = {
        {"boot sectors of a partition out of control", {4096, 4160, 5000},
         with([](Disk &d) { d.slots[0].second.mark = 5; }), 0},
        {"boot sectors of a partition under control", {2048}, with([](Disk &d) { d.slots[0].second.mark = 5; }), 1},
        {"boot sectors of a logical partition out of control", {2048, 4096, 4160},
         with([](Disk &d) { d.slots[1].second.logical[1].mark = 5; }), 0},
        {"boot sectors of a logical partition under control", {5000},
         with([](Disk &d) { d.slots[1].second.logical[1].mark = 5; }), 1},
        {"first record of an extended partition out of control", {2048, 4160, 5000},
         with([](Disk &d) { d.slots[1].second.mark = 5; }), 0},
        {"boot indicator of a partition out of control", {}, with([](Disk &d) { d.slots[0].second.boot = 0; }), 1},
        {"type of a logical partition out of control", {}, with([](Disk &d) { d.slots[1].second.logical[0].type = 7; }),
         1},
        {"a partition out of control moved", {}, with([](Disk &d) { d.slots[0].second.start = 3000; }), 1},
        {"a logical partition out of control removed", {}, with([](Disk &d) { d.slots[1].second.logical.pop_back(); }),
         1},
        {"nothing changed", {2048, 4096, 4160, 5000}, base, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto ref = hdtest::make_info({base});
        auto cur = hdtest::make_info({c.current});
        auto mark = [&c](hd_partition *p) {
            for (uint32_t start : c.controlled)
                if (p->start == start)
                    p->flags |= HD_PARTITION_CONTROL;
        };
        for (hd_partition *p = hd_info_get_first_partition(ref->first_disk); p;
             p = hd_info_get_next_partition(ref->first_disk, p)) {
            mark(p);
            for (hd_partition *l = p->first_logical; l; l = l->next)
                mark(l);
        }
        hd_diff *diff = nullptr;
        ASSERT_EQ(hd_diff_create(ref.get(), cur.get(), &diff), IC_OK);
        ic_hd::diff_ptr owner(diff);
        EXPECT_EQ(hd_disk_diff_partitions_changed(hd_diff_get_first_disk(diff)), c.counts);
    }
    EXPECT_EQ(hd_partition_diff_counts(nullptr), 0);
}

TEST(HdDiff, MatchedMarkersAreSetOnTheCurrentDisks)
{
    auto ref = hdtest::make_info({Disk{"A"}});
    auto cur = hdtest::make_info({Disk{"B"}, Disk{"A"}});
    cur->first_disk->matched = HD_DISK_MATCHED; // stale from an earlier comparison
    hd_diff *diff = nullptr;
    ASSERT_EQ(hd_diff_create(ref.get(), cur.get(), &diff), IC_OK);
    ic_hd::diff_ptr owner(diff);
    EXPECT_EQ(cur->first_disk->matched, 0u);
    EXPECT_EQ(cur->first_disk->next->matched, HD_DISK_MATCHED);
    EXPECT_EQ(hd_diff_create(nullptr, cur.get(), &diff), IC_ERR_INVAL);
}

} // namespace
