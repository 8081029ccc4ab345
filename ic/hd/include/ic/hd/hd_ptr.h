/*
 * hd_ptr.h - owning handles for C++ users of the partition-table core.
 */
#ifndef IC_HD_HD_PTR_H
#define IC_HD_HD_PTR_H

#include <ic/hd/hd_diff.h>
#include <ic/hd/hd_info.h>

#include <memory>

namespace ic_hd {

struct info_deleter {
    void operator()(hd_info *info) const { hd_info_destroy(info); }
};
struct diff_deleter {
    void operator()(hd_diff *diff) const { hd_diff_destroy(diff); }
};
struct disk_deleter {
    void operator()(hd_disk *disk) const { hd_disk_destroy(disk); }
};

using info_ptr = std::unique_ptr<hd_info, info_deleter>;
using diff_ptr = std::unique_ptr<hd_diff, diff_deleter>;
using disk_ptr = std::unique_ptr<hd_disk, disk_deleter>;

} // namespace ic_hd

#endif
