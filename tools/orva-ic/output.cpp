// Output and file helpers shared by the subcommands.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "commands.h"
#include "ic/fs/fs_disk_list.h"
#include "ic/util/unique_fd.h"

namespace orva_ic {
namespace {

// Length of the UTF-8 sequence at p (of n bytes), or 0 when it is not one.
size_t utf8_sequence(const unsigned char *p, size_t n) {
    size_t len;
    uint32_t cp;
    if (p[0] < 0x80) return 1;
    if ((p[0] & 0xE0) == 0xC0) len = 2, cp = p[0] & 0x1F;
    else if ((p[0] & 0xF0) == 0xE0) len = 3, cp = p[0] & 0x0F;
    else if ((p[0] & 0xF8) == 0xF0) len = 4, cp = p[0] & 0x07;
    else return 0;
    if (len > n) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    static const uint32_t min[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

std::string json_string(const char *s) {
    std::string out = "\"";
    const auto *p = reinterpret_cast<const unsigned char *>(s ? s : "");
    size_t n = std::strlen(reinterpret_cast<const char *>(p));
    char esc[8];
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        const size_t len = utf8_sequence(p + i, n - i);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F || len == 0) {
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out.append(reinterpret_cast<const char *>(p + i), len);
            i += len;
            continue;
        }
        ++i;
    }
    return out + "\"";
}

std::string printable(const char *s) {
    std::string out;
    char esc[8];
    for (const char *p = s ? s : ""; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F) {
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out;
}

namespace {

bool write_all(int fd, const uint8_t *data, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

} // namespace

bool write_file_atomically(const std::string &path, const uint8_t *data, size_t size) {
    // A device, a FIFO or a directory is written to (or refused) in place:
    // renaming over it would replace /dev/null with a regular file.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        ic_util::unique_fd out(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        return out.valid() && write_all(out.get(), data, size) && ::close(out.release()) == 0;
    }
    std::string tmp = path + ".tmp-XXXXXX";
    ic_util::unique_fd fd(mkstemp(tmp.data()));
    if (!fd.valid()) return false;
    bool ok = fchmod(fd.get(), 0644) == 0 && write_all(fd.get(), data, size);
    ok = ok && ::fsync(fd.get()) == 0;
    ok = ok && ::close(fd.release()) == 0;
    ok = ok && std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int err = errno;
        fd.reset();
        ::unlink(tmp.c_str());
        errno = err;
    }
    return ok;
}

bool read_file(const std::string &path, std::string &data, size_t max) {
    ic_util::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) return errno = EISDIR, false;
    if (S_ISREG(st.st_mode) && uint64_t(st.st_size) > max) return errno = EFBIG, false;
    data.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (data.size() + size_t(n) > max) return errno = EFBIG, false;
        data.append(buf, size_t(n));
    }
}

core_output_on_stderr::core_output_on_stderr() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
}

core_output_on_stderr::~core_output_on_stderr() {
    std::fflush(stdout);
    if (saved_ >= 0) {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
}

int create_disk_list(fs_disk_list **list) {
    core_output_on_stderr quiet;
    int rc = fs_disk_list_create(list);
    if (rc == FS_OK) rc = fs_disk_list_add_lvm_groups(*list);
    return rc;
}

int finish_output(const char *command, int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "orva-ic %s: cannot write the output: %s\n", command, std::strerror(errno));
        return kExitFailure;
    }
    return status;
}

const char *core_code_text(int rc) {
    switch (rc) {
        case 1: return "input/output failure or malformed data";
        case 2: return "invalid argument";
        case 3: return "out of memory";
        default: return "error";
    }
}

int fail(const char *command, const std::string &what, const char *text, int rc) {
    std::fprintf(stderr, "orva-ic %s: %s: %s (code %d)\n", command, what.c_str(), text, rc);
    return kExitFailure;
}

int save_image(const char *command, const std::string &path, uint8_t *data, uint32_t size) {
    const bool ok = write_file_atomically(path, data, size);
    const int err = errno;
    std::free(data);
    if (!ok) {
        std::fprintf(stderr, "orva-ic %s: %s: %s\n", command, path.c_str(), std::strerror(err));
        return kExitFailure;
    }
    return kExitOk;
}

bool load_image(const char *command, const std::string &path, std::string &image) {
    // Saved images larger than this are not inventories.
    constexpr size_t max = 16u << 20;
    if (read_file(path, image, max)) return true;
    std::fprintf(stderr, "orva-ic %s: %s: %s\n", command, path.c_str(), std::strerror(errno));
    return false;
}

int parse_inventory_args(const char *command, int argc, char **argv, bool json_with_diff, InventoryArgs &args) {
    const std::string name = command;
    for (int i = 0; i < argc; ++i) {
        const char *arg = argv[i];
        if (!std::strcmp(arg, "--json")) {
            args.json = true;
        } else if (!std::strcmp(arg, "--save") || !std::strcmp(arg, "--diff")) {
            if (i + 1 >= argc) return usage_error((name + ": --save and --diff take a file name").c_str());
            (arg[2] == 's' ? args.save : args.diff) = argv[++i];
        } else {
            std::fprintf(stderr, "orva-ic %s: unknown argument '%s'\n", command, arg);
            return usage_error(nullptr);
        }
    }
    if (json_with_diff) {
        if ((args.save && args.diff) || (args.save && args.json))
            return usage_error((name + ": --save goes alone; --json goes alone or with --diff").c_str());
    } else if ((args.save != nullptr) + (args.diff != nullptr) + args.json > 1) {
        return usage_error((name + ": --json, --save and --diff exclude each other").c_str());
    }
    return -1;
}

}  // namespace orva_ic
