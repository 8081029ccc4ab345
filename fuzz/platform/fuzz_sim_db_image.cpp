// Database image validation as orva_write_db applies it. The input is taken
// as an image; a second pass gives it the right magic, size and CRC so that
// the record checks are reached.
#include "db_image.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace orva_sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    validate_image(data, size, nullptr);

    static const uint8_t version[4] = {0, 3, 0, 29};
    Bytes image = make_empty_image(version);
    // The input fills the slots from the first on; short inputs leave the
    // rest free.
    size_t n = size < ORVA_DB_IMAGE_SIZE - kDbHeaderSize ? size : ORVA_DB_IMAGE_SIZE - kDbHeaderSize;
    if (n)
        std::memcpy(image.data() + kDbHeaderSize, data, n);
    seal_image(image);
    std::string why;
    if (validate_image(image.data(), image.size(), &why)) {
        RecordTable table(image);
        table.count();
        table.highest_used();
        orva_tmid tmid;
        std::memcpy(&tmid, image.data() + kDbHeaderSize + 26, sizeof tmid);
        table.find_user_by_tmid(tmid);
        table.find_name("SUPERVISOR", 10);
    } else if (why.empty()) {
        __builtin_trap(); // every refusal names its reason
    }
    return 0;
}
