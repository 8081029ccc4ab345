// Stable values: value records ("vk") of a hive file and their data, inline,
// in one cell or in big-data segments ("db").
#include "reg_internal.h"

#include "ic/util/le.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kInline = 0x80000000u;
constexpr uint32_t kSegment = 16344;     // data bytes per big-data segment
constexpr uint32_t kBigDataFrom = 16345; // sizes from here use big data (version 1.4 and later)

int format_error(const char *what)
{
    IC_LOG(ic_log_reg, IC_LOG_ERROR, "%s\n", what);
    return REG_ERR_FORMAT;
}

int value_delete(reg_value *)
{
    return REG_ERR_NOT_SUPPORTED;
}

int value_get_data_size(reg_value *value, uint32_t *size)
{
    if ((value->raw_size & kInline) && (value->raw_size & ~kInline) > 4)
        return format_error("inline value data larger than 4 bytes");
    *size = value->raw_size & ~kInline;
    return REG_OK;
}

int read_big_data(reg_value *value, uint32_t size, uint32_t offset, uint8_t *out, uint32_t length)
{
    reg_hive *hive = value->key->hive;
    std::vector<uint8_t> cell;
    uint32_t cell_size;
    int rc = reg_file_read_cell(hive, value->data_field, 8, cell, &cell_size);
    if (rc)
        return rc;
    if (cell_size < 8)
        return format_error("can't read cell: cell size is too small");
    if (std::memcmp(cell.data(), "db", 2))
        return format_error("invalid big data signature");
    const uint32_t count = ic_le16(cell.data() + 2), list = ic_le32(cell.data() + 4);
    if (uint64_t(count) * kSegment < size)
        return REG_ERR_INVAL;
    std::vector<uint8_t> segments;
    uint32_t list_size;
    rc = reg_file_read_cell(hive, list, count * 4u, segments, &list_size);
    if (rc)
        return rc;
    if (list_size < count * 4u)
        return format_error("can't read cell: cell size is too small");
    std::vector<uint8_t> piece;
    while (length) {
        const uint32_t index = offset / kSegment, within = offset % kSegment;
        uint32_t n = kSegment - within;
        if (n > length)
            n = length;
        uint32_t segment_size;
        rc = reg_file_read_cell(hive, ic_le32(segments.data() + 4 * index), within + n, piece, &segment_size);
        if (rc)
            return rc;
        if (segment_size < within + n)
            return format_error("can't read cell: cell size is too small");
        std::memcpy(out, piece.data() + within, n);
        out += n;
        offset += n;
        length -= n;
    }
    return REG_OK;
}

int value_get_data(reg_value *value, uint32_t offset, void *buffer, uint32_t length)
{
    uint32_t size;
    int rc = value_get_data_size(value, &size);
    if (rc)
        return rc;
    if (offset > size || length > size - offset)
        return REG_ERR_INVAL;
    if (!length)
        return REG_OK;
    auto *out = static_cast<uint8_t *>(buffer);
    if (value->raw_size & kInline) {
        uint8_t field[4];
        field[0] = uint8_t(value->data_field);
        field[1] = uint8_t(value->data_field >> 8);
        field[2] = uint8_t(value->data_field >> 16);
        field[3] = uint8_t(value->data_field >> 24);
        std::memcpy(out, field + offset, length);
        return REG_OK;
    }
    reg_hive *hive = value->key->hive;
    if (hive->major < 1 || (hive->major == 1 && hive->minor < 4) || size < kBigDataFrom) {
        std::vector<uint8_t> cell;
        uint32_t cell_size;
        rc = reg_file_read_cell(hive, value->data_field, offset + length, cell, &cell_size);
        if (rc)
            return rc;
        if (cell_size < size)
            return format_error("can't read cell: cell size is too small");
        std::memcpy(out, cell.data() + offset, length);
        return REG_OK;
    }
    return read_big_data(value, size, offset, out, length);
}

const reg_value_ops stable_value_ops = {reg_value_op_add_ref,  reg_value_op_release, reg_value_op_get_name,
                                        value_delete,          reg_value_op_get_type, value_get_data_size,
                                        value_get_data};

} // namespace

int reg_file_value_list(reg_key *key, std::vector<uint32_t> &cells)
{
    cells.clear();
    if (key->kind != KEY_KIND_STABLE || key->value_count == 0)
        return REG_OK;
    if (key->value_count > key->hive->bins_size / 4)
        return format_error("can't read cell: cell size is too small");
    std::vector<uint8_t> data;
    uint32_t size;
    int rc = reg_file_read_cell(key->hive, key->value_list, key->value_count * 4, data, &size);
    if (rc)
        return rc;
    if (size < key->value_count * 4)
        return format_error("can't read cell: cell size is too small");
    try {
        cells.resize(key->value_count);
    } catch (const std::bad_alloc &) {
        return REG_ERR_NOMEM;
    }
    for (uint32_t i = 0; i < key->value_count; ++i)
        cells[i] = ic_le32(data.data() + 4 * i);
    // A value listed twice is malformed (and would multiply every walk).
    try {
        std::vector<uint32_t> sorted = cells;
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
            return format_error("value listed twice");
    } catch (const std::bad_alloc &) {
        return REG_ERR_NOMEM;
    }
    return REG_OK;
}

int reg_stable_value_load(reg_key *key, uint32_t cell, reg_value **out)
{
    std::vector<uint8_t> data;
    uint32_t size;
    int rc = reg_file_read_cell(key->hive, cell, UINT32_MAX, data, &size);
    if (rc)
        return rc;
    if (size < 20)
        return format_error("can't read cell: cell size is too small");
    const uint8_t *d = data.data();
    if (std::memcmp(d, "vk", 2))
        return format_error("invalid value signature");
    const uint16_t name_bytes = ic_le16(d + 2), flags = ic_le16(d + 16);
    if (20u + name_bytes > size)
        return format_error("can't read cell: cell size is too small");
    const size_t units = (flags & 1) ? name_bytes : name_bytes / 2u;
    auto *name = static_cast<reg_char *>(std::malloc((units + 1) * sizeof(reg_char)));
    if (!name)
        return REG_ERR_NOMEM;
    if (flags & 1) {
        std::memcpy(name, d + 20, units);
        __reg_decompress_str(name, units);
    } else {
        for (size_t i = 0; i < units; ++i)
            name[i] = reg_char(d[20 + 2 * i] | d[21 + 2 * i] << 8);
    }
    name[units] = 0;
    size_t len = units;
    while (len && name[len - 1] == 0)
        --len;
    auto *v = new (std::nothrow) reg_value;
    if (!v) {
        std::free(name);
        return REG_ERR_NOMEM;
    }
    reg_value_init(v, &stable_value_ops, VALUE_KIND_STABLE, key);
    v->name = name;
    v->name_len = uint32_t(len);
    v->raw_size = ic_le32(d + 4);
    v->data_field = ic_le32(d + 8);
    v->type = ic_le32(d + 12);
    v->cell = cell;
    *out = v;
    return REG_OK;
}
