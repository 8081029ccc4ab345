// The module's integrity-data area: device state, block places, the small
// blocks and the raw copies.
#include "ic/qt/ic_data_area.h"

#include <ic/hw/hw_info.h>
#include <ic/util/le.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct free_deleter {
    void operator()(uint8_t *p) const { std::free(p); }
};

} // namespace

ic_data_area::ic_data_area(orva_handle_t handle)
    : m_handle(handle)
{
}

uint32_t ic_data_area::getMaxIcDataSize()
{
    if (!m_state_read) {
        orva_device_state state{};
        if (orva_get_device_state(m_handle, &state) != ORVA_OK)
            return 0;
        m_state = state;
        m_state_read = true;
    }
    return m_state.max_ic_data_size;
}

uint32_t ic_data_area::getRegBlockSize()
{
    const uint32_t max = getMaxIcDataSize();
    return max > kCompressedBase ? (max - kCompressedBase) / 2 : 0;
}

bool ic_data_area::block_place(int which, uint32_t *offset, uint32_t *size)
{
    uint32_t at = 0;
    uint32_t length = 0;
    switch (which) {
    case HW_BLOCK:
    case HD_BLOCK:
        at = small_block_offset(which);
        length = kSmallBlockSize;
        if (getMaxIcDataSize() < at + length)
            return false;
        break;
    case REG_BLOCK:
    case FS_BLOCK:
        length = getRegBlockSize();
        at = kCompressedBase + (which == FS_BLOCK ? length : 0);
        // Room for a header and some data at least.
        if (length <= kHeaderSize)
            return false;
        break;
    default:
        return false;
    }
    if (offset)
        *offset = at;
    if (size)
        *size = length;
    return true;
}

int ic_data_area::save_hw_hd_block_to_device(const void *payload, uint32_t size, int which)
{
    uint32_t offset = 0;
    if (size > kMaxSmallPayload || (size && !payload) || (which != HW_BLOCK && which != HD_BLOCK)
        || !block_place(which, &offset, nullptr))
        return -1;
    std::vector<uint8_t> block(kHeaderSize + size);
    ic_store_le(block.data(), kSmallBlockSize, 4);
    ic_store_le(block.data() + 4, size, 4);
    if (size)
        std::memcpy(block.data() + kHeaderSize, payload, size);
    const int code = orva_save_ic_data(m_handle, block.data(), offset, static_cast<uint32_t>(block.size()));
    return code == ORVA_OK ? 0 : -1;
}

std::unique_ptr<uint8_t[]> ic_data_area::read_hw_hd_block_from_device(uint32_t *size, int which)
{
    uint32_t block = 0;
    std::unique_ptr<uint8_t[]> raw;
    if (which != HW_BLOCK && which != HD_BLOCK)
        return nullptr;
    raw = read_raw_icl_block_from_device(&block, which);
    if (!raw || !size)
        return nullptr;
    const uint32_t length = block - kHeaderSize;
    std::unique_ptr<uint8_t[]> payload(new (std::nothrow) uint8_t[length]);
    if (!payload)
        return nullptr;
    std::memcpy(payload.get(), raw.get() + kHeaderSize, length);
    *size = length;
    return payload;
}

int ic_data_area::save_hw_info_to_device(const hw_info *info)
{
    if (!info) {
        const uint8_t empty[4] = {};
        return save_hw_hd_block_to_device(empty, sizeof empty, HW_BLOCK);
    }
    uint8_t *raw = nullptr;
    uint32_t size = 0;
    if (hw_info_write_to_mem(info, &raw, &size) != HW_OK)
        return -1;
    std::unique_ptr<uint8_t, free_deleter> image(raw);
    return save_hw_hd_block_to_device(image.get(), size, HW_BLOCK);
}

int ic_data_area::read_hw_info_from_device(hw_info **info)
{
    if (!info)
        return -1;
    uint32_t size = 0;
    const std::unique_ptr<uint8_t[]> payload = read_hw_hd_block_from_device(&size, HW_BLOCK);
    if (!payload)
        return -1;
    return hw_info_read_from_mem(payload.get(), size, info) == HW_OK ? 0 : -1;
}

std::unique_ptr<uint8_t[]> ic_data_area::read_raw_icl_block_from_device(uint32_t *size, int which)
{
    uint32_t offset = 0;
    uint32_t block_size = 0;
    if (!size || !block_place(which, &offset, &block_size))
        return nullptr;
    uint8_t header[kHeaderSize];
    if (orva_load_ic_data(m_handle, header, offset, kHeaderSize) != ORVA_OK)
        return nullptr;
    const bool small = which == HW_BLOCK || which == HD_BLOCK;
    const uint32_t data = small ? ic_block::small_payload_length(header)
                                : ic_block::compressed_length(header, block_size);
    if (!data)
        return nullptr;
    const uint32_t total = kHeaderSize + data;
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[total]);
    if (!copy)
        return nullptr;
    std::memcpy(copy.get(), header, kHeaderSize);
    if (orva_load_ic_data(m_handle, copy.get() + kHeaderSize, offset + kHeaderSize, data) != ORVA_OK)
        return nullptr;
    *size = total;
    return copy;
}

bool ic_data_area::block_written(int which)
{
    uint32_t offset = 0;
    if (!block_place(which, &offset, nullptr))
        return false;
    uint8_t header[kHeaderSize];
    if (orva_load_ic_data(m_handle, header, offset, kHeaderSize) != ORVA_OK)
        return true;
    for (uint8_t b : header)
        if (b != 0)
            return true;
    return false;
}

int ic_data_area::save_raw_icl_block_to_device(const void *buffer, uint32_t size, int which)
{
    uint32_t offset = 0;
    uint32_t block_size = 0;
    if (!buffer || !block_place(which, &offset, &block_size))
        return -1;
    const auto *image = static_cast<const uint8_t *>(buffer);
    const bool whole = which == HW_BLOCK || which == HD_BLOCK
                           ? ic_block::small_block_valid(image, size)
                           : ic_block::compressed_block_valid(image, size, block_size);
    if (!whole)
        return -1;
    return orva_save_ic_data(m_handle, image, offset, size) == ORVA_OK ? 0 : -1;
}

bool ic_data_area::read_compressed_block(int which, QByteArray *first, QByteArray *second)
{
    if (which != REG_BLOCK && which != FS_BLOCK)
        return false;
    uint32_t block_size = 0;
    uint32_t size = 0;
    const std::unique_ptr<uint8_t[]> raw = read_raw_icl_block_from_device(&size, which);
    return raw && block_place(which, nullptr, &block_size)
           && ic_block::decode_compressed(raw.get(), size, block_size, first, second);
}

int ic_data_area::save_compressed_block(int which, const QByteArray &first, const QByteArray &second,
                                        uint32_t limit)
{
    uint32_t offset = 0;
    uint32_t block_size = 0;
    if ((which != REG_BLOCK && which != FS_BLOCK) || !block_place(which, &offset, &block_size))
        return -1;
    const QByteArray block = ic_block::encode_compressed(first, second);
    if (block.isEmpty())
        return -1;
    if (uint64_t(block.size()) > limit || uint64_t(block.size()) > block_size)
        return kBlockTooLarge;
    return orva_save_ic_data(m_handle, block.constData(), offset, uint32_t(block.size()));
}
