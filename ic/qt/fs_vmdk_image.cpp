// Registered virtual-disk images.
#include "ic/qt/fs_vmdk_image.h"

QDataStream &operator<<(QDataStream &out, const fs_vmdk_image &image)
{
    return out << image.path << image.name << image.host_id;
}

QDataStream &operator>>(QDataStream &in, fs_vmdk_image &image)
{
    return in >> image.path >> image.name >> image.host_id;
}

int find_vmdk_image_in_list(const QString &path, const QString &host_id, const QList<fs_vmdk_image> &list)
{
    for (const fs_vmdk_image &image : list)
        if (image.path == path && image.host_id == host_id)
            return 1;
    return 0;
}
