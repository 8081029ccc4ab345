// Stored module files: a checked envelope around each payload, written
// atomically and durably, and the locks that serialise writers.
//
// Envelope (little-endian): "ORVS", a four-character kind, format version
// (u32), payload length (u32), CRC-32 of the first 16 bytes and the payload
// (u32), then the payload.
#ifndef ORVA_PLATFORM_STATE_FILE_H
#define ORVA_PLATFORM_STATE_FILE_H

#include "bytes.h"

#include <string>

namespace orva_sim {

enum class Status {
    Ok,
    Missing,    // the file does not exist
    Corrupt,    // the file exists but is damaged or of another kind
    ReadError,  // the file could not be read
    WriteError, // the file could not be stored
    Busy,       // the lock is held elsewhere
    NoMem,
};

constexpr size_t kEnvelopeHeaderSize = 20;

// Owns a file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : fd_(other.release()) {}
    Fd &operator=(Fd &&other) noexcept;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

Bytes encode_envelope(const char kind[4], uint32_t version, const Bytes &payload);
// Checks magic, kind, version, length and CRC; the payload must be at most
// max_payload bytes.
Status decode_envelope(const uint8_t *data, size_t size, const char kind[4], uint32_t version,
                       size_t max_payload, Bytes &payload);

Status read_state_file(const std::string &path, const char kind[4], uint32_t version,
                       size_t max_payload, Bytes &payload);
// Writes <dir>/<name>.tmp, fsyncs it, renames it over <dir>/<name> and fsyncs
// the directory. The caller holds the lock that covers the file.
Status write_state_file(const std::string &dir, const std::string &name, const char kind[4],
                        uint32_t version, const Bytes &payload);
// Removes <dir>/<name> durably; a missing file is not an error.
Status remove_state_file(const std::string &dir, const std::string &name);

// An exclusive flock on <dir>/<name>, created when missing. try_lock fails
// with Busy when another open file description holds it.
Status lock_file(const std::string &dir, const std::string &name, bool wait, Fd &lock);

bool directory_exists(const std::string &dir);

} // namespace orva_sim

#endif
