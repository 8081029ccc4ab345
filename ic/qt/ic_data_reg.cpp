// The registry block: the Windows directory, the registry flag and the
// registry check list.
#include "ic/qt/fs_names.h"
#include "ic/qt/ic_data_area.h"

#include <ic/rcl/rcl.h>

#include <cstdio>
#include <cstdlib>

int ic_data_area::save_reg_info_to_device(const exchange_dir &dir, const rcl *list, bool flag)
{
    uint8_t *image = nullptr;
    uint32_t size = 0;
    if (!list || rcl_write_to_mem(list, &image, &size) != REG_OK) {
        std::fputs("error: can't write rcl to memory\n", stderr);
        return -1;
    }
    const QByteArray second(reinterpret_cast<const char *>(image), qsizetype(size));
    std::free(image);
    return save_compressed_block(REG_BLOCK, ic_block::write_reg_strings(dir, flag), second, getRegBlockSize());
}

int ic_data_area::read_reg_info_from_device(rcl **list, exchange_dir *dir, bool *flag, const fs_disk_list *disks)
{
    if (!list || !dir || !flag)
        return -1;
    QByteArray first, second;
    exchange_dir stored;
    bool stored_flag = false;
    rcl *read = nullptr;
    if (!read_compressed_block(REG_BLOCK, &first, &second)
        || !ic_block::read_reg_strings(first, &stored, &stored_flag)
        || rcl_read_from_mem(reinterpret_cast<const uint8_t *>(second.constData()), uint32_t(second.size()), &read)
               != REG_OK)
        return -1;
    stored.volume = nullptr;
    if (disks)
        lookup_volume_by_volume_id(disks, stored.part_id, stored.disk, &stored.volume);
    *list = read;
    *dir = stored;
    *flag = stored_flag;
    return 0;
}
