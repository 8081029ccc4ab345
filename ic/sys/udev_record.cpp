// Text records read under a system root: udev database entries and uevent files.
#include "udev_record.h"

namespace ic_sys {
namespace {

template <typename Fn>
void for_each_line(std::string_view text, Fn fn)
{
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        fn(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

bool split_pair(std::string_view line, property_list &out)
{
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0)
        return false;
    out.emplace_back(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
    return true;
}

} // namespace

db_record parse_db_record(std::string_view text)
{
    db_record rec;
    for_each_line(text, [&rec](std::string_view line) {
        if (line.size() < 2 || line[1] != ':')
            return;
        std::string_view value = line.substr(2);
        switch (line[0]) {
        case 'E':
            split_pair(value, rec.properties);
            break;
        case 'N':
            rec.node.assign(value);
            break;
        case 'S':
            if (!value.empty())
                rec.links.emplace_back(value);
            break;
        case 'I':
            rec.initialized_usec.assign(value);
            break;
        default:
            break;
        }
    });
    return rec;
}

property_list parse_uevent(std::string_view text)
{
    property_list props;
    for_each_line(text, [&props](std::string_view line) { split_pair(line, props); });
    return props;
}

} // namespace ic_sys
