// The module's integrity-data area: its size from the device state, the block
// layout, and the two uncompressed blocks (hardware inventory, partition
// tables). No Qt and no message boxes: the boot check, the pages and the
// command line share it.
//
// Layout: hardware at 0 and disks at 15360, 15360 bytes each; the registry
// and files blocks of RegBlockSize = (MaxIcDataSize - 30720) / 2 bytes follow
// from 30720. An uncompressed block is a u32 block size (15360), a u32
// payload length L and L payload bytes, integers little-endian.
#ifndef ORVA_MODULE_IC_DATA_AREA_H
#define ORVA_MODULE_IC_DATA_AREA_H

#include <orva.h>

#include <cstdint>
#include <memory>

struct hw_info;

class ic_data_area {
public:
    // read_hw_hd_block_from_device and save_hw_hd_block_to_device.
    enum block { HW_BLOCK = 0, HD_BLOCK = 1 };

    static constexpr uint32_t kSmallBlockSize = 15360;
    static constexpr uint32_t kHeaderSize = 8;
    static constexpr uint32_t kMaxSmallPayload = kSmallBlockSize - kHeaderSize;
    static constexpr uint32_t kCompressedBase = 2 * kSmallBlockSize; // 30720

    explicit ic_data_area(orva_handle_t handle);

    // Device-state accessors. The state is fetched on first use and kept;
    // an unreadable state gives an area of 0 bytes (every block refused).
    uint32_t getMaxIcDataSize();
    static uint32_t getHwBlockSize() { return kSmallBlockSize; }
    static uint32_t getHdBlockSize() { return kSmallBlockSize; }
    // 0 when the area does not reach past the two small blocks.
    uint32_t getRegBlockSize();
    // Offset of a small block (HW_BLOCK or HD_BLOCK).
    static uint32_t small_block_offset(int which) { return which == HD_BLOCK ? kSmallBlockSize : 0; }

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

private:
    // The small block lies inside the area.
    bool small_block_fits(int which);

    orva_handle_t m_handle;
    bool m_state_read = false;
    orva_device_state m_state{};
};

#endif
