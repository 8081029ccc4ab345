// What an NTFS volume tells of the system that used it last: the dirty flag
// of its volume information and a hibernation file of a hibernated system.
#include "fs_internal.h"

#include "ic/util/le.h"
#include "ic/util/unique_fd.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint64_t kVolumeRecord = 3; // $Volume
constexpr uint32_t kVolumeInformation = 0x70;
constexpr uint32_t kAttributeEnd = 0xFFFFFFFFu;
constexpr size_t kFixupStride = 512;

bool read_at(int fd, void *buf, size_t n, uint64_t offset)
{
    auto *p = static_cast<uint8_t *>(buf);
    while (n > 0) {
        const ssize_t r = pread(fd, p, n, off_t(offset));
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
        offset += uint64_t(r);
    }
    return true;
}

// Record size and the byte offset of record 3 from the boot sector; the
// first records of the MFT always lie in its first run.
bool volume_record_place(const uint8_t *boot, uint32_t &record_size, uint64_t &offset)
{
    if (std::memcmp(boot + 3, "NTFS    ", 8) != 0)
        return false;
    const uint32_t sector = ic_le16(boot + 0x0B);
    if (sector < 256 || sector > 4096 || (sector & (sector - 1)) != 0)
        return false;
    const uint8_t spc = boot[0x0D];
    uint32_t sectors_per_cluster;
    if (spc <= 0x80)
        sectors_per_cluster = spc;
    else if (spc >= 0xF4) // 2^(256 - spc), up to 2^12
        sectors_per_cluster = 1u << (256 - spc);
    else
        return false;
    if (sectors_per_cluster == 0 || (sectors_per_cluster & (sectors_per_cluster - 1)) != 0)
        return false;
    const uint64_t cluster = uint64_t(sector) * sectors_per_cluster;
    const int8_t per_record = int8_t(boot[0x40]);
    if (per_record > 0)
        record_size = uint32_t(cluster * uint64_t(per_record));
    else if (per_record >= -16 && per_record <= -9)
        record_size = 1u << -per_record;
    else
        return false;
    if (record_size < 1024 || record_size > 65536 || (record_size & (record_size - 1)) != 0)
        return false;
    const uint64_t mft_lcn = ic_load_le(boot + 0x30, 8);
    if (mft_lcn > (UINT64_MAX / 2) / cluster)
        return false;
    offset = mft_lcn * cluster + kVolumeRecord * record_size;
    return true;
}

// Undoes the update sequence of a record in place.
bool apply_fixups(std::vector<uint8_t> &r)
{
    const size_t usa = ic_le16(&r[4]);
    const size_t count = ic_le16(&r[6]);
    if (count != r.size() / kFixupStride + 1 || usa < 8 || usa % 2 != 0 || usa + 2 * count > kFixupStride)
        return false;
    for (size_t i = 1; i < count; ++i) {
        uint8_t *end = &r[i * kFixupStride - 2];
        if (std::memcmp(end, &r[usa], 2) != 0)
            return false;
        std::memcpy(end, &r[usa + 2 * i], 2);
    }
    return true;
}

} // namespace

namespace ic_fs {

int ntfs_volume_flags(int device, uint16_t &flags)
{
    uint8_t boot[512];
    uint32_t size = 0;
    uint64_t offset = 0;
    if (!read_at(device, boot, sizeof boot, 0) || !volume_record_place(boot, size, offset))
        return FS_ERR_IO;
    std::vector<uint8_t> r(size);
    if (!read_at(device, r.data(), r.size(), offset) || std::memcmp(r.data(), "FILE", 4) != 0 || !apply_fixups(r))
        return FS_ERR_IO;
    const size_t used = ic_le32(&r[0x18]);
    const size_t end = used < r.size() ? used : r.size();
    for (size_t at = ic_le16(&r[0x14]); at + 16 <= end;) {
        const uint32_t type = ic_le32(&r[at]);
        const size_t length = ic_le32(&r[at + 4]);
        if (type == kAttributeEnd || length < 16 || length % 8 != 0 || length > end - at)
            break;
        if (type == kVolumeInformation && r[at + 8] == 0 && length >= 24) {
            const size_t value_length = ic_le32(&r[at + 0x10]);
            const size_t value = ic_le16(&r[at + 0x14]);
            if (value_length < 12 || value > length || value_length > length - value)
                return FS_ERR_IO;
            flags = ic_le16(&r[at + value + 10]);
            return FS_OK;
        }
        at += length;
    }
    return FS_ERR_IO;
}

bool ntfs_hibernated(const char *dir)
{
    ic_util::unique_fd root(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid())
        return false;
    DIR *d = fdopendir(dup(root.get()));
    if (!d)
        return false;
    std::string name;
    while (const struct dirent *e = readdir(d)) {
        if (strcasecmp(e->d_name, "hiberfil.sys") == 0) {
            name = e->d_name;
            break;
        }
    }
    closedir(d);
    if (name.empty())
        return false;
    ic_util::unique_fd f(openat(root.get(), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    char magic[4];
    if (!f.valid() || fstat(f.get(), &st) != 0 || !S_ISREG(st.st_mode) || !read_at(f.get(), magic, 4, 0))
        return false;
    // "hibr" (also "HIBR" of fast start-up) while the system sleeps; "wake"
    // or zeros once it resumed.
    return strncasecmp(magic, "hibr", 4) == 0;
}

} // namespace ic_fs
