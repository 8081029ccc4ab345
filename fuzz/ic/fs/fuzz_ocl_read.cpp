// Object check list images: reading must fail cleanly or give a list whose
// image reads back to the same image.
#include <ic/fs/fs_ocl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
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
    fs_ocl *ocl = nullptr;
    const int rc = fs_ocl_read_from_mem(copy, uint32_t(size), &ocl);
    std::free(copy);
    if (rc != FS_OCL_OK) {
        require(ocl == nullptr);
        return 0;
    }
    uint8_t *image = nullptr;
    uint32_t image_size = 0;
    require(fs_ocl_write_to_mem(ocl, &image, &image_size) == FS_OCL_OK);
    require(image_size == size); // same objects, maybe in another order
    fs_ocl *again = nullptr;
    require(fs_ocl_read_from_mem(image, image_size, &again) == FS_OCL_OK);
    require(again->count == ocl->count);
    uint8_t *image2 = nullptr;
    uint32_t image2_size = 0;
    require(fs_ocl_write_to_mem(again, &image2, &image2_size) == FS_OCL_OK);
    require(image2_size == image_size && std::memcmp(image, image2, image_size) == 0);
    std::free(image);
    std::free(image2);
    fs_ocl_destroy(again);
    fs_ocl_destroy(ocl);
    return 0;
}
