// Integrity-data blocks as read from the module. The first byte picks the
// reader, the rest is the block image: an uncompressed block's header, a
// compressed block (header, zlib data, framed parts) with either first
// part. A compressed block that decodes encodes again to parts that decode
// to the same bytes.
#include "ic/qt/ic_data_block.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 0x100000)
        return 0;
    const uint8_t mode = data[0];
    const uint8_t *image = data + 1;
    const auto length = uint32_t(size - 1);
    if (mode & 1) {
        (void)ic_block::small_block_valid(image, length);
        return 0;
    }
    // Blocks of a small module and of the default one.
    const uint32_t block_size = (mode & 2) ? 17408 : 512000;
    QByteArray first, second;
    if (!ic_block::decode_compressed(image, length, block_size, &first, &second))
        return 0;
    QList<fs_vmdk_image> images;
    exchange_dir dir;
    bool flag = false;
    const bool list_read = ic_block::read_image_list(first, &images);
    const bool strings_read = ic_block::read_reg_strings(first, &dir, &flag);
    if (list_read && ic_block::write_image_list(images) != first)
        std::abort();
    if (strings_read) {
        exchange_dir again;
        bool again_flag = false;
        if (!ic_block::read_reg_strings(ic_block::write_reg_strings(dir, flag), &again, &again_flag)
            || again.disk != dir.disk || again.part_id != dir.part_id || again.path != dir.path
            || again_flag != flag)
            std::abort();
    }
    const QByteArray encoded = ic_block::encode_compressed(first, second);
    QByteArray first2, second2;
    if (encoded.isEmpty()
        || !ic_block::decode_compressed(reinterpret_cast<const uint8_t *>(encoded.constData()),
                                        uint32_t(encoded.size()), 0xFFFFFFFFu, &first2, &second2)
        || first2 != first || second2 != second)
        std::abort();
    return 0;
}
