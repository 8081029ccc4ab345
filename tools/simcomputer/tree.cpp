// Writing the files of a simulated computer below its root directory.
#include "tree.h"

#include "description.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace simcomputer {
namespace {

[[noreturn]] void fail(const std::string &what, const std::string &path)
{
    throw description_error{0, what + " " + path + ": " + std::strerror(errno)};
}

std::vector<std::string> components(const std::string &path)
{
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos)
            j = path.size();
        if (j > i)
            parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

void write_all(int fd, const void *data, size_t size, uint64_t offset, const std::string &path)
{
    auto *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = pwrite(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail("cannot write", path);
        p += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
}

} // namespace

std::string parent_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string relative_link(const std::string &from_dir, const std::string &to)
{
    std::vector<std::string> from = components(from_dir), dest = components(to);
    size_t common = 0;
    while (common < from.size() && common < dest.size() && from[common] == dest[common])
        ++common;
    std::string rel;
    for (size_t i = common; i < from.size(); ++i)
        rel += "../";
    for (size_t i = common; i < dest.size(); ++i)
        rel += dest[i] + (i + 1 < dest.size() ? "/" : "");
    if (!rel.empty() && rel.back() == '/')
        rel.pop_back();
    return rel.empty() ? "." : rel;
}

std::string Tree::host(const std::string &path) const
{
    return root_ + path;
}

void Tree::dir(const std::string &path)
{
    std::string built;
    for (const auto &c : components(path)) {
        built += "/" + c;
        if (mkdir(host(built).c_str(), 0755) != 0 && errno != EEXIST)
            fail("cannot create directory", host(built));
    }
}

void Tree::file(const std::string &path, const std::string &content)
{
    std::vector<uint8_t> bytes(content.begin(), content.end());
    file(path, bytes);
}

void Tree::file(const std::string &path, const std::vector<uint8_t> &content)
{
    sparse(path, content.size(), {{0, &content}});
}

void Tree::sparse(const std::string &path, uint64_t size,
                  const std::vector<std::pair<uint64_t, const std::vector<uint8_t> *>> &pieces)
{
    dir(parent_of(path));
    const std::string h = host(path);
    int fd = open(h.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("cannot create", h);
    try {
        for (const auto &[offset, bytes] : pieces)
            if (!bytes->empty())
                write_all(fd, bytes->data(), bytes->size(), offset, h);
        if (ftruncate(fd, off_t(size)) != 0)
            fail("cannot size", h);
    } catch (...) {
        close(fd);
        throw;
    }
    if (close(fd) != 0)
        fail("cannot write", h);
}

void Tree::patch(const std::string &path,
                 const std::vector<std::pair<uint64_t, const std::vector<uint8_t> *>> &pieces)
{
    const std::string h = host(path);
    int fd = open(h.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        fail("cannot open", h);
    try {
        for (const auto &[offset, bytes] : pieces)
            if (!bytes->empty())
                write_all(fd, bytes->data(), bytes->size(), offset, h);
    } catch (...) {
        close(fd);
        throw;
    }
    if (close(fd) != 0)
        fail("cannot write", h);
}

void Tree::copy_into(const std::string &path, const std::string &source)
{
    const std::string h = host(path);
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        fail("cannot open", source);
    int out = open(h.c_str(), O_WRONLY | O_CLOEXEC);
    if (out < 0) {
        close(in);
        fail("cannot open", h);
    }
    std::vector<char> buf(1 << 20);
    static const char zeros[4096] = {};
    try {
        for (uint64_t offset = 0;;) {
            ssize_t n = read(in, buf.data(), buf.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                fail("cannot read", source);
            if (n == 0)
                break;
            for (size_t at = 0; at < size_t(n); at += sizeof zeros) {
                const size_t len = std::min(sizeof zeros, size_t(n) - at);
                if (std::memcmp(buf.data() + at, zeros, len) != 0)
                    write_all(out, buf.data() + at, len, offset + at, h);
            }
            offset += uint64_t(n);
        }
    } catch (...) {
        close(in);
        close(out);
        throw;
    }
    close(in);
    if (close(out) != 0)
        fail("cannot write", h);
}

void Tree::link(const std::string &path, const std::string &target)
{
    const std::string parent = parent_of(path);
    dir(parent);
    if (symlink(relative_link(parent, target).c_str(), host(path).c_str()) != 0)
        fail("cannot link", host(path));
}

} // namespace simcomputer
