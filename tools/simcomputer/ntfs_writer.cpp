// simcomputer-ntfs IMAGE STAGING TIME [dirty]: writes the files and
// directories below STAGING into the NTFS file system that mkntfs made in the
// file IMAGE, through libntfs-3g (no mount, so no root). Every time the
// library takes from the clock is TIME (seconds since 1970): the same tree
// gives the same bytes, also in the slack of records and index blocks that
// the library leaves. "dirty" sets the volume's dirty flag. Exit status 0,
// 1 with a message on standard error.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

namespace {

time_t fixed_time = 0;

struct failure {
    std::string message;
};

[[noreturn]] void fail(const std::string &what)
{
    throw failure{what + ": " + std::strerror(errno)};
}

} // namespace

// The clock of this program, and so of the library: the fixed time.
extern "C" int clock_gettime(clockid_t, struct timespec *ts)
{
    ts->tv_sec = fixed_time;
    ts->tv_nsec = 0;
    return 0;
}

extern "C" time_t time(time_t *t)
{
    if (t)
        *t = fixed_time;
    return fixed_time;
}

namespace {

// A name in NTFS's UTF-16, freed with the object.
class Name {
public:
    explicit Name(const std::string &s)
    {
        length_ = ntfs_mbstoucs(s.c_str(), &units_);
        if (length_ <= 0 || length_ > 255)
            throw failure{"bad name " + s};
    }
    ~Name() { std::free(units_); }
    Name(const Name &) = delete;
    Name &operator=(const Name &) = delete;
    const ntfschar *units() const { return units_; }
    int length() const { return length_; }

private:
    ntfschar *units_ = nullptr;
    int length_ = 0;
};

// An open inode, closed with the object.
class Inode {
public:
    explicit Inode(ntfs_inode *ni) : ni_(ni) {}
    ~Inode()
    {
        if (ni_)
            ntfs_inode_close(ni_);
    }
    Inode(Inode &&other) noexcept : ni_(std::exchange(other.ni_, nullptr)) {}
    Inode &operator=(Inode &&other) noexcept
    {
        std::swap(ni_, other.ni_);
        return *this;
    }
    ntfs_inode *get() const { return ni_; }
    // Closes it; with its parent directory open, through that one (the
    // library must not open the directory a second time).
    void close(const std::string &path, const Inode *dir = nullptr)
    {
        ntfs_inode *ni = std::exchange(ni_, nullptr);
        if ((dir ? ntfs_inode_close_in_dir(ni, dir->ni_) : ntfs_inode_close(ni)) != 0)
            fail("cannot close " + path);
    }

private:
    ntfs_inode *ni_;
};

void write_data(ntfs_inode *ni, const std::string &host, const std::string &path)
{
    FILE *in = std::fopen(host.c_str(), "rb");
    if (!in)
        fail("cannot read " + host);
    ntfs_attr *na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!na) {
        std::fclose(in);
        fail("cannot open the data of " + path);
    }
    static char buf[1 << 16];
    s64 at = 0;
    bool ok = true;
    for (size_t n; ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0; at += s64(n))
        ok = ntfs_attr_pwrite(na, at, s64(n), buf) == s64(n);
    ntfs_attr_close(na);
    std::fclose(in);
    if (!ok)
        fail("cannot write " + path);
}

// One staged entry (path inside the volume, its parent made before) made in
// the volume.
void create(ntfs_volume *vol, const std::string &staging, const std::string &path)
{
    const std::string host = staging + path;
    struct stat st;
    if (lstat(host.c_str(), &st) != 0)
        fail("cannot read " + host);
    const size_t slash = path.rfind('/');
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    Inode dir(ntfs_pathname_to_inode(vol, nullptr, parent.c_str()));
    if (!dir.get())
        fail("cannot open " + parent);
    const Name name(path.substr(slash + 1));
    Inode ni(nullptr);
    if (S_ISLNK(st.st_mode)) {
        std::string target(size_t(st.st_size) + 1, '\0');
        const ssize_t n = readlink(host.c_str(), target.data(), target.size());
        if (n < 0 || size_t(n) >= target.size())
            fail("cannot read the link " + host);
        target.resize(size_t(n));
        const Name to(target);
        ni = Inode(ntfs_create_symlink(dir.get(), 0, name.units(), u8(name.length()), to.units(), to.length()));
    } else {
        ni = Inode(ntfs_create(dir.get(), 0, name.units(), u8(name.length()), S_ISDIR(st.st_mode) ? S_IFDIR : S_IFREG));
    }
    if (!ni.get())
        fail("cannot create " + path);
    if (S_ISREG(st.st_mode))
        write_data(ni.get(), host, path);
    ni.close(path, &dir);
    dir.close(parent);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4 || argc > 5 || (argc == 5 && std::strcmp(argv[4], "dirty") != 0)) {
        std::fprintf(stderr, "usage: simcomputer-ntfs IMAGE STAGING TIME [dirty]\n");
        return 2;
    }
    const std::string image = argv[1], staging = argv[2];
    fixed_time = time_t(std::strtoll(argv[3], nullptr, 10));
    // Every path below the staging root, parents before children.
    std::vector<std::string> paths;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(staging, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        paths.push_back(it->path().string().substr(staging.size()));
    if (ec) {
        std::fprintf(stderr, "simcomputer-ntfs: cannot read %s: %s\n", staging.c_str(), ec.message().c_str());
        return 1;
    }
    std::sort(paths.begin(), paths.end());

    ntfs_volume *vol = ntfs_mount(image.c_str(), NTFS_MNT_NONE);
    if (!vol) {
        std::fprintf(stderr, "simcomputer-ntfs: cannot open %s: %s\n", image.c_str(), std::strerror(errno));
        return 1;
    }
    try {
        for (const auto &p : paths)
            create(vol, staging, p);
        if (argc == 5 && ntfs_volume_write_flags(vol, le16(vol->flags | VOLUME_IS_DIRTY)) != 0)
            fail("cannot set the dirty flag");
    } catch (const failure &f) {
        ntfs_umount(vol, TRUE);
        std::fprintf(stderr, "simcomputer-ntfs: %s\n", f.message.c_str());
        return 1;
    }
    if (ntfs_umount(vol, FALSE) != 0) {
        std::fprintf(stderr, "simcomputer-ntfs: cannot close %s: %s\n", image.c_str(), std::strerror(errno));
        return 1;
    }
    return 0;
}
