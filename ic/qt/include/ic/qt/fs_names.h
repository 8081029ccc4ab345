// Volumes by the names and identities the pages show.
#ifndef IC_QT_FS_NAMES_H
#define IC_QT_FS_NAMES_H

#include "ic/fs/fs_disk_list.h"
#include "ic/fs/fs_volume_id.h"

#include <QString>

// Disk whose identity string equals identity, or null.
fs_disk *find_disk_by_uuid(const fs_disk_list *list, const QString &identity);
// Partition of a fixed disk whose file-system UUID equals text, else the
// LVM volume of that name; image partitions are not searched. Null when
// none.
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
