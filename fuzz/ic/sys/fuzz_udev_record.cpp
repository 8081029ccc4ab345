// Fuzz target: udev database records and uevent files read under a system root.
#include "udev_record.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view text(reinterpret_cast<const char *>(data), size);
    ic_sys::db_record rec = ic_sys::parse_db_record(text);
    for (const auto &p : rec.properties)
        if (p.first.empty() || p.first.size() + p.second.size() >= size + 1)
            __builtin_trap();
    ic_sys::property_list uevent = ic_sys::parse_uevent(text);
    for (const auto &p : uevent)
        if (p.first.empty() || p.first.find('\n') != std::string::npos)
            __builtin_trap();
    return 0;
}
