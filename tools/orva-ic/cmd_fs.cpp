// orva-ic fs: the file check list of this computer's volumes (through
// ORVA_SYSROOT when set), volumes named by identity: add objects, check
// every volume of the list. Volumes are mounted read-only while used.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "ic/fs/fs_disk_list.h"
#include "ic/fs/fs_icl.h"
#include "ic/fs/fs_icl_ptr.h"
#include "ic/fs/fs_volume_id.h"
#include "ic/qt/fs_names.h"
#include "ic/util/rbuf.h"
#include "ic/util/wbuf.h"

namespace orva_ic {
namespace {

// A list image larger than this is not one (the module's area is smaller).
constexpr size_t kMaxList = 64u << 20;

const char *usage_text =
    "fs add --list FILE VOLUME PATH [--flags N] [--mask M ...] [--image UUID:PATH:NAME ...] | "
    "fs check --list FILE [--json] [--image UUID:PATH:NAME ...]";

struct list_deleter {
    void operator()(fs_disk_list *l) const { fs_disk_list_destroy(l); }
};
using disk_list_ptr = std::unique_ptr<fs_disk_list, list_deleter>;
using ic_fs::icl_ptr;
using id_ptr = ic_fs::volume_id_ptr;
using check_ptr = ic_fs::icl_check_ptr;

int fail(const std::string &what, const std::string &why) {
    std::fprintf(stderr, "orva-ic fs: %s: %s\n", printable(what.c_str()).c_str(), why.c_str());
    return kExitFailure;
}

std::string code_text(int rc) {
    switch (rc) {
        case 1: return "input/output failure or malformed data (code 1)";
        case 2: return "invalid argument (code 2)";
        case 3: return "out of memory (code 3)";
        case 4: return "not found (code 4)";
        case 7: return "object missing or of the wrong type (code 7)";
        case 11: return "loop of symbolic links (code 11)";
        case 12: return "name too long (code 12)";
        default: return "error (code " + std::to_string(rc) + ")";
    }
}

// "disk:SERIAL:N", "image:NAME:N" or "lvm:GROUP/VOLUME".
std::string id_text(const fs_volume_id *id) {
    switch (fs_volume_id_kind(id)) {
        case FS_VOLUME_PARTITION: return "disk:" + std::string(id->first) + ":" + std::to_string(id->number);
        case FS_VOLUME_IMAGE_PARTITION: return "image:" + std::string(id->first) + ":" + std::to_string(id->number);
        default: return "lvm:" + std::string(id->first) + "/" + id->second;
    }
}

std::string id_hex(const fs_volume_id *id) {
    wbuf wb;
    std::string out;
    if (wb_init(&wb, 0) != 0) return out;
    if (_fs_write_volume_id_to_rbuf(id, &wb) == 0) out = hex(wb.data, wb.length);
    wb_finalize(&wb, 1);
    return out;
}

bool parse_number(const std::string &s, unsigned long max, unsigned long &value) {
    if (s.empty() || s[0] == '-') return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtoul(s.c_str(), &end, 0);
    return !*end && errno == 0 && value <= max;
}

// The id a VOLUME argument names by its fields or by its byte image in
// hexadecimal (as "orva-ic volumes --json" prints it); null when it names
// none that way.
id_ptr parse_id(const std::string &text) {
    fs_volume_id *id = nullptr;
    unsigned long number;
    for (const auto &[prefix, create] :
         {std::pair{std::string("disk:"), &fs_partition_id_create}, {std::string("image:"), &fs_image_partition_id_create}}) {
        if (text.compare(0, prefix.size(), prefix) != 0) continue;
        const size_t colon = text.rfind(':');
        if (colon < prefix.size() || !parse_number(text.substr(colon + 1), 0xFFFF, number)) return nullptr;
        create(text.substr(prefix.size(), colon - prefix.size()).c_str(), unsigned(number), &id);
        return id_ptr(id);
    }
    if (text.compare(0, 4, "lvm:") == 0) {
        const size_t slash = text.find('/');
        if (slash == std::string::npos) return nullptr;
        fs_lvm_volume_id_create(text.substr(4, slash - 4).c_str(), text.substr(slash + 1).c_str(), &id);
        return id_ptr(id);
    }
    if (text.empty() || text.size() % 2 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return nullptr;
    std::vector<uint8_t> bytes(text.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(std::stoul(text.substr(2 * i, 2), nullptr, 16));
    rbuf rb;
    rb_init(&rb, bytes.data(), uint32_t(bytes.size()));
    if (_fs_read_volume_id_from_rbuf(&rb, &id) != 0) return nullptr;
    if (rb_remaining(&rb) != 0) {
        fs_volume_id_destroy(id);
        return nullptr;
    }
    return id_ptr(id);
}

// The volume VOLUME names: an id form, else a file-system UUID or an LVM
// volume name.
fs_volume *find_volume(const fs_disk_list *list, const std::string &text) {
    if (const id_ptr id = parse_id(text)) return fs_disk_list_find_volume(list, id.get());
    return find_volume_by_volume_id(list, QString::fromStdString(text));
}

// The disks of the computer, with the image disks asked for attached.
int open_disks(const std::vector<std::string> &images, disk_list_ptr &out) {
    fs_disk_list *l = nullptr;
    int rc = create_disk_list(&l);
    out.reset(l);
    if (rc != FS_OK) return fail("cannot list the disks", code_text(rc));
    for (const std::string &image : images) {
        const size_t c1 = image.find(':'), c2 = image.rfind(':');
        const std::string host_id = image.substr(0, c1), path = image.substr(c1 + 1, c2 - c1 - 1);
        fs_volume *host = find_volume_by_volume_id(out.get(), QString::fromStdString(host_id));
        if (!host) return fail(image, "no volume " + host_id);
        fs_image_disk *disk = nullptr;
        rc = fs_disk_list_add_image_disk(out.get(), host, path.c_str(), image.substr(c2 + 1).c_str(), &disk);
        if (rc != FS_OK) return fail(image, "cannot attach the image (code " + std::to_string(rc) + ")");
    }
    return kExitOk;
}

// The list at path; a missing file is an empty list when may_be_new.
int load(const std::string &path, bool may_be_new, icl_ptr &icl) {
    std::string image;
    fs_icl *l = nullptr;
    int rc;
    if (!read_file(path, image, kMaxList)) {
        if (!(may_be_new && errno == ENOENT)) return fail(path, std::strerror(errno));
        rc = fs_icl_create(&l);
    } else {
        rc = fs_icl_read_from_mem(image.data(), uint32_t(image.size()), &l);
    }
    if (rc != FS_OCL_OK) return fail(path, code_text(rc));
    icl.reset(l);
    return kExitOk;
}

struct Options {
    const char *list = nullptr;
    std::vector<const char *> positional;
    long flags = -1;
    std::vector<std::string> masks, images;
    bool json = false;
};

int parse(int argc, char **argv, bool add, Options &o) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--list" && has_value) {
            o.list = argv[++i];
        } else if (arg == "--image" && has_value) {
            const std::string image = argv[++i];
            const size_t c1 = image.find(':'), c2 = image.rfind(':');
            if (c1 == std::string::npos || c1 == c2) return usage_error("fs: --image takes UUID:PATH:NAME");
            o.images.push_back(image);
        } else if (add && arg == "--flags" && has_value) {
            unsigned long v;
            if (!parse_number(argv[++i], 0xFFFF, v) || (v & FS_OCL_FORM_2_MARK))
                return usage_error("fs add: --flags wants a number 0..65535 without 16 (the mark of the record form)");
            o.flags = long(v);
        } else if (add && arg == "--mask" && has_value) {
            o.masks.push_back(argv[++i]);
        } else if (!add && arg == "--json") {
            o.json = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "orva-ic fs: unknown option or missing value '%s'\n", arg.c_str());
            return usage_error(nullptr);
        } else {
            o.positional.push_back(argv[i]);
        }
    }
    if (!o.list) return usage_error(usage_text);
    if (o.positional.size() != (add ? 2u : 0u)) return usage_error(usage_text);
    return kExitOk;
}

int fs_add(int argc, char **argv) {
    Options o;
    if (int status = parse(argc, argv, true, o)) return status;
    const std::string volume_arg = o.positional[0], path = o.positional[1];
    disk_list_ptr disks;
    if (int status = open_disks(o.images, disks)) return status;
    fs_volume *volume = find_volume(disks.get(), volume_arg);
    if (!volume) return fail(volume_arg, "no such volume on this computer, or more than one");
    icl_ptr icl;
    if (int status = load(o.list, true, icl)) return status;

    // A directory if it is one inside the volume, else a file.
    std::vector<const char *> m;
    for (const std::string &s : o.masks) m.push_back(s.c_str());
    m.push_back(nullptr);
    bool dir = true;
    uint16_t flags = uint16_t(o.flags >= 0 ? o.flags : 15);
    int rc = fs_icl_add_dir(icl.get(), volume, path.c_str(), o.masks.empty() ? nullptr : m.data(), flags, nullptr);
    if (rc == FS_OCL_ERR_MISSING) {
        if (!o.masks.empty()) return usage_error("fs add: --mask is for directories");
        dir = false;
        flags = uint16_t(o.flags >= 0 ? o.flags : 12);
        rc = fs_icl_add_file(icl.get(), volume, path.c_str(), flags, nullptr);
    }
    if (rc != FS_OCL_OK) return fail(volume_arg + " " + path, code_text(rc));

    uint8_t *data = nullptr;
    uint32_t size = 0;
    if ((rc = fs_icl_write_to_mem(icl.get(), &data, &size)) != FS_OCL_OK) return fail(o.list, code_text(rc));
    const bool ok = write_file_atomically(o.list, data, size);
    std::free(data);
    if (!ok) return fail(o.list, std::string("cannot write: ") + std::strerror(errno));
    fs_volume_id *raw = nullptr;
    fs_volume_create_id(volume, &raw);
    const id_ptr id(raw);
    const fs_icl_volume *entry = id ? fs_icl_find_volume(icl.get(), id.get()) : nullptr;
    std::printf("%s %s added (flags %u) on %s, %u objects on it, %u volumes in %s\n", dir ? "directory" : "file",
                printable(path.c_str()).c_str(), unsigned(flags), id ? printable(id_text(id.get()).c_str()).c_str() : "?",
                entry ? entry->ocl->count : 0u, icl->count, printable(o.list).c_str());
    return kExitOk;
}

const char *state_name(int state) {
    switch (state) {
        case FS_ICL_CHECKED: return "checked";
        case FS_ICL_DISK_NOT_FOUND: return "disk_not_found";
        case FS_ICL_VOLUME_NOT_FOUND: return "volume_not_found";
        case FS_ICL_MOUNT_FAILED: return "mount_failed";
        case FS_ICL_AMBIGUOUS: return "ambiguous";
        default: return "check_failed";
    }
}

std::string to_text(const fs_icl_check_info *info) {
    if (info->count == 0) return "the list is empty\n";
    std::string out;
    for (const fs_icl_check_volume *r = fs_icl_check_first_volume(info); r; r = fs_icl_check_next_volume(r)) {
        out += printable(id_text(r->icl_volume->id).c_str());
        if (r->volume) out += " " + printable(r->volume->devnode);
        out += ": ";
        if (r->state != FS_ICL_CHECKED) {
            std::string state = state_name(r->state);
            for (char &c : state) c = c == '_' ? ' ' : c;
            out += state;
            if (r->code) out += ", " + code_text(r->code);
            out += "\n";
            continue;
        }
        out += r->check->count ? std::to_string(r->check->count) + " objects differ\n" : "no differences\n";
        out += ocl_check_text(r->check, "  ");
    }
    return out;
}

std::string to_json(const fs_icl_check_info *info) {
    std::string out = "{\"passed\": " + std::string(fs_icl_check_info_passed(info) ? "true" : "false") +
                      ", \"volumes\": [";
    for (const fs_icl_check_volume *r = fs_icl_check_first_volume(info); r; r = fs_icl_check_next_volume(r)) {
        out += r == fs_icl_check_first_volume(info) ? "\n  " : ",\n  ";
        out += "{\"volume\": " + json_string(id_text(r->icl_volume->id).c_str()) +
               ", \"volume_id\": " + json_string(id_hex(r->icl_volume->id).c_str()) +
               ", \"node\": " + (r->volume && r->volume->devnode ? json_string(r->volume->devnode) : "null") +
               ", \"objects_listed\": " + std::to_string(r->icl_volume->ocl->count) +
               ", \"state\": " + json_string(state_name(r->state)) + ", \"code\": " + std::to_string(r->code);
        if (r->state == FS_ICL_CHECKED)
            out += ", \"differences\": " + std::to_string(r->check->count) +
                   ", \"objects\": " + ocl_check_json(r->check, "  ");
        out += "}";
    }
    out += info->count ? "\n]}\n" : "]}\n";
    return out;
}

int fs_check(int argc, char **argv) {
    Options o;
    if (int status = parse(argc, argv, false, o)) return status;
    icl_ptr icl;
    if (int status = load(o.list, false, icl)) return status;
    disk_list_ptr disks;
    if (int status = open_disks(o.images, disks)) return status;
    fs_icl_check_info *raw = nullptr;
    const int rc = fs_icl_check_info_create_all(icl.get(), disks.get(), &raw);
    if (rc != FS_OCL_OK) return fail(o.list, code_text(rc));
    const check_ptr info(raw);
    std::fputs((o.json ? to_json(info.get()) : to_text(info.get())).c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return fail("standard output", std::strerror(errno));
    // A volume that could not be mounted or checked is a failure; one that
    // is gone, or differences, mean the computer differs from the list.
    int status = kExitOk;
    for (const fs_icl_check_volume *r = fs_icl_check_first_volume(info.get()); r; r = fs_icl_check_next_volume(r)) {
        if (r->state == FS_ICL_MOUNT_FAILED || r->state == FS_ICL_CHECK_FAILED) return kExitFailure;
        if (r->state != FS_ICL_CHECKED || r->check->count) status = kExitDiffers;
    }
    return status;
}

}  // namespace

int cmd_fs(int argc, char **argv) {
    if (argc < 1) return usage_error("fs: add or check?");
    const std::string sub = argv[0];
    if (sub == "add") return fs_add(argc - 1, argv + 1);
    if (sub == "check") return fs_check(argc - 1, argv + 1);
    std::fprintf(stderr, "orva-ic fs: unknown subcommand '%s'\n", argv[0]);
    return usage_error(nullptr);
}

}  // namespace orva_ic
