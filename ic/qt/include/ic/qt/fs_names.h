// Volumes by the names and identities the pages show.
#ifndef IC_QT_FS_NAMES_H
#define IC_QT_FS_NAMES_H

#include "ic/fs/fs_disk_list.h"
#include "ic/fs/fs_volume_id.h"

#include <QString>

// Disk whose identity string equals identity, or null.
fs_disk *find_disk_by_uuid(const fs_disk_list *list, const QString &identity);
// How a stored volume identity leads to a volume of the list.
enum volume_lookup { VOLUME_FOUND, VOLUME_NOT_FOUND, VOLUME_AMBIGUOUS };
// The one volume whose identity is text: a partition of a fixed disk with
// that file-system UUID or an LVM volume of that name (image partitions are
// not searched), on the disk or in the group whose identity is disk (any,
// when disk is empty). Volumes that share the identity (a cloned file
// system) are told apart by their disk; when more than one still answers,
// or disk names both a fixed disk and a volume group (which of the two the
// identity meant is not stored), none is taken. *volume is null unless
// VOLUME_FOUND.
volume_lookup lookup_volume_by_volume_id(const fs_disk_list *list, const QString &text, const QString &disk,
                                         fs_volume **volume);
// The one volume whose identity is text, on any disk; null when none or
// more than one answers.
fs_volume *find_volume_by_volume_id(const fs_disk_list *list, const QString &text);

// The id's first field: disk identity, image name or group name.
QString disk_id_by_volume_id(const fs_volume_id *id);
// Disk identity (partition), image name (image partition) or group name.
QString disk_id_by_volume(const fs_volume *volume);
// File-system UUID (partitions, image partitions) or volume name (LVM).
QString part_id_by_volume(const fs_volume *volume);

// 1 + the partitions before the volume on its disk that have a file-system
// type (the number a person counts).
int actual_part_num_by_volume(const fs_volume *volume);
// "Раздел N (type)" or "Том name".
QString part_name_by_volume(const fs_volume *volume);
// "Раздел N" with the id's partition number, or "Том name".
QString part_name_by_volume_id(const fs_volume_id *id);

#endif
