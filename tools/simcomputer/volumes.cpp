// File systems made with the real tools (mke2fs -d, mkfs.fat and mcopy,
// mkntfs with libntfs-3g, sfdisk for image files), written into the disk and
// partition nodes, and LVM volumes as device-mapper devices.
#include "volumes.h"

#include "description.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace simcomputer {
namespace {

// Every time stamp the generator sets: 2020-01-01 00:00:00 UTC.
constexpr long fixed_time = 1577836800;

[[noreturn]] void fail(const std::string &message)
{
    throw description_error{0, message};
}

uint64_t fnv1a(const std::string &s)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

std::string hex_of(uint64_t v, int digits)
{
    static const char d[] = "0123456789abcdef";
    std::string s(size_t(digits), '0');
    for (int i = digits - 1; i >= 0; --i, v >>= 4)
        s[size_t(i)] = d[v & 15];
    return s;
}

std::string upper(std::string s)
{
    for (char &c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The UUID in the form the tools take: ext "8-4-4-4-12", vfat "XXXXXXXX",
// ntfs the 64-bit serial number in 16 hexadecimal digits.
std::string tool_uuid(const FileSystem &fs)
{
    if (fs.type == "vfat") {
        std::string u = fs.uuid.empty() ? hex_of(fnv1a(fs.seed), 8) : fs.uuid.substr(0, 4) + fs.uuid.substr(5);
        return upper(u);
    }
    if (fs.type == "ntfs")
        return upper(fs.uuid.empty() ? hex_of(fnv1a(fs.seed), 16) : fs.uuid);
    if (!fs.uuid.empty())
        return fs.uuid;
    std::string h = hex_of(fnv1a(fs.seed), 16) + hex_of(fnv1a(fs.seed + "#"), 16);
    return h.substr(0, 8) + "-" + h.substr(8, 4) + "-4" + h.substr(13, 3) + "-8" + h.substr(17, 3) + "-"
           + h.substr(20, 12);
}

class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "simcomputer-fs-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            fail("cannot create a temporary directory: " + std::string(std::strerror(errno)));
        path_ = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a tool with extra environment; its standard error goes into the
// message when it fails.
void run_tool(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
              const std::string &input = "")
{
    TempDir dir;
    const std::string err_path = dir / "stderr", in_path = dir / "stdin";
    {
        int fd = open(in_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || write(fd, input.data(), input.size()) != ssize_t(input.size()))
            fail("cannot prepare input for " + args[0]);
        close(fd);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        int in = open(in_path.c_str(), O_RDONLY);
        int out = open("/dev/null", O_WRONLY);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        for (const auto &e : env)
            putenv(const_cast<char *>(e.c_str()));
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        fail("cannot run " + args[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string text;
        if (FILE *f = std::fopen(err_path.c_str(), "r")) {
            char buf[512];
            size_t n = std::fread(buf, 1, sizeof buf - 1, f);
            text.assign(buf, n);
            std::fclose(f);
        }
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        fail(args[0] + " failed" + (WIFEXITED(status) && WEXITSTATUS(status) == 127 ? " (not installed?)" : "")
             + (text.empty() ? "" : ": " + text));
    }
}

// The file system of a partition that starts at first_sector of its disk.
FileSystem placed(const FileSystem &fs, uint64_t first_sector)
{
    FileSystem f = fs;
    f.first_sector = first_sector;
    return f;
}

void make_sized(const std::string &path, uint64_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, off_t(size)) != 0) {
        if (fd >= 0)
            close(fd);
        fail("cannot create " + path + ": " + std::strerror(errno));
    }
    close(fd);
}

void write_all(int fd, const char *p, size_t n, uint64_t offset, const std::string &path)
{
    while (n > 0) {
        ssize_t w = pwrite(fd, p, n, off_t(offset));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            fail("cannot write " + path + ": " + std::strerror(errno));
        p += w;
        n -= size_t(w);
        offset += uint64_t(w);
    }
}

// Copies the data regions of src (holes stay holes) into dst at offset.
void copy_into(const std::string &src, const std::string &dst, uint64_t offset)
{
    int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
    int out = open(dst.c_str(), O_WRONLY | O_CLOEXEC);
    if (in < 0 || out < 0) {
        if (in >= 0)
            close(in);
        if (out >= 0)
            close(out);
        fail("cannot copy " + src + " into " + dst + ": " + std::strerror(errno));
    }
    std::vector<char> buf(1 << 20);
    const off_t end = lseek(in, 0, SEEK_END);
    try {
        for (off_t pos = 0; pos < end;) {
            off_t data = lseek(in, pos, SEEK_DATA);
            if (data < 0)
                break;
            off_t hole = lseek(in, data, SEEK_HOLE);
            for (off_t at = data; at < hole;) {
                ssize_t n = pread(in, buf.data(), size_t(std::min<off_t>(hole - at, off_t(buf.size()))), at);
                if (n <= 0)
                    fail("cannot read " + src);
                // Zero blocks stay holes, so the trees stay small.
                bool zero = std::all_of(buf.begin(), buf.begin() + n, [](char c) { return c == 0; });
                if (!zero)
                    write_all(out, buf.data(), size_t(n), offset + uint64_t(at), dst);
                at += n;
            }
            pos = hole;
        }
    } catch (...) {
        close(in);
        close(out);
        throw;
    }
    close(in);
    if (close(out) != 0)
        fail("cannot write " + dst);
}

std::string patterned(const std::string &seed, uint64_t size)
{
    std::string bytes(size_t(size), '\0');
    uint64_t x = fnv1a(seed) | 1;
    for (auto &b : bytes) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = char(x);
    }
    return bytes;
}

void make_parents(const std::string &staging, const std::string &path)
{
    std::error_code ec;
    std::filesystem::create_directories(staging + path.substr(0, path.rfind('/')), ec);
    if (ec)
        fail("cannot create directories for " + path + ": " + ec.message());
}

// A raw disk image with a DOS partition table and the partitions' file systems.
void make_image(const FsEntry &e, const std::string &path, const std::string &seed)
{
    make_sized(path, e.size);
    std::string script = "label: dos\nlabel-id: 0x" + hex_of(fnv1a(seed), 8) + "\n";
    for (const auto &p : e.partitions) {
        const char *type = !p.fs ? "83" : p.fs->type == "vfat" ? "c" : p.fs->type == "ntfs" ? "7" : "83";
        script += path + std::to_string(p.number) + " : start=" + std::to_string(p.start)
                  + ", size=" + std::to_string(p.sectors) + ", type=" + type + "\n";
    }
    run_tool({"sfdisk", "--no-reread", "--no-tell-kernel", "-q", path}, {}, script);
    for (const auto &p : e.partitions) {
        if (!p.fs)
            continue;
        TempDir tmp;
        const std::string fs_file = tmp / "fs";
        Error err;
        if (!make_file_system(placed(*p.fs, p.start), p.sectors * 512, fs_file, err))
            fail(err.message);
        copy_into(fs_file, path, p.start * 512);
    }
}

// A Unix socket bound at path (the directory's descriptor keeps the
// address short).
void make_socket(const std::string &path, unsigned mode)
{
    const size_t slash = path.rfind('/');
    const int dir = open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string at = "/proc/self/fd/" + std::to_string(dir) + path.substr(slash);
    bool ok = dir >= 0 && fd >= 0 && at.size() < sizeof address.sun_path;
    if (ok) {
        std::memcpy(address.sun_path, at.c_str(), at.size() + 1);
        ok = bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
             chmod(path.c_str(), mode) == 0;
    }
    const int err = errno;
    if (fd >= 0)
        close(fd);
    if (dir >= 0)
        close(dir);
    if (!ok)
        fail("cannot create the socket " + path + ": " + std::strerror(err));
}

// Staging directory: every entry with its mode and the fixed time (device
// nodes are made in the file system itself, make_ext). An entry replaces
// what an earlier one staged at its path.
void stage(const FileSystem &fs, const std::string &staging, std::vector<std::string> &paths)
{
    for (const auto &e : fs.entries) {
        make_parents(staging, e.path);
        const std::string host = staging + e.path;
        struct stat st;
        if (e.kind != FsEntry::dir && lstat(host.c_str(), &st) == 0) {
            std::error_code ec;
            std::filesystem::remove_all(host, ec);
            if (ec)
                fail("cannot replace " + e.path + ": " + ec.message());
        }
        if (e.kind == FsEntry::dir) {
            if (mkdir(host.c_str(), 0755) != 0 && errno != EEXIST)
                fail("cannot create " + e.path + ": " + std::strerror(errno));
            chmod(host.c_str(), e.mode ? e.mode : 0755);
        } else if (e.kind == FsEntry::file) {
            const std::string bytes = e.content ? *e.content : patterned(fs.seed + e.path, e.size);
            int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0)
                fail("cannot create " + e.path + ": " + std::strerror(errno));
            write_all(fd, bytes.data(), bytes.size(), 0, e.path);
            close(fd);
            chmod(host.c_str(), e.mode ? e.mode : 0644);
        } else if (e.kind == FsEntry::link) {
            if (symlink(e.target.c_str(), host.c_str()) != 0)
                fail("cannot create the link " + e.path + ": " + std::strerror(errno));
        } else if (e.kind == FsEntry::fifo) {
            if (mkfifo(host.c_str(), e.mode ? e.mode : 0644) != 0 || chmod(host.c_str(), e.mode ? e.mode : 0644) != 0)
                fail("cannot create the pipe " + e.path + ": " + std::strerror(errno));
        } else if (e.kind == FsEntry::socket) {
            make_socket(host, e.mode ? e.mode : 0644);
        } else if (e.kind == FsEntry::device) {
            continue;
        } else {
            make_image(e, host, fs.seed + e.path);
        }
    }
    // Every path below the staging root, parents before children.
    for (auto it = std::filesystem::recursive_directory_iterator(staging);
         it != std::filesystem::recursive_directory_iterator(); ++it)
        paths.push_back(it->path().string().substr(staging.size()));
    std::sort(paths.begin(), paths.end());
    const struct timeval times[2] = {{fixed_time, 0}, {fixed_time, 0}};
    for (auto it = paths.rbegin(); it != paths.rend(); ++it)
        lutimes((staging + *it).c_str(), times);
    lutimes(staging.c_str(), times);
}

std::string octal(unsigned v)
{
    char text[16];
    std::snprintf(text, sizeof text, "%o", v);
    return text;
}

void make_ext(const FileSystem &fs, const std::string &staging, const std::vector<std::string> &paths,
              const std::string &path)
{
    const std::string uuid = tool_uuid(fs);
    const std::string fake_time = "E2FSPROGS_FAKE_TIME=" + std::to_string(fixed_time);
    std::vector<std::string> args = {"mke2fs", "-q", "-F", "-t", fs.type, "-d", staging, "-U", uuid,
                                     "-E", "hash_seed=" + uuid + ",root_owner=0:0"};
    if (!fs.label.empty())
        args.insert(args.end(), {"-L", fs.label});
    args.push_back(path);
    run_tool(args, {fake_time});
    // mke2fs takes the change times of the staged files; fix them too.
    std::string script;
    for (const auto &p : paths)
        script += "sif \"" + p + "\" ctime @" + std::to_string(fixed_time) + "\n";
    // Device nodes need no privilege this way (debugfs takes the fake time).
    for (auto it = fs.entries.begin(); it != fs.entries.end(); ++it) {
        const FsEntry &e = *it;
        if (e.kind != FsEntry::device ||
            std::any_of(it + 1, fs.entries.end(), [&e](const FsEntry &later) { return later.path == e.path; }))
            continue;
        const size_t slash = e.path.rfind('/');
        const std::string name = e.path.substr(slash + 1);
        const unsigned mode = (e.block ? 0060000u : 0020000u) | (e.mode ? e.mode : 0644u);
        script += "cd \"" + (slash ? e.path.substr(0, slash) : std::string("/")) + "\"\n" + "mknod \"" + name + "\" " +
                  (e.block ? "b " : "c ") + std::to_string(e.major) + " " + std::to_string(e.minor) + "\n" + "sif \"" +
                  name + "\" mode 0" + octal(mode) + "\n" + "cd /\n";
    }
    if (!script.empty())
        run_tool({"debugfs", "-w", "-f", "-", path}, {fake_time}, script);
}

// mkntfs with the times of 1970 and its fixed serial number (the same bytes
// each time), the serial number, then the files through libntfs-3g by
// simcomputer-ntfs at the fixed time.
void make_ntfs(const FileSystem &fs, const std::string &staging, const std::string &path)
{
    std::vector<std::string> args = {"mkntfs", "-q", "-F", "-Q", "-T", "-p", std::to_string(fs.first_sector),
                                     "-H", "255", "-S", "63"};
    if (!fs.label.empty())
        args.insert(args.end(), {"-L", fs.label});
    args.push_back(path);
    run_tool(args);
    run_tool({"ntfslabel", "--new-serial=" + tool_uuid(fs), path});
    std::vector<std::string> writer = {SIMCOMPUTER_NTFS_WRITER, path, staging, std::to_string(fixed_time)};
    if (fs.dirty)
        writer.push_back("dirty");
    run_tool(writer);
}

void make_fat(const FileSystem &fs, const std::string &staging, const std::string &path)
{
    std::vector<std::string> args = {"mkfs.fat", "--invariant", "-i", tool_uuid(fs)};
    if (!fs.label.empty())
        args.insert(args.end(), {"-n", fs.label});
    args.push_back(path);
    run_tool(args);
    std::vector<std::string> copy = {"mcopy", "-s", "-m", "-Q", "-i", path};
    for (const auto &e : std::filesystem::directory_iterator(staging))
        copy.push_back(e.path().string());
    if (copy.size() == 6)
        return;
    std::sort(copy.begin() + 6, copy.end());
    copy.push_back("::/");
    run_tool(copy, {"SOURCE_DATE_EPOCH=" + std::to_string(fixed_time), "MTOOLS_SKIP_CHECK=1"});
}

std::string partition_name(const BlockDevice &b, unsigned number)
{
    return b.name + (std::isdigit(static_cast<unsigned char>(b.name.back())) ? "p" : "") + std::to_string(number);
}

void add_fs_properties(const FileSystem &fs, std::vector<Property> &props)
{
    auto set = [&props](const char *key, const std::string &value) {
        for (const auto &p : props)
            if (p.key == key)
                return;
        if (!value.empty())
            props.push_back({key, value});
    };
    set("ID_FS_TYPE", fs.type);
    set("ID_FS_USAGE", "filesystem");
    set("ID_FS_UUID", fs.id_uuid());
    set("ID_FS_UUID_ENC", fs.id_uuid());
    set("ID_FS_LABEL", fs.label);
    set("ID_FS_LABEL_ENC", fs.label);
}

std::string format_u(const char *fmt, unsigned a, unsigned b = 0)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

void write_lvm(const LvmVolume &v, Tree &t)
{
    const std::string name = "dm-" + std::to_string(v.minor);
    const std::string p = "/sys/devices/virtual/block/" + name;
    const unsigned major = 253;
    t.file(p + "/dev", format_u("%u:%u\n", major, v.minor));
    t.file(p + "/size", std::to_string(v.size / 512) + "\n");
    t.file(p + "/removable", "0\n");
    t.file(p + "/ro", "0\n");
    t.file(p + "/range", "1\n");
    t.file(p + "/uevent", format_u("MAJOR=%u\nMINOR=%u\n", major, v.minor) + "DEVNAME=" + name + "\nDEVTYPE=disk\n");
    const std::string uuid = "LVM-" + hex_of(fnv1a("vg/" + v.group), 16) + hex_of(fnv1a(v.group + "/" + v.name), 16);
    t.file(p + "/dm/name", v.dm_name() + "\n");
    t.file(p + "/dm/uuid", uuid + "\n");
    t.file(p + "/dm/suspended", "0\n");
    t.link(p + "/subsystem", "/sys/class/block");
    t.link("/sys/block/" + name, p);
    t.link("/sys/class/block/" + name, p);
    t.link(format_u("/sys/dev/block/%u:%u", major, v.minor), p);
    t.sparse("/dev/" + name, v.size, {});

    std::vector<Property> props = {{"DM_NAME", v.dm_name()}, {"DM_UUID", uuid}, {"DM_SUSPENDED", "0"}};
    if (v.udev_names)
        props.insert(props.end(), {{"DM_VG_NAME", v.group}, {"DM_LV_NAME", v.name}});
    if (v.fs)
        add_fs_properties(*v.fs, props);
    std::string text = "S:mapper/" + v.dm_name() + "\nS:" + v.group + "/" + v.name + "\n";
    for (const auto &pr : props)
        text += "E:" + pr.key + "=" + pr.value + "\n";
    t.file(format_u("/run/udev/data/b%u:%u", major, v.minor), text);
    t.link("/dev/mapper/" + v.dm_name(), "/dev/" + name);
    t.link("/dev/" + v.group + "/" + v.name, "/dev/" + name);
    if (v.fs) {
        TempDir tmp;
        Error err;
        if (!make_file_system(*v.fs, v.size, tmp / "fs", err))
            fail(v.group + "/" + v.name + ": " + err.message);
        copy_into(tmp / "fs", t.host("/dev/" + name), 0);
    }
}

} // namespace

std::string FileSystem::id_uuid() const
{
    if (type != "vfat")
        return tool_uuid(*this);
    const std::string u = tool_uuid(*this);
    return u.substr(0, 4) + "-" + u.substr(4);
}

std::string LvmVolume::dm_name() const
{
    auto doubled = [](const std::string &s) {
        std::string r;
        for (char c : s)
            r += c == '-' ? "--" : std::string(1, c);
        return r;
    };
    return doubled(group) + "-" + doubled(name);
}

bool make_file_system(const FileSystem &fs, uint64_t size, const std::string &path, Error &err)
{
    try {
        make_sized(path, size);
        TempDir tmp;
        const std::string staging = tmp / "root";
        if (mkdir(staging.c_str(), 0755) != 0)
            fail("cannot create " + staging);
        std::vector<std::string> paths;
        stage(fs, staging, paths);
        if (fs.type == "vfat")
            make_fat(fs, staging, path);
        else if (fs.type == "ntfs")
            make_ntfs(fs, staging, path);
        else
            make_ext(fs, staging, paths, path);
        return true;
    } catch (const description_error &e) {
        err = {e.line, e.message};
    } catch (const std::exception &e) {
        err = {0, e.what()};
    }
    return false;
}

Computer with_volume_properties(const Computer &computer)
{
    Computer c = computer;
    for (auto &b : c.blocks)
        for (auto &p : b.partitions)
            if (p.fs)
                add_fs_properties(*p.fs, p.properties);
    return c;
}

void write_volumes(const Computer &computer, Tree &tree)
{
    for (const auto &b : computer.blocks)
        for (const auto &p : b.partitions) {
            if (!p.fs)
                continue;
            const std::string pname = partition_name(b, p.number);
            TempDir tmp;
            Error err;
            if (!make_file_system(placed(*p.fs, p.start), p.sectors * 512, tmp / "fs", err))
                fail(pname + ": " + err.message);
            copy_into(tmp / "fs", tree.host("/dev/" + b.name), p.start * 512);
            copy_into(tmp / "fs", tree.host("/dev/" + pname), 0);
        }
    for (const auto &v : computer.lvm)
        write_lvm(v, tree);
}

} // namespace simcomputer
