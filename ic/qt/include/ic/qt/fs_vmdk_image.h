// A registered virtual-disk image: where its file lies and its label.
#ifndef IC_QT_FS_VMDK_IMAGE_H
#define IC_QT_FS_VMDK_IMAGE_H

#include <QDataStream>
#include <QList>
#include <QMetaType>
#include <QString>

struct fs_vmdk_image {
    QString path;    // inside the hosting volume, starting with "/"
    QString name;    // the label given by the administrator
    QString host_id; // hosting volume: file-system UUID, or LVM volume name
};

// Data-stream form: the three strings in that order (a list: a 32-bit
// count, then the items).
QDataStream &operator<<(QDataStream &out, const fs_vmdk_image &image);
QDataStream &operator>>(QDataStream &in, fs_vmdk_image &image);

// 1 when an entry has both this path and this hosting-volume identity.
int find_vmdk_image_in_list(const QString &path, const QString &host_id, const QList<fs_vmdk_image> &list);

Q_DECLARE_METATYPE(fs_vmdk_image)

#endif
