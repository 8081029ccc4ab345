// Partition-table scan of a hostile disk: the input is the disk's bytes.
// The scan ends, every logical partition lies under an extended primary one
// within the walk's bounds, and the disk's inventory survives its byte image.
#include <ic/hd/hd_diff.h>
#include <ic/hd/hd_info.h>
#include <ic/util/log.h>

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (ic_log_set_default_level(IC_LOG_FATAL), true);
    (void)quiet;
    static const int fd = memfd_create("hd-fuzz", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 || (size && pwrite(fd, data, size, 0) != ssize_t(size)))
        std::abort();

    hd_disk *disk = nullptr;
    if (hd_disk_read_fd(fd, "fuzz", &disk) != 0)
        return 0;
    for (const hd_partition *p = hd_info_get_first_partition(disk); p; p = hd_info_get_next_partition(disk, p)) {
        if (p->logical_count && !hd_partition_type_is_extended(p->type))
            std::abort();
        if (p->logical_count > 4u * HD_MAX_CHAIN_RECORDS)
            std::abort();
        uint32_t index = 0;
        for (const hd_partition *l = hd_info_get_first_logical_partition(p); l;
             l = hd_info_get_next_logical_partition(p, l))
            if (l->parent != p || l->index != index++ || l->count == 0)
                std::abort();
    }

    hd_info *info = nullptr, *again = nullptr;
    uint8_t *image = nullptr;
    uint32_t image_size = 0;
    if (hd_info_create(&info) != 0 || hd_info_add_disk(info, disk) != 0)
        std::abort();
    if (hd_info_write_to_mem(info, &image, &image_size) != 0 ||
        hd_info_read_from_mem(image, image_size, &again) != 0)
        std::abort();
    hd_diff *diff = nullptr;
    if (hd_diff_create(info, again, &diff) != 0 || (diff->flags & HD_DIFF_CHANGED))
        std::abort();
    hd_diff_destroy(diff);
    hd_info_destroy(again);
    hd_info_destroy(info);
    std::free(image);
    return 0;
}
