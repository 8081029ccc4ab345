/*
 * fs_ocl_ptr.h - owning handles for C++ users of the object check list.
 */
#ifndef IC_FS_FS_OCL_PTR_H
#define IC_FS_FS_OCL_PTR_H

#include <ic/fs/fs_ocl.h>
#include <ic/fs/fs_ocl_check.h>

#include <memory>

namespace ic_fs {

struct ocl_deleter {
    void operator()(fs_ocl *ocl) const { fs_ocl_destroy(ocl); }
};
struct ocl_check_deleter {
    void operator()(fs_ocl_check_info *check) const { fs_ocl_check_info_destroy(check); }
};

using ocl_ptr = std::unique_ptr<fs_ocl, ocl_deleter>;
using ocl_check_ptr = std::unique_ptr<fs_ocl_check_info, ocl_check_deleter>;

} // namespace ic_fs

#endif
