// The disks block (partition-table inventory) and the files block (image
// list and file check list).
#include "ic/qt/ic_data_area.h"

#include <ic/fs/fs_icl.h>
#include <ic/hd/hd_info.h>

#include <cstdlib>
#include <cstring>
#include <new>

int ic_data_area::save_hd_info_to_device(const hd_info *info)
{
    uint8_t *image = nullptr;
    uint32_t size = 0;
    if (!info || hd_info_write_to_mem(info, &image, &size) != 0)
        return -1;
    const int result = save_hw_hd_block_to_device(image, size, HD_BLOCK);
    std::free(image);
    return result;
}

int ic_data_area::read_hd_info_from_device(hd_info **info)
{
    if (!info)
        return -1;
    uint32_t size = 0;
    const std::unique_ptr<uint8_t[]> payload = read_hw_hd_block_from_device(&size, HD_BLOCK);
    if (!payload)
        return -1;
    return hd_info_read_from_mem(payload.get(), size, info) == 0 ? 0 : -1;
}

int ic_data_area::save_fs_info_to_device(const fs_icl *icl, const QList<fs_vmdk_image> &images)
{
    uint8_t *image = nullptr;
    uint32_t size = 0;
    if (!icl || fs_icl_write_to_mem(icl, &image, &size) != 0)
        return -1;
    const QByteArray second(reinterpret_cast<const char *>(image), qsizetype(size));
    std::free(image);
    // 511999 at most, and never past the block on a small area.
    return save_compressed_block(FS_BLOCK, ic_block::write_image_list(images), second, kMaxFsBlock);
}

std::unique_ptr<uint8_t[]> ic_data_area::read_fs_block_from_device(uint32_t *size, QList<fs_vmdk_image> *images)
{
    QByteArray first, second;
    QList<fs_vmdk_image> list;
    if (!size || !read_compressed_block(FS_BLOCK, &first, &second) || !ic_block::read_image_list(first, &list))
        return nullptr;
    // One byte at least, so an empty image still gives a buffer.
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size_t(second.size()) + 1]);
    if (!copy)
        return nullptr;
    std::memcpy(copy.get(), second.constData(), size_t(second.size()));
    *size = uint32_t(second.size());
    if (images)
        *images = list;
    return copy;
}

int ic_data_area::read_fs_info_from_device(fs_icl **icl, QList<fs_vmdk_image> *images)
{
    if (!icl)
        return -1;
    uint32_t size = 0;
    QList<fs_vmdk_image> list;
    const std::unique_ptr<uint8_t[]> image = read_fs_block_from_device(&size, &list);
    if (!image || fs_icl_read_from_mem(image.get(), size, icl) != 0)
        return -1;
    if (images)
        *images = list;
    return 0;
}
