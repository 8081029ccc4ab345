// Inventory records, their iteration and the partition type names.
#include "hd_internal.h"

#include <cstdlib>
#include <cstring>

hd_partition *hd_partition_alloc(void)
{
    return static_cast<hd_partition *>(std::calloc(1, sizeof(hd_partition)));
}

void hd_partition_destroy(hd_partition *partition)
{
    if (!partition)
        return;
    for (hd_partition *l = partition->first_logical; l;) {
        hd_partition *next = l->next;
        hd_partition_destroy(l);
        l = next;
    }
    std::free(partition);
}

void hd_partition_add_logical(hd_partition *extended, hd_partition *logical)
{
    logical->parent = extended;
    logical->next = nullptr;
    if (extended->last_logical)
        extended->last_logical->next = logical;
    else
        extended->first_logical = logical;
    extended->last_logical = logical;
    ++extended->logical_count;
}

hd_disk *hd_disk_alloc(const char *name, size_t len)
{
    auto *disk = static_cast<hd_disk *>(std::calloc(1, sizeof(hd_disk)));
    if (!disk)
        return nullptr;
    disk->name = static_cast<char *>(std::malloc(len + 1));
    if (!disk->name) {
        std::free(disk);
        return nullptr;
    }
    if (len)
        std::memcpy(disk->name, name, len);
    disk->name[len] = '\0';
    return disk;
}

void hd_disk_destroy(hd_disk *disk)
{
    if (!disk)
        return;
    for (hd_partition *p : disk->primary)
        hd_partition_destroy(p);
    std::free(disk->name);
    std::free(disk);
}

int hd_info_create(hd_info **info)
{
    if (!info)
        return IC_ERR_INVAL;
    auto *i = static_cast<hd_info *>(std::calloc(1, sizeof(hd_info)));
    if (!i)
        return IC_ERR_NOMEM;
    *info = i;
    return IC_OK;
}

void hd_info_destroy(hd_info *info)
{
    if (!info)
        return;
    for (hd_disk *d = info->first_disk; d;) {
        hd_disk *next = d->next;
        hd_disk_destroy(d);
        d = next;
    }
    std::free(info);
}

int hd_info_add_disk(hd_info *info, hd_disk *disk)
{
    if (!info || !disk)
        return IC_ERR_INVAL;
    disk->next = nullptr;
    if (info->last_disk)
        info->last_disk->next = disk;
    else
        info->first_disk = disk;
    info->last_disk = disk;
    ++info->disk_count;
    return IC_OK;
}

hd_disk *hd_info_get_first_disk(const hd_info *info)
{
    return info ? info->first_disk : nullptr;
}

hd_disk *hd_info_get_next_disk(const hd_info *info, const hd_disk *disk)
{
    return info && disk ? disk->next : nullptr;
}

namespace {

hd_partition *slot_from(const hd_disk *disk, uint32_t slot)
{
    for (; slot < HD_PRIMARY_SLOTS; ++slot)
        if (disk->primary[slot])
            return disk->primary[slot];
    return nullptr;
}

} // namespace

hd_partition *hd_info_get_first_partition(const hd_disk *disk)
{
    return disk ? slot_from(disk, 0) : nullptr;
}

hd_partition *hd_info_get_next_partition(const hd_disk *disk, const hd_partition *partition)
{
    return disk && partition ? slot_from(disk, partition->index + 1) : nullptr;
}

hd_partition *hd_info_get_first_logical_partition(const hd_partition *partition)
{
    return partition ? partition->first_logical : nullptr;
}

hd_partition *hd_info_get_next_logical_partition(const hd_partition *partition, const hd_partition *logical)
{
    return partition && logical ? logical->next : nullptr;
}

int hd_partition_type_is_extended(unsigned type)
{
    return type == 0x05 || type == 0x0F || type == 0x85;
}

const char *hd_partition_type_name(unsigned type)
{
    struct name {
        unsigned type;
        const char *text;
    };
    static const name names[] = {
        {0x00, "EMPTY"},         {0x01, "FAT12"},         {0x04, "FAT16_SM"},    {0x05, "DOS_EXT"},
        {0x06, "FAT16"},         {0x07, "NTFS"},          {0x0B, "FAT32"},       {0x0C, "FAT32_LBA"},
        {0x0E, "FAT16_LBA"},     {0x0F, "EXT_LBA"},       {0x10, "FLAG_HIDDEN"}, {0x11, "FAT12_H"},
        {0x12, "COMPAQ_DIAG"},   {0x14, "FAT16_SM_H"},    {0x15, "DOS_EXT_H"},   {0x16, "FAT16_H"},
        {0x17, "NTFS_H"},        {0x1B, "FAT32_H "},      {0x1C, "FAT32_LBA_H"}, {0x1E, "FAT16_LBA_H"},
        {0x27, "MSFT_RECOVERY"}, {0x41, "PREP"},          {0x42, "LDM"},         {0x82, "LINUX_SWAP"},
        {0x83, "LINUX"},         {0x85, "LINUX_EXT"},     {0x8E, "LINUX_LVM"},   {0xAF, "HFS"},
        {0xBF, "SUN_UFS"},       {0xDE, "DELL_DIAG"},     {0xEE, "GPT"},         {0xF0, "PALO"},
        {0xFD, "LINUX_RAID"},    {0xFE, "LINUX_LVM_OLD"}, {0xAA55, "DOS_MAGIC"},
    };
    for (const name &n : names)
        if (n.type == type)
            return n.text;
    return "UNKNOWN";
}
