// orva-ic reg: every key and value of a hive file (dump), or the subkeys
// and values of one key of a Windows directory's registry (ls).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "gost/gost_r3411_94.h"
#include "ic/reg/reg.h"

namespace orva_ic {
namespace {

// Keys deeper than this are taken for a broken hive.
constexpr size_t kMaxDepth = 512;

const char *code_text(int rc) {
    switch (rc) {
        case REG_ERR_IO: return "input/output error, missing file or too many link steps";
        case REG_ERR_INVAL: return "invalid argument or data outside the hive";
        case REG_ERR_NOMEM: return "out of memory";
        case REG_ERR_FORMAT: return "malformed hive file";
        case REG_ERR_NOT_SUPPORTED: return "operation not supported";
        case REG_ERR_NOT_FOUND: return "not found";
        case REG_ERR_DIRTY: return "hive left half-written and no transaction log recovers it";
        case REG_ERR_OUTSIDE: return "path leaves its directory";
        case REG_ERR_NOT_REGULAR: return "not a regular file";
        default: return "error";
    }
}

int fail(const char *command, const std::string &what, int rc) {
    std::fprintf(stderr, "orva-ic %s: %s: %s (code %d)\n", command, what.c_str(), code_text(rc), rc);
    return kExitFailure;
}

std::string u8(const reg_char *s) {
    char *text = nullptr;
    std::string out;
    if (reg_utf16_to_utf8_alloc(s, &text) == REG_OK) out = text;
    reg_free_string_u8(text);
    return out;
}

struct ValueInfo {
    std::string name;
    uint32_t type = 0, size = 0;
    uint8_t digest[GOST_R3411_94_DIGEST_SIZE] = {};
};

// Type, size and data digest of a value.
int read_value(reg_value *v, gost_r3411_94_ctx *ctx, ValueInfo &info) {
    const reg_char *name;
    int rc = reg_get_value_name(v, &name);
    if (!rc) rc = reg_get_value_type(v, &info.type);
    if (!rc) rc = reg_get_value_data_size(v, &info.size);
    if (rc) return rc;
    info.name = u8(name);
    gost_r3411_94_init(ctx, GOST_R3411_94_PARAMS_CRYPTOPRO);
    uint8_t piece[4096];
    for (uint32_t at = 0; at < info.size;) {
        const uint32_t n = info.size - at < sizeof piece ? info.size - at : uint32_t(sizeof piece);
        rc = reg_get_value_data(v, at, piece, n);
        if (rc) return rc;
        gost_r3411_94_update(ctx, piece, n);
        at += n;
    }
    gost_r3411_94_final(ctx, info.digest);
    return REG_OK;
}

int key_values(reg_key *key, gost_r3411_94_ctx *ctx, std::vector<ValueInfo> &values) {
    values.clear();
    reg_value_enum *en;
    int rc = reg_create_value_enum(key, &en);
    if (rc) return rc;
    for (;;) {
        reg_value *v;
        rc = reg_get_next_enum_value(en, &v);
        if (rc) break;
        values.emplace_back();
        rc = read_value(v, ctx, values.back());
        reg_close_value(v);
        if (rc) break;
    }
    reg_destroy_value_enum(en);
    return rc == REG_ERR_NOT_FOUND ? REG_OK : rc;
}

// Appends hex digits of the digest without a temporary string.
void append_hex(std::string &out, const uint8_t *bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    char buf[2 * GOST_R3411_94_DIGEST_SIZE];
    for (size_t i = 0; i < n; ++i) {
        buf[2 * i] = digits[bytes[i] >> 4];
        buf[2 * i + 1] = digits[bytes[i] & 15];
    }
    out.append(buf, 2 * n);
}

// Text as JSON or for the terminal; plain ASCII is taken as it is.
void append_text(std::string &out, const std::string &text, bool json) {
    bool plain = true;
    for (unsigned char c : text)
        if (c < 0x20 || c >= 0x7F || (json && (c == '"' || c == '\\'))) {
            plain = false;
            break;
        }
    if (!plain) {
        out += json ? json_string(text.c_str()) : printable(text.c_str());
        return;
    }
    if (json) out += '"';
    out += text;
    if (json) out += '"';
}

const char *status_text(int status) {
    switch (status) {
        case REG_OK: return "applied";
        case REG_ERR_NOT_FOUND: return "not applicable";
        case REG_ERR_FORMAT: return "invalid";
        default: return code_text(status);
    }
}

// What the transaction logs did, as JSON members or a comment line.
std::string recovery_text(const reg_recovery &r, bool used_logs, bool json) {
    std::string out;
    if (json) {
        out = "\"logs_used\": " + std::string(used_logs ? "true" : "false") +
              ", \"dirty\": " + (r.dirty ? "true" : "false") + ", \"sequence\": " + std::to_string(r.sequence);
        if (!r.dirty) return out;
        out += std::string(", \"base_repaired\": ") + (r.base_repaired ? "true" : "false") + ", \"log_format\": \"" +
               (r.format == REG_LOG_NEW ? "new" : r.format == REG_LOG_OLD ? "old" : "none") + "\", \"logs\": [";
        for (unsigned i = 0; i < r.log_count; ++i) {
            const reg_log_info &l = r.logs[i];
            out += (i ? ", {\"name\": " : "{\"name\": ") + json_string(l.name) + ", \"status\": \"" +
                   status_text(l.status) + "\", \"entries\": " + std::to_string(l.entries) +
                   ", \"pages\": " + std::to_string(l.pages) + "}";
        }
        return out + "]";
    }
    if (!r.dirty) return std::string();
    out = "# dirty hive recovered";
    if (r.base_repaired) out += ", base block from the log";
    for (unsigned i = 0; i < r.log_count; ++i) {
        const reg_log_info &l = r.logs[i];
        out += "; " + printable(l.name) + ": " + status_text(l.status);
        if (l.status == REG_OK)
            out += r.format == REG_LOG_NEW ? ", " + std::to_string(l.entries) + " entries, " + std::to_string(l.pages) + " pages"
                                           : ", " + std::to_string(l.pages) + " pages";
    }
    return out + "; sequence number " + std::to_string(r.sequence) + "\n";
}

class Printer {
public:
    explicit Printer(bool json) : json_(json) {}
    void begin(const char *hive, const std::string &recovery) {
        if (json_) out_ = "{\"hive\": " + json_string(hive) + ", " + recovery + ", \"keys\": [";
        else out_ = recovery;
    }
    void key(const std::string &path, reg_key *key, const std::vector<ValueInfo> &values) {
        uint64_t timestamp = 0;
        reg_get_timestamp(key, &timestamp);
        char *cls = nullptr;
        const bool has_class = reg_get_class_name_u8(key, &cls) == REG_OK;
        if (json_) {
            out_ += first_key_ ? "\n{\"path\": " : ",\n{\"path\": ";
            first_key_ = false;
            append_text(out_, path, true);
            out_ += ", \"timestamp\": " + std::to_string(timestamp) + ", \"class\": ";
            if (has_class) append_text(out_, cls, true);
            else out_ += "null";
            out_ += reg_is_symlink(key) ? ", \"symlink\": true, \"values\": [" : ", \"symlink\": false, \"values\": [";
            for (size_t i = 0; i < values.size(); ++i) {
                const ValueInfo &v = values[i];
                out_ += i ? ", {\"name\": " : "{\"name\": ";
                append_text(out_, v.name, true);
                out_ += ", \"type\": " + std::to_string(v.type) + ", \"size\": " + std::to_string(v.size) +
                        ", \"digest\": \"";
                append_hex(out_, v.digest, sizeof v.digest);
                out_ += "\"}";
            }
            out_ += "]}";
        } else {
            append_text(out_, path, false);
            out_ += "  timestamp=" + std::to_string(timestamp);
            if (has_class) {
                out_ += " class=\"";
                append_text(out_, cls, false);
                out_ += "\"";
            }
            if (reg_is_symlink(key)) out_ += " symlink";
            out_ += "\n";
            for (const ValueInfo &v : values) {
                out_ += "    \"";
                append_text(out_, v.name, false);
                out_ += "\" type=" + std::to_string(v.type) + " size=" + std::to_string(v.size) + " gost=";
                append_hex(out_, v.digest, sizeof v.digest);
                out_ += "\n";
            }
        }
        reg_free_string_u8(cls);
        if (out_.size() > (1u << 20)) flush();
    }
    bool end() {
        if (json_) out_ += "\n]}\n";
        flush();
        return std::fflush(stdout) == 0 && !std::ferror(stdout);
    }

private:
    void flush() {
        std::fwrite(out_.data(), 1, out_.size(), stdout);
        out_.clear();
    }
    bool json_;
    bool first_key_ = true;
    std::string out_;
};

// Cells met on the walk: one bit per 8-byte unit of the hive bins.
class CellSet {
public:
    bool insert(uint32_t cell) {
        const size_t unit = cell / 8;
        if (unit >= bits_.size()) bits_.resize(unit + 1 + unit / 2);
        if (bits_[unit]) return false;
        bits_[unit] = true;
        return true;
    }

private:
    std::vector<bool> bits_;
};

// Depth-first walk of the hive from its root; a key met twice is a cycle.
int dump(reg_hive *hive, Printer &printer) {
    gost_r3411_94_ctx *ctx = gost_r3411_94_create_context();
    if (!ctx) return REG_ERR_NOMEM;
    struct Frame {
        reg_key *key;
        reg_key_enum *en;
        std::string path;
    };
    std::vector<Frame> stack;
    CellSet seen;
    std::vector<ValueInfo> values;
    reg_key *root;
    int rc = reg_get_root_key(hive, &root);
    if (!rc) {
        rc = key_values(root, ctx, values);
        if (!rc) printer.key("\\", root, values);
        reg_key_enum *en = nullptr;
        if (!rc) rc = reg_create_key_enum(root, REG_OPEN_LINK, &en);
        stack.push_back({root, en, ""});
        const void *h;
        uint32_t cell;
        reg_get_key_identity(root, &h, &cell);
        seen.insert(cell);
    }
    while (!rc && !stack.empty()) {
        Frame &top = stack.back();
        reg_char *name;
        reg_key *key;
        rc = reg_get_next_enum_key(top.en, &name, &key);
        if (rc == REG_ERR_NOT_FOUND) {
            rc = REG_OK;
            reg_destroy_key_enum(top.en);
            reg_close_key(top.key);
            stack.pop_back();
            continue;
        }
        if (rc) break;
        std::string path = top.path + "\\" + u8(name);
        reg_free_name(name);
        const void *h;
        uint32_t cell;
        reg_get_key_identity(key, &h, &cell);
        if (!seen.insert(cell) || stack.size() >= kMaxDepth) {
            std::fprintf(stderr, "orva-ic reg: %s: key met twice or nested too deep\n", path.c_str());
            reg_close_key(key);
            rc = REG_ERR_FORMAT;
            break;
        }
        rc = key_values(key, ctx, values);
        if (!rc) printer.key(path, key, values);
        reg_key_enum *en = nullptr;
        if (!rc) rc = reg_create_key_enum(key, REG_OPEN_LINK, &en);
        if (rc) {
            reg_close_key(key);
            break;
        }
        stack.push_back({key, en, std::move(path)});
    }
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        reg_destroy_key_enum(it->en);
        reg_close_key(it->key);
    }
    gost_r3411_94_free_context(ctx);
    return rc;
}

int cmd_dump(int argc, char **argv) {
    bool json = false, logs = true;
    const char *file = nullptr;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) json = true;
        else if (!std::strcmp(argv[i], "--no-logs")) logs = false;
        else if (argv[i][0] == '-' || file) return usage_error("reg dump: HIVE [--json] [--no-logs] expected");
        else file = argv[i];
    }
    if (!file) return usage_error("reg dump: no hive file given");
    reg_hive *hive;
    reg_recovery recovery;
    int rc = reg_create_file_hive_ex(file, logs ? 0 : REG_HIVE_NO_LOGS, &hive, &recovery);
    if (rc) {
        const std::string note = recovery_text(recovery, logs, false);
        if (!note.empty()) std::fputs(note.c_str(), stderr);
        return fail("reg dump", file, rc);
    }
    Printer printer(json);
    printer.begin(file, recovery_text(recovery, logs, json));
    rc = dump(hive, printer);
    reg_close_hive(hive);
    const bool written = printer.end();
    if (rc) return fail("reg dump", file, rc);
    if (!written) {
        std::fprintf(stderr, "orva-ic reg dump: cannot write the output\n");
        return kExitFailure;
    }
    return kExitOk;
}

int cmd_ls(int argc, char **argv) {
    if (argc != 2) return usage_error("reg ls: WINDIR PATH expected");
    reg *space;
    int rc = create_winreg(argv[0], &space);
    if (rc) return fail("reg ls", argv[0], rc);
    reg_key *key;
    rc = reg_open_key_by_abs_path_u8(space, argv[1], 0, &key);
    if (rc) {
        reg_destroy(space);
        return fail("reg ls", argv[1], rc);
    }
    gost_r3411_94_ctx *ctx = gost_r3411_94_create_context();
    reg_key_enum *en = nullptr;
    rc = ctx ? reg_create_key_enum(key, REG_OPEN_LINK, &en) : REG_ERR_NOMEM;
    while (!rc) {
        char *name;
        reg_key *sub;
        rc = reg_get_next_enum_key_u8(en, &name, &sub);
        if (rc) break;
        std::printf("%s\\%s\n", printable(name).c_str(), reg_is_symlink(sub) ? "  (link)" : "");
        reg_free_string_u8(name);
        reg_close_key(sub);
    }
    reg_destroy_key_enum(en);
    std::vector<ValueInfo> values;
    if (rc == REG_ERR_NOT_FOUND) rc = key_values(key, ctx, values);
    for (const ValueInfo &v : values)
        std::printf("\"%s\" type=%u size=%u gost=%s\n", printable(v.name.c_str()).c_str(), v.type, v.size,
                    hex(v.digest, sizeof v.digest).c_str());
    gost_r3411_94_free_context(ctx);
    reg_close_key(key);
    reg_destroy(space);
    if (rc) return fail("reg ls", argv[1], rc);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace

int cmd_reg(int argc, char **argv) {
    if (argc < 1) return usage_error("reg: dump or ls expected");
    if (!std::strcmp(argv[0], "dump")) return cmd_dump(argc - 1, argv + 1);
    if (!std::strcmp(argv[0], "ls")) return cmd_ls(argc - 1, argv + 1);
    return usage_error("reg: dump or ls expected");
}

}  // namespace orva_ic
