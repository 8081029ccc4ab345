// A place on the computer's disks: the Windows directory whose registry is
// checked, or the export/import directory.
#ifndef IC_QT_EXCHANGE_DIR_H
#define IC_QT_EXCHANGE_DIR_H

#include <QMetaType>
#include <QString>

struct fs_volume;

struct exchange_dir {
    QString disk;    // disk identity
    QString part_id; // file-system UUID, or LVM volume name
    QString path;    // inside the volume
    // The volume of that identity in the current disk list; not stored,
    // looked up when the registry block is read; null when absent.
    fs_volume *volume = nullptr;
};

Q_DECLARE_METATYPE(exchange_dir)

#endif
