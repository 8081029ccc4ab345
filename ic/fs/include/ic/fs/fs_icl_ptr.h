/*
 * fs_icl_ptr.h - owning handles for C++ users of the check list and of
 * volume ids.
 */
#ifndef IC_FS_FS_ICL_PTR_H
#define IC_FS_FS_ICL_PTR_H

#include <ic/fs/fs_icl.h>
#include <ic/fs/fs_volume_id.h>

#include <memory>

namespace ic_fs {

struct icl_deleter {
    void operator()(fs_icl *icl) const { fs_icl_destroy(icl); }
};
struct icl_check_deleter {
    void operator()(fs_icl_check_info *info) const { fs_icl_check_info_destroy(info); }
};
struct volume_id_deleter {
    void operator()(fs_volume_id *id) const { fs_volume_id_destroy(id); }
};

using icl_ptr = std::unique_ptr<fs_icl, icl_deleter>;
using icl_check_ptr = std::unique_ptr<fs_icl_check_info, icl_check_deleter>;
using volume_id_ptr = std::unique_ptr<fs_volume_id, volume_id_deleter>;

} // namespace ic_fs

#endif
