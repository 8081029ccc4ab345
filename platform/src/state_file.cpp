#include "state_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace orva_sim {

namespace {

const char kMagic[4] = {'O', 'R', 'V', 'S'};

uint32_t envelope_crc(const uint8_t *header, const uint8_t *payload, size_t size)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, header, 16);
    // zlib takes uInt lengths; feed large payloads in pieces.
    while (size > 0) {
        uInt part = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
        crc = crc32(crc, payload, part);
        payload += part;
        size -= part;
    }
    return static_cast<uint32_t>(crc);
}

bool write_all(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

Status fsync_dir(const std::string &dir)
{
    Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid() || ::fsync(fd.get()) != 0)
        return Status::WriteError;
    return Status::Ok;
}

} // namespace

Fd &Fd::operator=(Fd &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

void Fd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

Bytes encode_envelope(const char kind[4], uint32_t version, const Bytes &payload)
{
    Bytes out(kEnvelopeHeaderSize + payload.size());
    std::memcpy(out.data(), kMagic, 4);
    std::memcpy(out.data() + 4, kind, 4);
    put_u32(out.data() + 8, version);
    put_u32(out.data() + 12, static_cast<uint32_t>(payload.size()));
    if (!payload.empty())
        std::memcpy(out.data() + kEnvelopeHeaderSize, payload.data(), payload.size());
    put_u32(out.data() + 16, envelope_crc(out.data(), out.data() + kEnvelopeHeaderSize, payload.size()));
    return out;
}

Status decode_envelope(const uint8_t *data, size_t size, const char kind[4], uint32_t version,
                       size_t max_payload, Bytes &payload)
{
    if (size < kEnvelopeHeaderSize || data == nullptr)
        return Status::Corrupt;
    if (std::memcmp(data, kMagic, 4) != 0 || std::memcmp(data + 4, kind, 4) != 0)
        return Status::Corrupt;
    if (get_u32(data + 8) != version)
        return Status::Corrupt;
    uint32_t length = get_u32(data + 12);
    if (length > max_payload || length != size - kEnvelopeHeaderSize)
        return Status::Corrupt;
    if (get_u32(data + 16) != envelope_crc(data, data + kEnvelopeHeaderSize, length))
        return Status::Corrupt;
    payload.assign(data + kEnvelopeHeaderSize, data + size);
    return Status::Ok;
}

Status read_state_file(const std::string &path, const char kind[4], uint32_t version,
                       size_t max_payload, Bytes &payload)
{
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid())
        return errno == ENOENT ? Status::Missing : (errno == ELOOP ? Status::Corrupt : Status::ReadError);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return Status::ReadError;
    if (!S_ISREG(st.st_mode))
        return Status::Corrupt;
    size_t size = static_cast<size_t>(st.st_size);
    if (st.st_size < 0 || size > max_payload + kEnvelopeHeaderSize || size < kEnvelopeHeaderSize)
        return Status::Corrupt;
    Bytes raw;
    try {
        raw.resize(size);
    } catch (const std::bad_alloc &) {
        return Status::NoMem;
    }
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd.get(), raw.data() + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Status::ReadError;
        }
        if (n == 0)
            return Status::Corrupt; // shrank under us: not a file we wrote
        got += static_cast<size_t>(n);
    }
    return decode_envelope(raw.data(), raw.size(), kind, version, max_payload, payload);
}

Status write_state_file(const std::string &dir, const std::string &name, const char kind[4],
                        uint32_t version, const Bytes &payload)
{
    Bytes raw = encode_envelope(kind, version, payload);
    std::string path = dir + "/" + name;
    std::string tmp = path + ".tmp";
    Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd.valid())
        return Status::WriteError;
    if (!write_all(fd.get(), raw.data(), raw.size()) || ::fsync(fd.get()) != 0) {
        fd.reset();
        ::unlink(tmp.c_str());
        return Status::WriteError;
    }
    fd.reset();
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return Status::WriteError;
    }
    return fsync_dir(dir);
}

Status remove_state_file(const std::string &dir, const std::string &name)
{
    std::string path = dir + "/" + name;
    if (::unlink(path.c_str()) != 0)
        return errno == ENOENT ? Status::Ok : Status::WriteError;
    return fsync_dir(dir);
}

Status lock_file(const std::string &dir, const std::string &name, bool wait, Fd &lock)
{
    std::string path = dir + "/" + name;
    Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd.valid())
        return errno == ENOENT ? Status::Missing : Status::ReadError;
    for (;;) {
        if (::flock(fd.get(), LOCK_EX | (wait ? 0 : LOCK_NB)) == 0)
            break;
        if (errno == EINTR)
            continue;
        return errno == EWOULDBLOCK ? Status::Busy : Status::ReadError;
    }
    lock = std::move(fd);
    return Status::Ok;
}

bool directory_exists(const std::string &dir)
{
    struct stat st;
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace orva_sim
