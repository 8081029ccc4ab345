// The module's integrity-data area: its size from the device state, the four
// blocks and the records they hold. All I/O goes through one module handle.
//
// Layout: hardware at 0 and disks at 15360, 15360 bytes each, uncompressed;
// registry at 30720 and files at 30720 + RegBlockSize, RegBlockSize =
// (MaxIcDataSize - 30720) / 2 bytes each, zlib-compressed. Byte forms in
// ic_data_block.h. A block whose header does not fit it, or whose data does
// not decode, reads as nothing stored; a record too long for its block is
// refused before anything is written.
#ifndef IC_QT_IC_DATA_AREA_H
#define IC_QT_IC_DATA_AREA_H

#include "ic/qt/exchange_dir.h"
#include "ic/qt/ic_data_block.h"

#include <orva.h>

#include <QByteArray>

#include <cstdint>
#include <memory>

struct fs_disk_list;
struct fs_icl;
struct hd_info;
struct hw_info;
struct rcl;

class ic_data_area {
public:
    // Block numbers (read_hw_hd_block_from_device, the raw copies).
    enum block { HW_BLOCK = 0, HD_BLOCK = 1, REG_BLOCK = 2, FS_BLOCK = 3 };

    static constexpr uint32_t kSmallBlockSize = ic_block::kSmallBlockSize;
    static constexpr uint32_t kHeaderSize = ic_block::kHeaderSize;
    static constexpr uint32_t kMaxSmallPayload = ic_block::kMaxSmallPayload;
    static constexpr uint32_t kCompressedBase = 2 * kSmallBlockSize; // 30720
    // Largest stored files block (Z + 8), whatever the area.
    static constexpr uint32_t kMaxFsBlock = 511999;
    // save_fs_info_to_device and save_reg_info_to_device: the block would
    // not fit; nothing was written. Kept apart from the library's codes
    // (75xx) and from -1.
    static constexpr int kBlockTooLarge = 1;

    explicit ic_data_area(orva_handle_t handle);

    orva_handle_t handle() const { return m_handle; }

    // Device-state accessors. The state is fetched on first use and kept;
    // an unreadable state gives an area of 0 bytes (every block refused).
    uint32_t getMaxIcDataSize();
    static uint32_t getHwBlockSize() { return kSmallBlockSize; }
    static uint32_t getHdBlockSize() { return kSmallBlockSize; }
    // 0 when the area does not reach past the two small blocks.
    uint32_t getRegBlockSize();
    // Offset of a small block (HW_BLOCK or HD_BLOCK).
    static uint32_t small_block_offset(int which) { return which == HD_BLOCK ? kSmallBlockSize : 0; }
    // Offset and size of any block; false for an unknown block or one the
    // area does not hold.
    bool block_place(int which, uint32_t *offset, uint32_t *size);

    // The hardware inventory's image; a null inventory writes the empty
    // block (L = 4, four zero bytes). 0, or -1 (image not made, payload too
    // long for the block, write failed).
    int save_hw_info_to_device(const hw_info *info);
    // -1 when the block cannot be read or parsed (nothing stored).
    int read_hw_info_from_device(hw_info **info);

    // The payload of a small block in a new buffer, its length in *size;
    // null when the block cannot be read or its header does not fit the
    // block (size field not 15360, L of 0 or more than 15352).
    std::unique_ptr<uint8_t[]> read_hw_hd_block_from_device(uint32_t *size, int which);
    // Writes header and payload of a small block in one write. -1 for a
    // payload longer than 15352 bytes (nothing is written), an unknown block
    // or an area too small, else 0 or -1 for the library's failure.
    int save_hw_hd_block_to_device(const void *payload, uint32_t size, int which);

    // The disks block: the partition-table inventory's image. 0, or -1
    // (no inventory or image, payload too long for the block, write failed).
    int save_hd_info_to_device(const hd_info *info);
    // -1 when the block cannot be read or parsed (nothing stored).
    int read_hd_info_from_device(hd_info **info);

    // The files block: the image list and the file check list. 0;
    // kBlockTooLarge when Z + 8 exceeds 511999 or RegBlockSize (nothing
    // written); -1 when the list has no image or compression fails; else the
    // library's code of the write.
    int save_fs_info_to_device(const fs_icl *icl, const QList<fs_vmdk_image> &images);
    // The check list's image in a new buffer (its length in *size) and the
    // image list; null when nothing readable is stored (images untouched).
    std::unique_ptr<uint8_t[]> read_fs_block_from_device(uint32_t *size, QList<fs_vmdk_image> *images);
    // The block parsed: 0, or -1 when nothing readable is stored or the
    // check list does not parse (images untouched then).
    int read_fs_info_from_device(fs_icl **icl, QList<fs_vmdk_image> *images);

    // The registry block: the Windows directory, the registry check list
    // and the registry flag. 0; kBlockTooLarge when Z + 8 exceeds
    // RegBlockSize; -1 when the list has no image ("error: can't write rcl
    // to memory" on standard error) or compression fails; else the
    // library's code of the write.
    int save_reg_info_to_device(const exchange_dir &dir, const rcl *list, bool flag);
    // -1 when nothing readable is stored. Otherwise 0 with the list, the
    // directory and the flag; the directory's volume is looked up by its
    // identity and disk in disks (null when disks is null or has not
    // exactly one such volume: lookup_volume_by_volume_id).
    int read_reg_info_from_device(rcl **list, exchange_dir *dir, bool *flag, const fs_disk_list *disks = nullptr);

    // Whether anything was ever stored in the block: false when the area
    // does not hold it or its header is all zero bytes (never written);
    // true otherwise, also when the header cannot be read. A block that is
    // written but does not read is damaged, not absent.
    bool block_written(int which);

    // A block as stored, header included (export and import): hardware and
    // disks L + 8 bytes, registry and files Z + 8. Null when the block holds
    // nothing readable.
    std::unique_ptr<uint8_t[]> read_raw_icl_block_from_device(uint32_t *size, int which);
    // Stores such a copy. -1 (nothing written) unless it is a whole block
    // of that kind that fits this area: a header that fits, exactly header
    // and data long, compressed data that inflates into two parts.
    int save_raw_icl_block_to_device(const void *buffer, uint32_t size, int which);

    // The content of a compressed block split into its two parts; false
    // when nothing readable is stored.
    bool read_compressed_block(int which, QByteArray *first, QByteArray *second);
    // Compresses and writes the two parts: 0, kBlockTooLarge (nothing
    // written) when Z + 8 exceeds `limit` or the block, -1 when
    // compression fails, else the library's code.
    int save_compressed_block(int which, const QByteArray &first, const QByteArray &second, uint32_t limit);

private:
    orva_handle_t m_handle;
    bool m_state_read = false;
    orva_device_state m_state{};
};

#endif
