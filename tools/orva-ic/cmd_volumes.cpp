// orva-ic volumes: the disks, partitions, image disks, LVM groups and
// volumes of the current computer (through ORVA_SYSROOT when set), with
// their identities, file systems and the names the pages show.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "ic/fs/fs_disk_list.h"
#include "ic/fs/fs_volume_id.h"
#include "ic/qt/fs_names.h"
#include "ic/util/wbuf.h"

namespace orva_ic {
namespace {

struct ImageArg {
    std::string host_uuid, path, name;
};

const char *code_text(int rc) {
    switch (rc) {
        case FS_ERR_IO: return "system or device failure";
        case FS_ERR_PATH: return "image path not absolute";
        case FS_ERR_NOMEM: return "out of memory";
        case FS_ERR_NO_LOOP: return "no free loop device";
        case FS_ERR_UDEV: return "udev did not settle in time";
        case FS_ERR_BUSY: return "image disk busy";
        case FS_ERR_NAME_TAKEN: return "an image disk with that name exists";
        default: return "error";
    }
}

int fail(const std::string &what, int rc) {
    std::fprintf(stderr, "orva-ic volumes: %s: %s (code %d)\n", what.c_str(), code_text(rc), rc);
    return kExitFailure;
}

// The byte image of the volume's identity, as hexadecimal digits.
std::string id_hex(const fs_volume *v) {
    fs_volume_id *id = nullptr;
    if (fs_volume_create_id(v, &id) != FS_OK) return std::string();
    wbuf wb;
    std::string out;
    if (wb_init(&wb, 0) == 0) {
        if (_fs_write_volume_id_to_rbuf(id, &wb) == 0) out = hex(wb.data, wb.length);
        wb_finalize(&wb, 1);
    }
    fs_volume_id_destroy(id);
    return out;
}

std::string opt_json(const char *s) { return s ? json_string(s) : "null"; }

std::string volume_json(const fs_volume *v, const std::string &key, const std::string &key_value,
                        const char *uuid) {
    return "{" + key + ": " + key_value + ", \"path\": " + json_string(v->syspath) +
           ", \"node\": " + opt_json(v->devnode) + ", \"fs_type\": " + opt_json(v->fs_type) +
           ", \"uuid\": " + opt_json(uuid) + ", \"title\": " +
           json_string(part_name_by_volume(v).toUtf8().constData()) + ", \"volume_id\": " +
           json_string(id_hex(v).c_str()) + "}";
}

template <typename T>
std::string join(const std::vector<T> &items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
    return "[" + out + "]";
}

std::string to_json(const fs_disk_list *list) {
    std::vector<std::string> disks, images, groups;
    for (fs_disk *d = fs_disk_list_first_disk(list); d; d = fs_disk_list_next_disk(d)) {
        std::vector<std::string> parts;
        for (fs_partition *p = fs_disk_first_partition(d); p; p = fs_disk_next_partition(p))
            parts.push_back(volume_json(&p->volume, "\"number\"", std::to_string(p->number), p->uuid));
        disks.push_back("{\"identity\": " + json_string(d->identity) + ", \"path\": " + json_string(d->syspath) +
                        ", \"node\": " + opt_json(d->devnode) + ", \"partitions\": " + join(parts) + "}");
    }
    for (fs_image_disk *d = fs_disk_list_first_image_disk(list); d; d = fs_disk_list_next_image_disk(d)) {
        std::vector<std::string> parts;
        for (fs_image_partition *p = fs_image_disk_first_partition(d); p; p = fs_image_disk_next_partition(p))
            parts.push_back(volume_json(&p->volume, "\"number\"", std::to_string(p->number), p->uuid));
        images.push_back("{\"name\": " + json_string(d->name) + ", \"image_path\": " + json_string(d->image_path) +
                         ", \"host\": " + json_string(part_id_by_volume(d->host).toUtf8().constData()) +
                         ", \"path\": " + json_string(d->syspath) + ", \"node\": " + opt_json(d->devnode) +
                         ", \"partitions\": " + join(parts) + "}");
    }
    for (fs_lvm_group *g = fs_disk_list_first_lvm_group(list); g; g = fs_disk_list_next_lvm_group(g)) {
        std::vector<std::string> vols;
        for (fs_lvm_volume *v = fs_lvm_group_first_volume(g); v; v = fs_lvm_group_next_volume(v))
            vols.push_back(volume_json(&v->volume, "\"name\"", json_string(v->name), nullptr));
        groups.push_back("{\"name\": " + json_string(g->name) + ", \"volumes\": " + join(vols) + "}");
    }
    return "{\"disks\": " + join(disks) + ", \"image_disks\": " + join(images) +
           ", \"lvm_groups\": " + join(groups) + "}\n";
}

std::string volume_line(const fs_volume *v, const std::string &what, const char *uuid) {
    return "  " + what + "  " + printable(v->devnode) + "  " + printable(v->fs_type ? v->fs_type : "-") + "  " +
           printable(uuid ? uuid : "-") + "  \"" + printable(part_name_by_volume(v).toUtf8().constData()) +
           "\"\n";
}

std::string to_text(const fs_disk_list *list) {
    std::string out;
    for (fs_disk *d = fs_disk_list_first_disk(list); d; d = fs_disk_list_next_disk(d)) {
        out += "disk " + printable(d->identity) + "  " + printable(d->devnode) + "\n";
        for (fs_partition *p = fs_disk_first_partition(d); p; p = fs_disk_next_partition(p))
            out += volume_line(&p->volume, "partition " + std::to_string(p->number), p->uuid);
    }
    for (fs_image_disk *d = fs_disk_list_first_image_disk(list); d; d = fs_disk_list_next_image_disk(d)) {
        out += "image disk " + printable(d->name) + "  " + printable(d->devnode) + "  " +
               printable(part_id_by_volume(d->host).toUtf8().constData()) + ":" + printable(d->image_path) + "\n";
        for (fs_image_partition *p = fs_image_disk_first_partition(d); p; p = fs_image_disk_next_partition(p))
            out += volume_line(&p->volume, "partition " + std::to_string(p->number), p->uuid);
    }
    for (fs_lvm_group *g = fs_disk_list_first_lvm_group(list); g; g = fs_disk_list_next_lvm_group(g)) {
        out += "lvm group " + printable(g->name) + "\n";
        for (fs_lvm_volume *v = fs_lvm_group_first_volume(g); v; v = fs_lvm_group_next_volume(v))
            out += volume_line(&v->volume, "volume " + printable(v->name), nullptr);
    }
    return out;
}

}  // namespace

int cmd_volumes(int argc, char **argv) {
    bool json = false;
    std::vector<ImageArg> images;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) {
            json = true;
        } else if (!std::strcmp(argv[i], "--image") && i + 1 < argc) {
            const std::string a = argv[++i];
            const size_t c1 = a.find(':'), c2 = a.rfind(':');
            if (c1 == std::string::npos || c1 == c2) return usage_error("--image takes UUID:PATH:NAME");
            images.push_back({a.substr(0, c1), a.substr(c1 + 1, c2 - c1 - 1), a.substr(c2 + 1)});
        } else {
            return usage_error("volumes: unknown argument");
        }
    }
    fs_disk_list *list = nullptr;
    int rc = create_disk_list(&list);
    if (rc != FS_OK) {
        fs_disk_list_destroy(list);
        return fail("cannot list the disks", rc);
    }
    int status = kExitOk;
    for (const ImageArg &img : images) {
        fs_volume *host = find_volume_by_volume_id(list, QString::fromStdString(img.host_uuid));
        fs_image_disk *disk = nullptr;
        rc = host ? fs_disk_list_add_image_disk(list, host, img.path.c_str(), img.name.c_str(), &disk) : FS_ERR_IO;
        if (rc != FS_OK) {
            status = fail("cannot attach " + img.path + (host ? "" : " (no volume " + img.host_uuid + ")"), rc);
            break;
        }
    }
    if (status == kExitOk) std::fputs((json ? to_json(list) : to_text(list)).c_str(), stdout);
    fs_disk_list_destroy(list);
    return status;
}

}  // namespace orva_ic
