// Internals of the check list shared by its files.
#ifndef IC_FS_ICL_INTERNAL_H
#define IC_FS_ICL_INTERNAL_H

#include <ic/fs/fs_icl.h>

namespace icl {

void volume_destroy(fs_icl_volume *v);
// A new entry with a copy of id and an empty object list, at the front.
int volume_create(fs_icl *icl, const fs_volume_id *id, fs_icl_volume **out);
void volume_unlink(fs_icl *icl, fs_icl_volume *v);

} // namespace icl

#endif
