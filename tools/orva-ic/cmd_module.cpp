// orva-ic module: the integrity-data blocks of the module in ORVA_SIM_DIR:
// show what each block holds, or store this computer's data (ORVA_SYSROOT:
// a simulated one) as the reference, as the administration pages do.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "commands.h"
#include "ic/fs/fs_disk_list.h"
#include "ic/fs/fs_icl.h"
#include "ic/fs/fs_volume_id.h"
#include "ic/hd/hd_info.h"
#include "ic/hw/hw_ptr.h"
#include "ic/qt/fs_names.h"
#include "ic/qt/ic_data_area.h"
#include "ic/rcl/rcl.h"

#include <orva.h>

namespace orva_ic {
namespace {

const char *usage_text =
    "module show [--json] | module approve hw | module approve hd [--except SERIAL:N ...] | "
    "module approve fs LIST [--image UUID:PATH:NAME ...] | module approve reg VOLUME PATH LIST [--off]";

struct icl_deleter {
    void operator()(fs_icl *l) const { fs_icl_destroy(l); }
};
struct rcl_deleter {
    void operator()(rcl *l) const { rcl_destroy(l); }
};
struct hd_deleter {
    void operator()(hd_info *i) const { hd_info_destroy(i); }
};
struct disks_deleter {
    void operator()(fs_disk_list *l) const { fs_disk_list_destroy(l); }
};
using icl_ptr = std::unique_ptr<fs_icl, icl_deleter>;
using rcl_ptr = std::unique_ptr<rcl, rcl_deleter>;
using hd_ptr = std::unique_ptr<hd_info, hd_deleter>;
using disks_ptr = std::unique_ptr<fs_disk_list, disks_deleter>;

int fail_module(const std::string &what, const char *text, int rc) {
    return fail("module", what, text, rc);
}

// The module, open for the command's run.
class Module {
public:
    ~Module() {
        if (handle_) orva_close_device(handle_);
        if (initialised_) orva_exit(0);
    }
    int open() {
        int rc = orva_init(0);
        initialised_ = rc == ORVA_OK;
        if (rc == ORVA_OK) rc = orva_open_device(0, &handle_, 0);
        return rc;
    }
    orva_handle_t handle() const { return handle_; }

private:
    orva_handle_t handle_ = nullptr;
    bool initialised_ = false;
};

std::string u8(const QString &s) { return s.toUtf8().toStdString(); }

// "text" in JSON, or null for a null string.
std::string json_qstring(const QString &s) { return s.isNull() ? "null" : json_string(u8(s).c_str()); }

std::string id_name(const fs_volume_id *id) {
    const std::string first = u8(disk_id_by_volume_id(id));
    const std::string second = u8(part_name_by_volume_id(id));
    return first + " " + second;
}

void show_small(ic_data_area &area, int which, bool json, const char *name, std::string &out) {
    uint32_t size = 0;
    const std::unique_ptr<uint8_t[]> payload = area.read_hw_hd_block_from_device(&size, which);
    std::string detail;
    bool parsed = false;
    if (payload && which == ic_data_area::HW_BLOCK) {
        hw_info *raw = nullptr;
        if (hw_info_read_from_mem(payload.get(), size, &raw) == HW_OK) {
            const ic_hw::info_ptr info(raw);
            parsed = true;
            for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
                char line[160];
                std::snprintf(line, sizeof line,
                              json ? "%s{\"class\": \"%s\", \"flags\": %u, \"devices\": %u}"
                                   : "%s  %-8s flags %u, %u devices\n",
                              json && c ? ", " : "", hw_class_name(c), info->flags[c], info->count[c]);
                detail += line;
            }
            if (json) detail = "\"classes\": [" + detail + "]";
        }
    } else if (payload) {
        hd_info *raw = nullptr;
        if (hd_info_read_from_mem(payload.get(), size, &raw) == 0) {
            const hd_ptr info(raw);
            parsed = true;
            bool first = true;
            for (const hd_disk *d = hd_info_get_first_disk(raw); d; d = hd_info_get_next_disk(raw, d)) {
                const std::string disk_name = d->name ? d->name : "";
                detail += json ? (first ? "" : ", ") + json_string(disk_name.c_str())
                               : "  disk " + printable(disk_name.c_str()) + "\n";
                first = false;
            }
            if (json) detail = "\"disks\": [" + detail + "]";
        }
    }
    if (json) {
        out += std::string("  \"") + name + "\": ";
        if (!payload) {
            out += "null";
        } else {
            out += "{\"length\": " + std::to_string(size) + ", \"parsed\": " + (parsed ? "true" : "false");
            if (parsed) out += ", " + detail;
            out += "}";
        }
        return;
    }
    if (!payload) {
        out += std::string(name) + ": nothing stored\n";
        return;
    }
    out += std::string(name) + ": " + std::to_string(size) + " bytes" + (parsed ? "\n" : ", not a readable record\n");
    out += detail;
}

int show(int argc, char **argv) {
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) json = true;
        else return usage_error(usage_text);
    }
    Module module;
    if (int rc = module.open()) return fail_module("cannot open the module", "library code", rc);
    ic_data_area area(module.handle());
    std::string out = json ? "{\n" : "";
    const uint32_t max = area.getMaxIcDataSize();
    const uint32_t reg_size = area.getRegBlockSize();
    if (json) {
        out += "  \"area_size\": " + std::to_string(max) + ",\n  \"reg_block_size\": " + std::to_string(reg_size)
               + ",\n";
    } else {
        out += "area: " + std::to_string(max) + " bytes, registry and files blocks " + std::to_string(reg_size)
               + " bytes each\n";
    }
    show_small(area, ic_data_area::HW_BLOCK, json, "hardware", out);
    out += json ? ",\n" : "";
    show_small(area, ic_data_area::HD_BLOCK, json, "disks", out);
    out += json ? ",\n" : "";

    // Registry block.
    rcl *reg_raw = nullptr;
    exchange_dir dir;
    bool flag = false;
    if (area.read_reg_info_from_device(&reg_raw, &dir, &flag) == 0) {
        const rcl_ptr list(reg_raw);
        if (json) {
            out += "  \"registry\": {\"disk\": " + json_qstring(dir.disk) + ", \"volume\": " + json_qstring(dir.part_id)
                   + ", \"path\": " + json_qstring(dir.path) + ", \"flag\": " + (flag ? "true" : "false")
                   + ", \"keys\": " + std::to_string(list->key_count) + ", \"values\": "
                   + std::to_string(list->value_count) + "}";
        } else {
            out += "registry: directory " + printable(u8(dir.path).c_str()) + " on volume "
                   + printable(u8(dir.part_id).c_str()) + " of disk " + printable(u8(dir.disk).c_str()) + ", flag "
                   + (flag ? "1" : "0") + ", " + std::to_string(list->key_count) + " keys, "
                   + std::to_string(list->value_count) + " values\n";
        }
    } else {
        out += json ? "  \"registry\": null" : "registry: nothing stored\n";
    }
    out += json ? ",\n" : "";

    // Files block.
    fs_icl *icl_raw = nullptr;
    QList<fs_vmdk_image> images;
    if (area.read_fs_info_from_device(&icl_raw, &images) == 0) {
        const icl_ptr icl(icl_raw);
        std::string image_text, volume_text;
        for (const fs_vmdk_image &image : images) {
            if (json) {
                image_text += std::string(image_text.empty() ? "" : ", ") + "{\"path\": " + json_qstring(image.path)
                              + ", \"name\": " + json_qstring(image.name) + ", \"host\": "
                              + json_qstring(image.host_id) + "}";
            } else {
                image_text += "  image " + printable(u8(image.name).c_str()) + ": "
                              + printable(u8(image.path).c_str()) + " on " + printable(u8(image.host_id).c_str())
                              + "\n";
            }
        }
        for (fs_icl_volume *v = fs_icl_first_volume(icl.get()); v; v = fs_icl_next_volume(v)) {
            const std::string name = id_name(v->id);
            std::string objects;
            for (fs_ocl_object *o = fs_icl_volume_first_object(v); o; o = fs_icl_volume_next_object(v, o)) {
                objects += json ? std::string(objects.empty() ? "" : ", ") + json_string(o->path)
                                : "    " + printable(o->path) + "\n";
            }
            if (json) {
                volume_text += std::string(volume_text.empty() ? "" : ", ") + "{\"volume\": "
                               + json_string(name.c_str()) + ", \"paths\": [" + objects + "]}";
            } else {
                volume_text += "  volume " + printable(name.c_str()) + ": " + std::to_string(v->ocl->count)
                               + " objects\n" + objects;
            }
        }
        if (json) {
            out += "  \"files\": {\"images\": [" + image_text + "], \"volumes\": [" + volume_text + "]}";
        } else {
            out += "files: " + std::to_string(images.size()) + " images, " + std::to_string(icl->count)
                   + " volumes\n" + image_text + volume_text;
        }
    } else {
        out += json ? "  \"files\": null" : "files: nothing stored\n";
    }
    out += json ? "\n}\n" : "";
    std::fputs(out.c_str(), stdout);
    return finish_output("module", kExitOk);
}

// The disk list of this computer, with the images attached; messages of
// the core go to standard error.
int open_disks(const std::vector<std::string> &images, disks_ptr &out, QList<fs_vmdk_image> &registered) {
    fs_disk_list *l = nullptr;
    int rc = create_disk_list(&l);
    out.reset(l);
    if (rc != FS_OK) return fail_module("cannot list the disks", core_code_text(rc), rc);
    for (const std::string &image : images) {
        const size_t c1 = image.find(':'), c2 = image.rfind(':');
        if (c1 == std::string::npos || c1 == c2) return usage_error("module approve fs: --image takes UUID:PATH:NAME");
        const QString host_id = QString::fromStdString(image.substr(0, c1));
        const QString path = QString::fromStdString(image.substr(c1 + 1, c2 - c1 - 1));
        const QString name = QString::fromStdString(image.substr(c2 + 1));
        if (!find_volume_by_volume_id(out.get(), host_id))
            return fail_module(image, "no such hosting volume, or more than one", 4);
        registered.append(fs_vmdk_image{path, name, host_id});
    }
    return kExitOk;
}

// Partition N of the disk SERIAL: the MBR slot N - 1 for N up to 4, else
// the logical partition N - 5 along the chain.
hd_partition *partition_by_name(const hd_info *info, const std::string &text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size()) return nullptr;
    char *end = nullptr;
    const unsigned long n = std::strtoul(text.c_str() + colon + 1, &end, 10);
    if (*end || n == 0) return nullptr;
    for (const hd_disk *d = hd_info_get_first_disk(info); d; d = hd_info_get_next_disk(info, d)) {
        if (!d->name || text.compare(0, colon, d->name) != 0) continue;
        for (hd_partition *p = hd_info_get_first_partition(d); p; p = hd_info_get_next_partition(d, p)) {
            if (n <= HD_PRIMARY_SLOTS && p->index + 1 == n) return p;
            for (hd_partition *l = hd_info_get_first_logical_partition(p); l;
                 l = hd_info_get_next_logical_partition(p, l))
                if (n > HD_PRIMARY_SLOTS && l->index + 5 == n) return l;
        }
    }
    return nullptr;
}

int approve(int argc, char **argv) {
    if (argc < 1) return usage_error(usage_text);
    const std::string kind = argv[0];
    Module module;
    auto open = [&]() { return module.open(); };

    if (kind == "hw" && argc == 1) {
        hw_info *raw = nullptr;
        int rc = hw_info_get_current(&raw);
        if (rc != HW_OK) return fail_module("cannot read the current hardware", core_code_text(rc), rc);
        const ic_hw::info_ptr info(raw);
        // Every class, device and parameter under control.
        hw_info_check_all(raw);
        if ((rc = open())) return fail_module("cannot open the module", "library code", rc);
        if (ic_data_area(module.handle()).save_hw_info_to_device(raw) != 0)
            return fail_module("hardware block", "not stored (too long for the block, or the write failed)", -1);
        std::printf("hardware stored: %u PCI, %u USB, %u media devices\n", raw->count[HW_CLASS_PCI],
                    raw->count[HW_CLASS_USB], raw->count[HW_CLASS_MEDIA]);
        return finish_output("module", kExitOk);
    }
    if (kind == "hd") {
        std::vector<std::string> except;
        for (int i = 1; i < argc; ++i) {
            if (!std::strcmp(argv[i], "--except") && i + 1 < argc) except.push_back(argv[++i]);
            else return usage_error(usage_text);
        }
        hd_info *raw = nullptr;
        int rc = hd_info_get_current(&raw);
        if (rc != 0) return fail_module("cannot read the partition tables", core_code_text(rc), rc);
        const hd_ptr info(raw);
        // Disk control on, every disk and partition under control, as the
        // Disks page stores them when all is ticked; the partitions named
        // with --except unticked.
        hd_info_check_all(raw);
        for (const std::string &e : except) {
            hd_partition *p = partition_by_name(raw, e);
            if (!p) return fail_module(e, "no such partition (SERIAL:N, N as the kernel numbers it)", 4);
            p->flags &= uint8_t(~HD_PARTITION_CONTROL);
        }
        if ((rc = open())) return fail_module("cannot open the module", "library code", rc);
        if (ic_data_area(module.handle()).save_hd_info_to_device(raw) != 0)
            return fail_module("disks block", "not stored (too long for the block, or the write failed)", -1);
        std::printf("partition tables stored: %u disks\n", raw->disk_count);
        return finish_output("module", kExitOk);
    }
    if (kind == "fs" && argc >= 2) {
        std::vector<std::string> images;
        for (int i = 2; i < argc; ++i) {
            if (!std::strcmp(argv[i], "--image") && i + 1 < argc) images.push_back(argv[++i]);
            else return usage_error(usage_text);
        }
        std::string bytes;
        if (!load_image("module", argv[1], bytes)) return kExitFailure;
        fs_icl *raw = nullptr;
        int rc = fs_icl_read_from_mem(bytes.data(), uint32_t(bytes.size()), &raw);
        if (rc != 0) return fail_module(argv[1], "not a file check list", rc);
        const icl_ptr icl(raw);
        QList<fs_vmdk_image> registered;
        disks_ptr disks;
        if (!images.empty())
            if (int status = open_disks(images, disks, registered)) return status;
        if ((rc = open())) return fail_module("cannot open the module", "library code", rc);
        rc = ic_data_area(module.handle()).save_fs_info_to_device(raw, registered);
        if (rc == ic_data_area::kBlockTooLarge)
            return fail_module("files block", "too large for the block; nothing stored", rc);
        if (rc != 0) return fail_module("files block", "not stored", rc);
        std::printf("file check list stored: %u volumes, %d images\n", raw->count, int(registered.size()));
        return finish_output("module", kExitOk);
    }
    if (kind == "reg" && (argc == 4 || (argc == 5 && !std::strcmp(argv[4], "--off")))) {
        std::string bytes;
        if (!load_image("module", argv[3], bytes)) return kExitFailure;
        rcl *raw = nullptr;
        int rc = rcl_read_from_mem(reinterpret_cast<const uint8_t *>(bytes.data()), uint32_t(bytes.size()), &raw);
        if (rc != 0) return fail_module(argv[3], "not a registry check list", rc);
        const rcl_ptr list(raw);
        disks_ptr disks;
        QList<fs_vmdk_image> none;
        if (int status = open_disks({}, disks, none)) return status;
        exchange_dir dir;
        dir.part_id = QString::fromUtf8(argv[1]);
        dir.path = QString::fromUtf8(argv[2]);
        const fs_volume *volume = find_volume_by_volume_id(disks.get(), dir.part_id);
        if (!volume) return fail_module(argv[1], "no such volume on this computer, or more than one", 4);
        dir.disk = disk_id_by_volume(volume);
        if ((rc = open())) return fail_module("cannot open the module", "library code", rc);
        rc = ic_data_area(module.handle()).save_reg_info_to_device(dir, raw, argc == 4);
        if (rc == ic_data_area::kBlockTooLarge)
            return fail_module("registry block", "too large for the block; nothing stored", rc);
        if (rc != 0) return fail_module("registry block", "not stored", rc);
        std::printf("registry check list stored: %u keys, %u values, directory %s on %s, flag %d\n", raw->key_count,
                    raw->value_count, printable(argv[2]).c_str(), printable(argv[1]).c_str(), argc == 4 ? 1 : 0);
        return finish_output("module", kExitOk);
    }
    return usage_error(usage_text);
}

}  // namespace

int cmd_module(int argc, char **argv) {
    if (argc >= 1 && !std::strcmp(argv[0], "show")) return show(argc - 1, argv + 1);
    if (argc >= 1 && !std::strcmp(argv[0], "approve")) return approve(argc - 1, argv + 1);
    return usage_error(usage_text);
}

}  // namespace orva_ic
