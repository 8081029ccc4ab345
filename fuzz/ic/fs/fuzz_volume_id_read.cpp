// Fuzz target: volume identities read from hostile bytes. Every id read
// writes back to exactly the bytes it came from, and compares equal to its
// copy; a failed read leaves the cursor where it was.
#include <ic/fs/fs_disk_list.h>
#include <ic/fs/fs_volume_id.h>
#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    rbuf rb;
    rb_init(&rb, data, uint32_t(size > UINT32_MAX ? UINT32_MAX : size));
    for (;;) {
        const uint32_t start = rb.pos;
        fs_volume_id *id = nullptr;
        if (_fs_read_volume_id_from_rbuf(&rb, &id) != 0) {
            if (rb.pos != start || id)
                __builtin_trap();
            break;
        }
        wbuf wb;
        if (wb_init(&wb, 0) != 0) {
            fs_volume_id_destroy(id);
            break;
        }
        if (_fs_write_volume_id_to_rbuf(id, &wb) == 0
            && (wb.length != rb.pos - start || std::memcmp(wb.data, data + start, wb.length) != 0))
            __builtin_trap();
        wb_finalize(&wb, 1);
        fs_volume_id *copy = nullptr;
        if (fs_volume_id_copy(id, &copy) == 0) {
            if (fs_volume_id_compare(id, copy) != 0 || fs_volume_id_kind(id) != fs_volume_id_kind(copy))
                __builtin_trap();
            fs_volume_id_destroy(copy);
        }
        if (fs_disk_list_find_volume(nullptr, id))
            __builtin_trap();
        fs_volume_id_destroy(id);
    }
    return 0;
}
