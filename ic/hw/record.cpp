// Record allocation and the small helpers shared by the units.
#include "hw_internal.h"

#include <cstdlib>
#include <cstring>

hw_str hw_str_of(const char *s, int len)
{
    if (!s)
        return {"", 0};
    return {s, len < 0 ? std::strlen(s) : size_t(len)};
}

void *hw_alloc_record(size_t record_size, const hw_str *strs, char **dst, size_t n)
{
    size_t total = record_size;
    for (size_t i = 0; i < n; ++i) {
        if (strs[i].len > SIZE_MAX - total - 1)
            return nullptr;
        total += strs[i].len + 1;
    }
    char *block = static_cast<char *>(std::malloc(total));
    if (!block)
        return nullptr;
    std::memset(block, 0, record_size);
    char *p = block + record_size;
    for (size_t i = 0; i < n; ++i) {
        if (strs[i].len)
            std::memcpy(p, strs[i].ptr, strs[i].len);
        p[strs[i].len] = '\0';
        dst[i] = p;
        p += strs[i].len + 1;
    }
    return block;
}

const char *hw_na_text(hw_str value)
{
    return value.len && value.ptr[0] ? nullptr : "n/a";
}

const char *hw_class_name(uint32_t type)
{
    static const char *const names[HW_CLASS_COUNT] = {"CPU", "BIOS", "MEMORY", "MEDIA",
                                                      "PCI", "USB", "MONITOR"};
    return type < HW_CLASS_COUNT ? names[type] : nullptr;
}
