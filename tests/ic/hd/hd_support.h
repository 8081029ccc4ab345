// Test support for the partition-table core: inventories built in memory and
// disk images in memory files.
#ifndef TESTS_IC_HD_SUPPORT_H
#define TESTS_IC_HD_SUPPORT_H

#include "hd_internal.h"

#include <ic/hd/hd_ptr.h>
#include <ic/util/le.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace hdtest {

// A partition as the tests describe it; the digests are filled with mark.
struct Part {
    Part(uint32_t start = 0, uint32_t count = 0, uint8_t type = 0x83, uint8_t boot = 0, uint8_t mark = 0,
         std::vector<Part> logical = {})
        : start(start), count(count), type(type), boot(boot), mark(mark), logical(std::move(logical))
    {
    }
    uint32_t start, count;
    uint8_t type, boot, mark;
    std::vector<Part> logical;
};

struct Disk {
    Disk(std::string name, uint8_t mark = 0, std::vector<std::pair<unsigned, Part>> slots = {})
        : name(std::move(name)), mark(mark), slots(std::move(slots))
    {
    }
    std::string name;
    uint8_t mark; // MBR and boot-area digests
    std::vector<std::pair<unsigned, Part>> slots;
};

inline hd_partition *make_partition(const Part &p, uint32_t index)
{
    hd_partition *out = hd_partition_alloc();
    out->index = index;
    out->start = p.start;
    out->count = p.count;
    out->type = p.type;
    out->boot_indicator = p.boot;
    std::memset(out->pbr_hash, p.mark, HD_HASH_SIZE);
    std::memset(out->boot_hash, p.mark, HD_HASH_SIZE);
    for (size_t i = 0; i < p.logical.size(); ++i)
        hd_partition_add_logical(out, make_partition(p.logical[i], uint32_t(i)));
    return out;
}

inline ic_hd::info_ptr make_info(const std::vector<Disk> &disks)
{
    hd_info *info = nullptr;
    hd_info_create(&info);
    for (const Disk &d : disks) {
        hd_disk *disk = hd_disk_alloc(d.name.data(), d.name.size());
        std::memset(disk->mbr_hash, d.mark, HD_HASH_SIZE);
        std::memset(disk->boot_hash, d.mark, HD_HASH_SIZE);
        for (const auto &[slot, p] : d.slots)
            disk->primary[slot] = make_partition(p, slot);
        hd_info_add_disk(info, disk);
    }
    return ic_hd::info_ptr(info);
}

// A disk image of sectors * 512 zero bytes in a memory file, written sector
// by sector.
class Image {
public:
    explicit Image(uint64_t sectors) : fd_(memfd_create("hd-image", MFD_CLOEXEC))
    {
        if (fd_ < 0 || ftruncate(fd_, off_t(sectors * 512)) != 0)
            throw std::runtime_error("memfd");
    }
    ~Image() { close(fd_); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
    int fd() const { return fd_; }

    // Table entry k of the record at lba.
    void entry(uint64_t lba, unsigned k, uint8_t boot, uint8_t type, uint32_t start, uint32_t count)
    {
        uint8_t e[16] = {};
        e[0] = boot;
        e[4] = type;
        ic_store_le(e + 8, start, 4);
        ic_store_le(e + 12, count, 4);
        put(lba * 512 + 446 + 16 * k, e, 16);
    }
    void sign(uint64_t lba)
    {
        const uint8_t s[2] = {0x55, 0xAA};
        put(lba * 512 + 510, s, 2);
    }
    void fill(uint64_t lba, uint8_t byte)
    {
        std::vector<uint8_t> b(512, byte);
        put(lba * 512, b.data(), 512);
    }

private:
    void put(uint64_t offset, const void *data, size_t n)
    {
        if (pwrite(fd_, data, n, off_t(offset)) != ssize_t(n))
            throw std::runtime_error("pwrite");
    }
    int fd_;
};

inline ic_hd::disk_ptr read_disk(const Image &image, int *rc = nullptr)
{
    hd_disk *d = nullptr;
    int r = hd_disk_read_fd(image.fd(), "disk", &d);
    if (rc)
        *rc = r;
    return ic_hd::disk_ptr(d);
}

// Starts of the logical partitions under a primary.
inline std::vector<uint32_t> logical_starts(const hd_partition *p)
{
    std::vector<uint32_t> out;
    for (const hd_partition *l = hd_info_get_first_logical_partition(p); l; l = hd_info_get_next_logical_partition(p, l))
        out.push_back(l->start);
    return out;
}

} // namespace hdtest

#endif
