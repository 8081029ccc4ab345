// Paths inside a mounted volume: opened as if the volume's root were "/",
// so that ".." and symbolic links, absolute or not, never lead out of it.
#ifndef IC_FS_IN_VOLUME_H
#define IC_FS_IN_VOLUME_H

#include <ic/util/unique_fd.h>

namespace ic_fs {

// Opens path below the directory open at root with open_flags (those of
// openat; O_NOFOLLOW applies to the last component).  0, or an errno value.
// Kernels without openat2 go through open_by_components.
int open_in_volume(int root, const char *path, int open_flags, ic_util::unique_fd &fd);

// The same one component at a time: no symbolic link is followed (ELOOP
// for one in the middle of the path or, unless O_PATH and O_NOFOLLOW ask for
// the link itself, at its end) and ".." is refused with EXDEV.
int open_by_components(int root, const char *path, int open_flags, ic_util::unique_fd &fd);

} // namespace ic_fs

#endif
