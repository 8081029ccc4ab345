// orva-ic hd: partition tables and boot sectors of the fixed disks (through
// ORVA_SYSROOT when set), their byte image, and their difference against a
// saved image.
#include <cstdio>
#include <string>

#include "commands.h"
#include "ic/hd/hd_diff.h"
#include "ic/hd/hd_info.h"
#include "ic/hd/hd_ptr.h"
#include "ic/util/result.h"

namespace orva_ic {
namespace {

using Info = ic_hd::info_ptr;
using Diff = ic_hd::diff_ptr;

int fail(const std::string &what, int rc) { return orva_ic::fail("hd", what, core_code_text(rc), rc); }

Info scan(int &rc) {
    hd_info *info = nullptr;
    rc = hd_info_get_current(&info);
    return Info(info);
}

std::string digest(const uint8_t *hash) { return "\"" + hex(hash, HD_HASH_SIZE) + "\""; }

// Kernel-style partition number: slot + 1 for primaries, 5 + index for
// logical partitions.
unsigned number(const hd_partition *p) { return p->parent ? 5 + p->index : p->index + 1; }

std::string json_partition(const hd_partition *p, const std::string &indent) {
    std::string out = "{\"number\": " + std::to_string(number(p)) + ", \"index\": " + std::to_string(p->index) +
                      ", \"start\": " + std::to_string(p->start) + ", \"size\": " + std::to_string(p->count) +
                      ", \"type\": " + std::to_string(p->type) +
                      ", \"type_name\": " + json_string(hd_partition_type_name(p->type)) +
                      ", \"boot_indicator\": " + std::to_string(p->boot_indicator) +
                      ", \"flags\": " + std::to_string(p->flags) + ",\n" + indent +
                      " \"pbr_digest\": " + digest(p->pbr_hash) + ",\n" + indent +
                      " \"boot_area_digest\": " + digest(p->boot_hash);
    if (!p->parent) {
        out += ",\n" + indent + " \"logical\": [";
        for (const hd_partition *l = hd_info_get_first_logical_partition(p); l;
             l = hd_info_get_next_logical_partition(p, l))
            out += (l == p->first_logical ? "\n" : ",\n") + indent + "  " + json_partition(l, indent + "  ");
        out += p->first_logical ? "\n" + indent + " ]" : "]";
    }
    return out + "}";
}

void print_json(const hd_info *info) {
    std::string out = "{\"flags\": " + std::to_string(info->flags) + ", \"disks\": [";
    for (const hd_disk *d = hd_info_get_first_disk(info); d; d = hd_info_get_next_disk(info, d)) {
        out += d == info->first_disk ? "\n  " : ",\n  ";
        out += "{\"name\": " + json_string(d->name) + ", \"flags\": " + std::to_string(d->flags) +
               ",\n   \"mbr_digest\": " + digest(d->mbr_hash) + ",\n   \"boot_area_digest\": " +
               digest(d->boot_hash) + ",\n   \"partitions\": [";
        const hd_partition *first = hd_info_get_first_partition(d);
        for (const hd_partition *p = first; p; p = hd_info_get_next_partition(d, p))
            out += (p == first ? "\n    " : ",\n    ") + json_partition(p, "    ");
        out += first ? "\n   ]}" : "]}";
    }
    out += info->first_disk ? "\n]}\n" : "]}\n";
    std::fputs(out.c_str(), stdout);
}

void print_partition(const hd_partition *p, const char *indent) {
    std::printf("%spartition %u: start %u, size %u, type 0x%02x %s, boot indicator 0x%02x\n", indent, number(p),
                p->start, p->count, p->type, hd_partition_type_name(p->type), p->boot_indicator);
    std::printf("%s  first sector %s\n%s  boot area    %s\n", indent, hex(p->pbr_hash, HD_HASH_SIZE).c_str(), indent,
                hex(p->boot_hash, HD_HASH_SIZE).c_str());
}

void print_text(const hd_info *info) {
    for (const hd_disk *d = hd_info_get_first_disk(info); d; d = hd_info_get_next_disk(info, d)) {
        std::printf("disk %s\n  MBR          %s\n  boot area    %s\n", printable(d->name).c_str(),
                    hex(d->mbr_hash, HD_HASH_SIZE).c_str(), hex(d->boot_hash, HD_HASH_SIZE).c_str());
        for (const hd_partition *p = hd_info_get_first_partition(d); p; p = hd_info_get_next_partition(d, p)) {
            print_partition(p, "  ");
            for (const hd_partition *l = hd_info_get_first_logical_partition(p); l;
                 l = hd_info_get_next_logical_partition(p, l))
                print_partition(l, "    ");
        }
    }
    if (!info->first_disk) std::puts("no fixed disks");
}

const char *status_name(uint32_t status) {
    switch (status) {
        case HD_MODIFIED: return "modified";
        case HD_NEW: return "new";
        case HD_REMOVED: return "removed";
        default: return "unchanged";
    }
}

struct FlagName {
    uint32_t bit;
    const char *name;
};
const FlagName kDiskFlags[] = {{HD_DISK_DIFF_MBR, "mbr"}, {HD_DISK_DIFF_BOOT_AREA, "boot_area"}};
const FlagName kPartitionFlags[] = {{HD_PARTITION_DIFF_PBR, "pbr"},
                                    {HD_PARTITION_DIFF_BOOT_AREA, "boot_area"},
                                    {HD_PARTITION_DIFF_BOOT_INDICATOR, "boot_indicator"},
                                    {HD_PARTITION_DIFF_TYPE, "type"}};

template <size_t N>
std::string flag_names(uint32_t flags, const FlagName (&names)[N], bool json) {
    std::string out;
    for (const FlagName &f : names) {
        if (!(flags & f.bit)) continue;
        if (!out.empty()) out += ", ";
        out += json ? "\"" + std::string(f.name) + "\"" : f.name;
    }
    return json ? "[" + out + "]" : out;
}

const hd_partition *either(const hd_partition_diff *pd) { return pd->current ? pd->current : pd->reference; }
const hd_disk *either(const hd_disk_diff *dd) { return dd->current ? dd->current : dd->reference; }

std::string json_partition_diff(const hd_partition_diff *pd, const std::string &indent) {
    const hd_partition *p = either(pd);
    std::string out = "{\"status\": " + std::to_string(pd->status) + ", \"status_name\": \"" +
                      status_name(pd->status) + "\", \"flags\": " + std::to_string(pd->flags) +
                      ", \"flag_names\": " + flag_names(pd->flags, kPartitionFlags, true) +
                      ", \"start\": " + std::to_string(p->start) + ", \"size\": " + std::to_string(p->count) +
                      ", \"type\": " + std::to_string(p->type);
    if (!pd->parent) {
        out += ", \"logical\": [";
        for (const hd_partition_diff *c = hd_partition_diff_get_first_partition(pd); c;
             c = hd_partition_diff_get_next_partition(pd, c))
            out += (c == pd->first_child ? "\n" : ",\n") + indent + "  " + json_partition_diff(c, indent + "  ");
        out += pd->first_child ? "\n" + indent + " ]" : "]";
    }
    return out + "}";
}

void print_diff_json(const hd_diff *diff) {
    std::string out = "{\"flags\": " + std::to_string(diff->flags) + ", \"flag_names\": [" +
                      std::string(diff->flags & HD_DIFF_CHANGED ? "\"changed\"" : "") + "], \"disks\": [";
    for (const hd_disk_diff *dd = hd_diff_get_first_disk(diff); dd; dd = hd_diff_get_next_disk(diff, dd)) {
        out += dd == diff->first_disk ? "\n  " : ",\n  ";
        out += "{\"name\": " + json_string(either(dd)->name) + ", \"status\": " + std::to_string(dd->status) +
               ", \"status_name\": \"" + status_name(dd->status) + "\", \"flags\": " + std::to_string(dd->flags) +
               ", \"flag_names\": " + flag_names(dd->flags, kDiskFlags, true) + ",\n   \"partitions\": [";
        for (const hd_partition_diff *pd = hd_disk_diff_get_first_partition(dd); pd;
             pd = hd_disk_diff_get_next_partition(dd, pd))
            out += (pd == dd->first_partition ? "\n    " : ",\n    ") + json_partition_diff(pd, "    ");
        out += dd->first_partition ? "\n   ]}" : "]}";
    }
    out += diff->first_disk ? "\n]}\n" : "]}\n";
    std::fputs(out.c_str(), stdout);
}

void print_partition_diff(const hd_partition_diff *pd, const char *indent) {
    if (pd->status == HD_UNCHANGED) return;
    const hd_partition *p = either(pd);
    std::printf("%spartition at %u, size %u, type 0x%02x: %s", indent, p->start, p->count, p->type,
                status_name(pd->status));
    if (pd->flags) std::printf(" (%s)", flag_names(pd->flags, kPartitionFlags, false).c_str());
    std::putchar('\n');
}

void print_diff(const hd_diff *diff) {
    for (const hd_disk_diff *dd = hd_diff_get_first_disk(diff); dd; dd = hd_diff_get_next_disk(diff, dd)) {
        if (dd->status == HD_UNCHANGED) continue;
        std::printf("disk %s: %s", printable(either(dd)->name).c_str(), status_name(dd->status));
        if (dd->flags) std::printf(" (%s)", flag_names(dd->flags, kDiskFlags, false).c_str());
        std::putchar('\n');
        for (const hd_partition_diff *pd = hd_disk_diff_get_first_partition(dd); pd;
             pd = hd_disk_diff_get_next_partition(dd, pd)) {
            print_partition_diff(pd, "  ");
            for (const hd_partition_diff *c = hd_partition_diff_get_first_partition(pd); c;
                 c = hd_partition_diff_get_next_partition(pd, c))
                print_partition_diff(c, "    ");
        }
    }
    if (!(diff->flags & HD_DIFF_CHANGED)) std::puts("no differences");
}

int save(const std::string &path) {
    int rc;
    Info info = scan(rc);
    if (rc != IC_OK) return fail("cannot read the disks", rc);
    uint8_t *data = nullptr;
    uint32_t size = 0;
    rc = hd_info_write_to_mem(info.get(), &data, &size);
    if (rc != IC_OK) return fail("cannot build the byte image", rc);
    return save_image("hd", path, data, size);
}

int diff(const std::string &path, bool json) {
    std::string image;
    if (!load_image("hd", path, image)) return kExitFailure;
    hd_info *stored_raw = nullptr;
    int rc = hd_info_read_from_mem(image.data(), uint32_t(image.size()), &stored_raw);
    Info stored(stored_raw);
    if (rc != IC_OK) return fail(path + ": not a partition-table inventory image", rc);
    Info current = scan(rc);
    if (rc != IC_OK) return fail("cannot read the disks", rc);
    hd_diff *diff_raw = nullptr;
    rc = hd_diff_create(stored.get(), current.get(), &diff_raw);
    Diff d(diff_raw);
    if (rc != IC_OK) return fail("cannot compare the inventories", rc);
    if (json)
        print_diff_json(d.get());
    else
        print_diff(d.get());
    return finish_output("hd", (d->flags & HD_DIFF_CHANGED) ? kExitDiffers : kExitOk);
}

}  // namespace

int cmd_hd(int argc, char **argv) {
    InventoryArgs args;
    const int usage = parse_inventory_args("hd", argc, argv, true, args);
    if (usage >= 0) return usage;
    if (args.save) return save(args.save);
    if (args.diff) return diff(args.diff, args.json);

    int rc;
    Info info = scan(rc);
    if (rc != IC_OK) return fail("cannot read the disks", rc);
    if (args.json)
        print_json(info.get());
    else
        print_text(info.get());
    return finish_output("hd", kExitOk);
}

}  // namespace orva_ic
