// orva-ic ocl: the file check list of one mounted volume (ROOT is its
// mount directory, paths are inside the volume): add objects, check them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "ic/fs/fs_ocl.h"
#include "ic/fs/fs_ocl_check.h"
#include "ic/fs/fs_ocl_ptr.h"

namespace orva_ic {
namespace {

const struct {
    uint32_t bit;
    const char *name;
} kFlagNames[] = {
    {FS_OCL_NEW_FILE, "new_file"},        {FS_OCL_FILE_MISSING, "file_missing"},
    {FS_OCL_DATA_CHANGED, "data"},        {FS_OCL_MODE_CHANGED, "mode"},
    {FS_OCL_UID_CHANGED, "uid"},          {FS_OCL_GID_CHANGED, "gid"},
    {FS_OCL_SIZE_CHANGED, "size"},        {FS_OCL_MTIME_CHANGED, "mtime"},
    {FS_OCL_DIR_HASH_CHANGED, "dir_hash"}, {FS_OCL_DIR_MISSING, "dir_missing"},
    {FS_OCL_DIR_MODE_CHANGED, "dir_mode"}, {FS_OCL_DIR_UID_CHANGED, "dir_uid"},
    {FS_OCL_DIR_GID_CHANGED, "dir_gid"},
};

}  // namespace

std::string ocl_flag_names(uint32_t flags, const char *quote, const char *sep) {
    std::string out;
    for (const auto &f : kFlagNames) {
        if (!(flags & f.bit)) continue;
        if (!out.empty()) out += sep;
        out += quote;
        out += f.name;
        out += quote;
    }
    return out;
}


std::string ocl_check_text(const fs_ocl_check_info *check, const std::string &prefix) {
    std::string out;
    for (const fs_ocl_check_object *o = fs_ocl_check_first_object(check); o; o = fs_ocl_check_next_object(check, o)) {
        const std::string path = printable(o->object->path);
        if (o->variant == FS_OCL_CHECK_FILE) {
            const uint32_t flags = reinterpret_cast<const fs_ocl_check_file *>(o)->flags;
            out += prefix + path + ": " + ocl_flag_names(flags, "", " ") + "\n";
            continue;
        }
        // Item paths are relative to the directory object.
        std::string base = path;
        while (!base.empty() && base.back() == '/') base.pop_back();
        for (const fs_ocl_check_dir_item *i = fs_ocl_check_first_dir_item(o); i; i = fs_ocl_check_next_dir_item(i))
            out += prefix + base + printable(i->path) + ": " + ocl_flag_names(i->flags, "", " ") + "\n";
    }
    return out;
}

std::string ocl_check_json(const fs_ocl_check_info *check, const std::string &indent) {
    std::string out = "[";
    for (const fs_ocl_check_object *o = fs_ocl_check_first_object(check); o; o = fs_ocl_check_next_object(check, o)) {
        out += (o == fs_ocl_check_first_object(check) ? "\n  " : ",\n  ") + indent;
        out += "{\"path\": " + json_string(o->object->path);
        if (o->variant == FS_OCL_CHECK_FILE) {
            const uint32_t flags = reinterpret_cast<const fs_ocl_check_file *>(o)->flags;
            out += ", \"type\": \"file\", \"flags\": " + std::to_string(flags) + ", \"flag_names\": [" +
                   ocl_flag_names(flags, "\"", ", ") + "]}";
            continue;
        }
        uint32_t all = 0;
        for (const fs_ocl_check_dir_item *i = fs_ocl_check_first_dir_item(o); i; i = fs_ocl_check_next_dir_item(i))
            all |= i->flags;
        out += ", \"type\": \"dir\", \"flags\": " + std::to_string(all) + ", \"flag_names\": [" +
               ocl_flag_names(all, "\"", ", ") + "], \"items\": [";
        for (const fs_ocl_check_dir_item *i = fs_ocl_check_first_dir_item(o); i; i = fs_ocl_check_next_dir_item(i)) {
            out += (i == fs_ocl_check_first_dir_item(o) ? "\n    " : ",\n    ") + indent;
            out += "{\"path\": " + json_string(i->path) + ", \"flags\": " + std::to_string(i->flags) +
                   ", \"flag_names\": [" + ocl_flag_names(i->flags, "\"", ", ") + "]}";
        }
        out += "\n  " + indent + "]}";
    }
    out += check->count ? "\n" + indent + "]" : "]";
    return out;
}

namespace {

// A list image larger than this is not one (the module's area is smaller).
constexpr size_t kMaxList = 64u << 20;

const char *code_text(int rc) {
    switch (rc) {
        case FS_OCL_ERR_IO: return "input/output failure or malformed data";
        case FS_OCL_ERR_INVAL: return "invalid argument (paths begin with '/')";
        case FS_OCL_ERR_NOMEM: return "out of memory";
        case FS_OCL_ERR_NOTFOUND: return "not found";
        case FS_OCL_ERR_MISSING: return "object missing or of the wrong type";
        case FS_OCL_ERR_LOOP: return "loop of symbolic links";
        case FS_OCL_ERR_NAME_TOO_LONG: return "name too long";
        default: return "error";
    }
}

int fail(const std::string &what, int rc) {
    std::fprintf(stderr, "orva-ic ocl: %s: %s (code %d)\n", what.c_str(), code_text(rc), rc);
    return kExitFailure;
}

bool parse_number(const char *s, unsigned long max, unsigned long &value) {
    char *end = nullptr;
    errno = 0;
    value = std::strtoul(s, &end, 0);
    return *s && *s != '-' && !*end && errno == 0 && value <= max;
}

// The list at path; a missing file is an empty list when may_be_new.
int load(const std::string &path, bool may_be_new, ic_fs::ocl_ptr &ocl) {
    std::string image;
    fs_ocl *o = nullptr;
    int rc;
    if (!read_file(path, image, kMaxList)) {
        if (!(may_be_new && errno == ENOENT)) {
            std::fprintf(stderr, "orva-ic ocl: %s: %s\n", path.c_str(), std::strerror(errno));
            return kExitFailure;
        }
        rc = fs_ocl_create(&o);
    } else {
        rc = fs_ocl_read_from_mem(image.data(), uint32_t(image.size()), &o);
    }
    if (rc != FS_OCL_OK) return fail(path, rc);
    ocl.reset(o);
    return kExitOk;
}

int ocl_add(int argc, char **argv) {
    const char *root = nullptr, *path = nullptr, *list = nullptr;
    long flags = -1;
    std::vector<std::string> masks;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--flags" && has_value) {
            unsigned long v;
            if (!parse_number(argv[++i], 0xFFFF, v) || (v & FS_OCL_FORM_2_MARK))
                return usage_error("ocl add: --flags wants a number 0..65535 without 16 (the mark of the record form)");
            flags = long(v);
        } else if (arg == "--mask" && has_value) {
            masks.push_back(argv[++i]);
        } else if (arg == "--list" && has_value) {
            list = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "orva-ic ocl: unknown option or missing value '%s'\n", arg.c_str());
            return usage_error(nullptr);
        } else if (!root) {
            root = argv[i];
        } else if (!path) {
            path = argv[i];
        } else {
            return usage_error("ocl add: too many arguments");
        }
    }
    if (!root || !path || !list) return usage_error("ocl add: ROOT, PATH and --list FILE are needed");

    ic_fs::ocl_ptr ocl;
    if (int status = load(list, true, ocl)) return status;
    // A directory if it is one inside the volume, else a file.
    std::vector<const char *> m;
    for (const std::string &s : masks) m.push_back(s.c_str());
    m.push_back(nullptr);
    bool dir = true;
    uint16_t f = uint16_t(flags >= 0 ? flags : 15);
    int rc = fs_ocl_add_dir(ocl.get(), root, path, masks.empty() ? nullptr : m.data(), f, nullptr);
    if (rc == FS_OCL_ERR_MISSING) {
        if (!masks.empty()) return usage_error("ocl add: --mask is for directories");
        dir = false;
        f = uint16_t(flags >= 0 ? flags : 12);
        rc = fs_ocl_add_file(ocl.get(), root, path, f, nullptr);
    }
    if (rc != FS_OCL_OK) return fail(std::string(root) + path, rc);

    uint8_t *data = nullptr;
    uint32_t size = 0;
    if ((rc = fs_ocl_write_to_mem(ocl.get(), &data, &size)) != FS_OCL_OK) return fail(list, rc);
    const bool ok = write_file_atomically(list, data, size);
    std::free(data);
    if (!ok) {
        std::fprintf(stderr, "orva-ic ocl: cannot write %s: %s\n", list, std::strerror(errno));
        return kExitFailure;
    }
    std::printf("%s %s added (flags %u), %u objects in %s\n", dir ? "directory" : "file", printable(path).c_str(),
                unsigned(f), ocl->count, printable(list).c_str());
    return kExitOk;
}

int ocl_check(int argc, char **argv) {
    const char *root = nullptr, *list = nullptr;
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--list" && i + 1 < argc) {
            list = argv[++i];
        } else if (arg == "--json") {
            json = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "orva-ic ocl: unknown option or missing value '%s'\n", arg.c_str());
            return usage_error(nullptr);
        } else if (!root) {
            root = argv[i];
        } else {
            return usage_error("ocl check: too many arguments");
        }
    }
    if (!root || !list) return usage_error("ocl check: ROOT and --list FILE are needed");

    ic_fs::ocl_ptr ocl;
    if (int status = load(list, false, ocl)) return status;
    fs_ocl_check_info *c = nullptr;
    const int rc = fs_ocl_check_info_create(ocl.get(), root, &c);
    if (rc != FS_OCL_OK) return fail(root, rc);
    const ic_fs::ocl_check_ptr check(c);
    if (json)
        std::fputs(("{\"root\": " + json_string(root) + ", \"differences\": " + std::to_string(check->count) +
                    ", \"objects\": " + ocl_check_json(check.get(), "") + "}\n")
                       .c_str(),
                   stdout);
    else if (check->count == 0) std::puts("no differences");
    else std::fputs(ocl_check_text(check.get(), "").c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "orva-ic ocl: cannot write the output: %s\n", std::strerror(errno));
        return kExitFailure;
    }
    return check->count ? kExitDiffers : kExitOk;
}

}  // namespace

int cmd_ocl(int argc, char **argv) {
    if (argc < 1) return usage_error("ocl: add or check?");
    const std::string sub = argv[0];
    if (sub == "add") return ocl_add(argc - 1, argv + 1);
    if (sub == "check") return ocl_check(argc - 1, argv + 1);
    std::fprintf(stderr, "orva-ic ocl: unknown subcommand '%s'\n", argv[0]);
    return usage_error(nullptr);
}

}  // namespace orva_ic
