// Check list images: reading must fail cleanly or give a list that writes
// and reads back without loss.
#include <ic/fs/fs_icl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

// Writes the list and reads the image back; the image is handed over.
fs_icl *cycle(const fs_icl *icl, uint8_t **image, uint32_t *size)
{
    require(fs_icl_write_to_mem(icl, image, size) == FS_OCL_OK);
    fs_icl *back = nullptr;
    require(fs_icl_read_from_mem(*image, *size, &back) == FS_OCL_OK);
    require(back->count == icl->count);
    return back;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    // A copy of exactly the input, so that reading past it is caught.
    uint8_t *copy = static_cast<uint8_t *>(std::malloc(size ? size : 1));
    if (!copy)
        return 0;
    if (size)
        std::memcpy(copy, data, size);
    fs_icl *icl = nullptr;
    const int rc = fs_icl_read_from_mem(copy, uint32_t(size), &icl);
    if (rc != FS_OCL_OK) {
        require(icl == nullptr);
        std::free(copy);
        return 0;
    }
    // Every cycle reverses the volume order; objects come back in path
    // order.  Two cycles give the same image again.
    uint8_t *image1 = nullptr, *image2 = nullptr, *image3 = nullptr;
    uint32_t size1 = 0, size2 = 0, size3 = 0;
    fs_icl *once = cycle(icl, &image1, &size1);
    require(size1 == size);
    fs_icl *twice = cycle(once, &image2, &size2);
    require(size2 == size);
    require(fs_icl_write_to_mem(twice, &image3, &size3) == FS_OCL_OK);
    require(size3 == size1 && std::memcmp(image1, image3, size1) == 0);
    std::free(image1);
    std::free(image2);
    std::free(image3);
    fs_icl_destroy(twice);
    fs_icl_destroy(once);
    fs_icl_destroy(icl);
    std::free(copy);
    return 0;
}
