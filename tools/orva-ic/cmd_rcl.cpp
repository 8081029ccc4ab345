// orva-ic rcl: a registry check list in a file, built from and checked
// against the registry of a Windows directory.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "commands.h"
#include "ic/rcl/rcl.h"
#include "ic/util/unique_fd.h"

namespace orva_ic {
namespace {

constexpr size_t kMaxList = 64u << 20;

int fail(const std::string &what, int rc) {
    std::fprintf(stderr, "orva-ic rcl: %s (code %d)\n", what.c_str(), rc);
    return kExitFailure;
}

std::string u8(const rcl_string &s) {
    std::vector<reg_char> w(s.begin(), s.end());
    w.push_back(0);
    char *text = nullptr;
    std::string out;
    if (reg_utf16_to_utf8_alloc(w.data(), &text) == REG_OK) out = text;
    reg_free_string_u8(text);
    return out;
}

// The list in file, or an empty one when the file does not exist.
int load(const char *file, rcl **list) {
    std::string bytes;
    if (!read_file(file, bytes, kMaxList)) return errno == ENOENT ? rcl_create(list) : REG_ERR_IO;
    return rcl_read_from_mem(reinterpret_cast<const uint8_t *>(bytes.data()), uint32_t(bytes.size()), list);
}

// Written beside the file and renamed over it.
int save(const char *file, const rcl *list) {
    uint8_t *data;
    uint32_t size;
    int rc = rcl_write_to_mem(list, &data, &size);
    if (rc) return rc;
    const bool ok = write_file_atomically(file, data, size);
    std::free(data);
    return ok ? REG_OK : REG_ERR_IO;
}

bool parse_flags(const char *text, uint16_t &flags) {
    char *end;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 0);
    if (errno || *end || end == text || v > 0x7F) return false;
    flags = uint16_t(v);
    return true;
}

std::string flag_names(uint32_t flags, bool json) {
    std::string out;
    for (unsigned bit = 0; bit < 10; ++bit)
        if (flags & (1u << bit)) {
            if (!out.empty()) out += json ? ", " : " ";
            out += json ? "\"" + std::string(rcl_result_flag_name(bit)) + "\"" : rcl_result_flag_name(bit);
        }
    return out;
}

int cmd_add(int argc, char **argv) {
    // LIST WINDIR key PATH [FLAGS] | LIST WINDIR value PATH NAME [FLAGS]
    if (argc < 4) return usage_error("rcl add: LIST WINDIR key PATH [FLAGS] | value PATH NAME [FLAGS] expected");
    const bool key = !std::strcmp(argv[2], "key");
    if (!key && std::strcmp(argv[2], "value")) return usage_error("rcl add: key or value expected");
    const int fixed = key ? 4 : 5;
    if (argc < fixed || argc > fixed + 1) return usage_error("rcl add: wrong number of arguments");
    uint16_t flags = key ? 0x7F : 0x60;
    if (argc == fixed + 1 && !parse_flags(argv[fixed], flags)) return usage_error("rcl add: bad flags");
    rcl *list;
    int rc = load(argv[0], &list);
    if (rc) return fail(std::string(argv[0]) + ": cannot read the list", rc);
    reg *space;
    rc = create_winreg(argv[1], &space);
    if (rc) {
        rcl_destroy(list);
        return fail(std::string(argv[1]) + ": cannot read the registry", rc);
    }
    rc = key ? rcl_add_key_u8(list, space, argv[3], flags, nullptr)
             : rcl_add_value_u8(list, space, argv[3], argv[4], flags, nullptr);
    reg_destroy(space);
    if (!rc) rc = save(argv[0], list);
    rcl_destroy(list);
    if (rc) return fail(std::string("cannot add ") + argv[3], rc);
    return kExitOk;
}

int cmd_check(int argc, char **argv) {
    bool json = false;
    std::vector<const char *> args;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) json = true;
        else args.push_back(argv[i]);
    }
    if (args.size() != 2) return usage_error("rcl check: LIST WINDIR [--json] expected");
    rcl *list;
    int rc = load(args[0], &list);
    if (rc) return fail(std::string(args[0]) + ": cannot read the list", rc);
    reg *space;
    rc = create_winreg(args[1], &space);
    rcl_check_info *info = nullptr;
    if (!rc) {
        rc = rcl_check_info_create(list, space, &info);
        reg_destroy(space);
    }
    if (rc) {
        rcl_destroy(list);
        return fail(std::string(args[1]) + ": cannot check the registry", rc);
    }
    std::string out = json ? "{\"values\": [" : "";
    for (const rcl_check_value *v = rcl_check_first_value(info); v; v = rcl_check_next_value(v)) {
        const std::string path = u8(v->entry->path), name = u8(v->entry->name);
        if (json)
            out += std::string(v == rcl_check_first_value(info) ? "" : ", ") + "{\"path\": " + json_string(path.c_str()) +
                   ", \"name\": " + json_string(name.c_str()) + ", \"flags\": " + std::to_string(v->flags) +
                   ", \"flag_names\": [" + flag_names(v->flags, true) + "]}";
        else
            out += "value " + printable(path.c_str()) + " : " + printable(name.c_str()) + "  " + flag_names(v->flags, false) + "\n";
    }
    if (json) out += "], \"keys\": [";
    for (const rcl_check_key *k = rcl_check_first_key(info); k; k = rcl_check_next_key(k)) {
        const std::string path = u8(k->entry->path);
        uint32_t all = 0;
        for (const rcl_key_item *i = rcl_check_first_key_item(k); i; i = rcl_check_next_key_item(k, i)) all |= i->flags;
        if (json)
            out += std::string(k == rcl_check_first_key(info) ? "" : ", ") + "{\"path\": " + json_string(path.c_str()) +
                   ", \"flags\": " + std::to_string(all) + ", \"flag_names\": [" + flag_names(all, true) +
                   "], \"items\": [";
        else
            out += "key " + printable(path.c_str()) + "\n";
        for (const rcl_key_item *i = rcl_check_first_key_item(k); i; i = rcl_check_next_key_item(k, i)) {
            const std::string rel = u8(i->path), value = i->value ? u8(*i->value) : std::string();
            if (json)
                out += std::string(i == rcl_check_first_key_item(k) ? "" : ", ") + "{\"path\": " + json_string(rel.c_str()) +
                       ", \"value\": " + (i->value ? json_string(value.c_str()) : std::string("null")) +
                       ", \"flags\": " + std::to_string(i->flags) + ", \"flag_names\": [" + flag_names(i->flags, true) + "]}";
            else
                out += "    " + (rel.empty() ? std::string(".") : printable(rel.c_str())) +
                       (i->value ? " : " + printable(value.c_str()) : std::string()) + "  " + flag_names(i->flags, false) + "\n";
        }
        if (json) out += "]}";
    }
    if (json) out += "]}\n";
    const bool differs = info->value_count || info->key_count;
    rcl_check_info_destroy(info);
    rcl_destroy(list);
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (std::fflush(stdout) != 0) return kExitFailure;
    return differs ? kExitDiffers : kExitOk;
}

}  // namespace

int cmd_rcl(int argc, char **argv) {
    if (argc >= 1 && !std::strcmp(argv[0], "add")) return cmd_add(argc - 1, argv + 1);
    if (argc >= 1 && !std::strcmp(argv[0], "check")) return cmd_check(argc - 1, argv + 1);
    return usage_error("rcl: add or check expected");
}

}  // namespace orva_ic
