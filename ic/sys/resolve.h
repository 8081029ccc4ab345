// Path resolution confined to the system root.
#ifndef IC_SYS_RESOLVE_H
#define IC_SYS_RESOLVE_H

#include "ic/util/unique_fd.h"

#include <string>

namespace ic_sys {

using ic_util::unique_fd;

// Where a system path ends up inside the root: the directory that holds the
// last component, that component's name ("." for the directory itself) and
// the canonical system path.
struct resolved_path {
    unique_fd parent;
    std::string name;
    std::string path;
};

enum resolve_flags {
    resolve_follow_last = 1,   // a symbolic link as last component is followed
    resolve_missing_last = 2,  // the last component may be absent
};

// Resolves an absolute system path under the root directory root_fd, following
// links inside it. 0 or an errno value.
int resolve_in_root(int root_fd, const char *path, int flags, resolved_path &out);

// Opens the root named by ORVA_SYSROOT. -1 with errno on failure.
int open_root();

} // namespace ic_sys

#endif
