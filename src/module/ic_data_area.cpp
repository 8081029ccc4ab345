#include "module/ic_data_area.h"

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

bool ic_data_area::small_block_fits(int which)
{
    if (which != HW_BLOCK && which != HD_BLOCK)
        return false;
    return getMaxIcDataSize() >= small_block_offset(which) + kSmallBlockSize;
}

int ic_data_area::save_hw_hd_block_to_device(const void *payload, uint32_t size, int which)
{
    if (size > kMaxSmallPayload || (size && !payload) || !small_block_fits(which))
        return -1;
    std::vector<uint8_t> block(kHeaderSize + size);
    ic_store_le(block.data(), kSmallBlockSize, 4);
    ic_store_le(block.data() + 4, size, 4);
    if (size)
        std::memcpy(block.data() + kHeaderSize, payload, size);
    const int code = orva_save_ic_data(m_handle, block.data(), small_block_offset(which),
                                       static_cast<uint32_t>(block.size()));
    return code == ORVA_OK ? 0 : -1;
}

std::unique_ptr<uint8_t[]> ic_data_area::read_hw_hd_block_from_device(uint32_t *size, int which)
{
    if (!size || !small_block_fits(which))
        return nullptr;
    const uint32_t offset = small_block_offset(which);
    uint8_t header[kHeaderSize];
    if (orva_load_ic_data(m_handle, header, offset, kHeaderSize) != ORVA_OK)
        return nullptr;
    const uint32_t block_size = ic_le32(header);
    const uint32_t length = ic_le32(header + 4);
    if (block_size != kSmallBlockSize || length == 0 || length > kMaxSmallPayload)
        return nullptr;
    std::unique_ptr<uint8_t[]> payload(new (std::nothrow) uint8_t[length]);
    if (!payload || orva_load_ic_data(m_handle, payload.get(), offset + kHeaderSize, length) != ORVA_OK)
        return nullptr;
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
